// Planar buffers for engine calls in the unit tests, with pointers that
// can start at any frame (to feed the same audio in smaller blocks).
#pragma once

#include <vector>

namespace unittest {

struct Planes {
    Planes(int channels, int frames, float fill = 0.0f)
        : data(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(frames), fill)) {}
    std::vector<const float*> in(int from) const {
        std::vector<const float*> p;
        for (const auto& v : data) p.push_back(v.data() + from);
        return p;
    }
    std::vector<float*> out(int from) {
        std::vector<float*> p;
        for (auto& v : data) p.push_back(v.data() + from);
        return p;
    }
    std::vector<std::vector<float>> data;
};

}  // namespace unittest
