// Audio buffers as a host hands them to an effect: one array of channel
// pointers per direction, each channel its own block of samples.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace vsthost {

template <typename Sample>
class ChannelBuffers {
public:
    ChannelBuffers(int channels, int frames, Sample fill = Sample(0))
        : frames_(frames), data_(static_cast<size_t>(channels), std::vector<Sample>(static_cast<size_t>(frames), fill)) {
        for (auto& channel : data_) pointers_.push_back(channel.data());
    }
    // A copy owns copies of the samples, and its pointers point at them.
    ChannelBuffers(const ChannelBuffers& other) : frames_(other.frames_), data_(other.data_) {
        for (auto& channel : data_) pointers_.push_back(channel.data());
    }
    ChannelBuffers& operator=(const ChannelBuffers& other) {
        if (this != &other) {
            ChannelBuffers copy(other);
            std::swap(frames_, copy.frames_);
            std::swap(data_, copy.data_);
            std::swap(pointers_, copy.pointers_);
        }
        return *this;
    }
    Sample** pointers() { return pointers_.data(); }
    Sample* operator[](int channel) { return data_[static_cast<size_t>(channel)].data(); }
    const Sample* operator[](int channel) const { return data_[static_cast<size_t>(channel)].data(); }
    int channels() const { return static_cast<int>(data_.size()); }
    int frames() const { return frames_; }
    // Points channel i of the pointer array somewhere else (in-place tests).
    void alias(int channel, Sample* memory) { pointers_[static_cast<size_t>(channel)] = memory; }

private:
    int frames_;
    std::vector<std::vector<Sample>> data_;
    std::vector<Sample*> pointers_;
};

using AudioBuffers = ChannelBuffers<float>;

}  // namespace vsthost
