// The output pipeline: every task gets every block once, in render order,
// whatever the number of workers and however unevenly the tasks cost; a
// failure stops the render with its reason; the ring stays small.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "output_pipeline.h"

namespace {

constexpr int kChannels = 6;
constexpr size_t kFrames = 64;

// Records what it is given: each block's frame count and a sum of its
// samples, in the order given. Some tasks spin for a while on every block.
class Recorder : public tools::OutputTask {
public:
    Recorder(int left, int right, int spin, int failAt = -1) : OutputTask(left, right), spin_(spin), failAt_(failAt) {}
    bool consume(const float* l, const float* r, size_t n, std::string& error) override {
        if (inside_.exchange(true)) overlapped = true;
        if (static_cast<int>(blocks.size()) == failAt_) {
            error = "block " + std::to_string(failAt_) + " refused";
            inside_ = false;
            return false;
        }
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) sum += l[i] + 2.0 * r[i];
        volatile uint64_t sink = 0;
        for (int k = 0; k < spin_; ++k) sink = sink + static_cast<uint64_t>(k);
        blocks.push_back({n, sum});
        inside_ = false;
        return true;
    }
    bool finish(std::string&) override {
        ++finished;
        return true;
    }
    struct Block {
        size_t frames;
        double sum;
        bool operator==(const Block& o) const { return frames == o.frames && sum == o.sum; }
    };
    std::vector<Block> blocks;
    int finished = 0;
    bool overlapped = false;

private:
    int spin_, failAt_;
    std::atomic<bool> inside_{false};
};

// Block b's channel c holds b * 1000 + c * 100 + i at frame i; the last
// block is short.
std::vector<Recorder::Block> expected(int left, int right, int blocks) {
    std::vector<Recorder::Block> out;
    for (int b = 0; b < blocks; ++b) {
        const size_t n = b + 1 == blocks ? kFrames / 2 : kFrames;
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i)
            sum += (b * 1000.0 + left * 100.0 + static_cast<double>(i)) + 2.0 * (b * 1000.0 + right * 100.0 + static_cast<double>(i));
        out.push_back({n, sum});
    }
    return out;
}

bool feed(tools::OutputPipeline& pipeline, int blocks) {
    for (int b = 0; b < blocks; ++b) {
        float** slot = pipeline.acquire();
        if (slot == nullptr) return false;
        const size_t n = b + 1 == blocks ? kFrames / 2 : kFrames;
        for (int c = 0; c < kChannels; ++c)
            for (size_t i = 0; i < n; ++i) slot[c][i] = static_cast<float>(b * 1000 + c * 100 + static_cast<int>(i));
        pipeline.publish(n);
    }
    return true;
}

TEST(OutputPipeline, EveryTaskGetsEveryBlockOnceInOrder) {
    constexpr int kBlocks = 200;
    for (int jobs : {1, 2, 3, 5, 64}) {
        // Uneven costs, and two tasks reading the same channels.
        std::vector<std::unique_ptr<Recorder>> tasks;
        for (const auto& [left, right, spin] : {std::tuple{0, 1, 20000}, {2, 3, 0}, {4, 5, 5000}, {1, 0, 0}, {0, 1, 0}})
            tasks.push_back(std::make_unique<Recorder>(left, right, spin));
        std::vector<tools::OutputTask*> pointers;
        for (auto& t : tasks) pointers.push_back(t.get());
        std::string error;
        {
            tools::OutputPipeline pipeline(kChannels, kFrames, jobs, pointers);
            EXPECT_EQ(pipeline.workers(), std::min(jobs, 5)) << jobs;
            EXPECT_LE(pipeline.slots(), tools::kMaxSlots) << jobs;
            ASSERT_TRUE(feed(pipeline, kBlocks)) << jobs;
            ASSERT_TRUE(pipeline.finish(error)) << error;
        }
        for (auto& t : tasks) {
            EXPECT_EQ(t->blocks, expected(t->left(), t->right(), kBlocks)) << "--jobs " << jobs << ", task on " << t->left();
            EXPECT_EQ(t->finished, 1) << jobs;
            EXPECT_FALSE(t->overlapped) << "a task was given two blocks at once, --jobs " << jobs;
        }
    }
}

TEST(OutputPipeline, AFailureStopsTheRenderWithItsReason) {
    for (int jobs : {1, 2, 4}) {
        std::vector<std::unique_ptr<Recorder>> tasks;
        tasks.push_back(std::make_unique<Recorder>(0, 1, 0));
        tasks.push_back(std::make_unique<Recorder>(2, 3, 0, 7));
        tasks.push_back(std::make_unique<Recorder>(4, 5, 100));
        std::vector<tools::OutputTask*> pointers;
        for (auto& t : tasks) pointers.push_back(t.get());
        tools::OutputPipeline pipeline(kChannels, kFrames, jobs, pointers);
        EXPECT_FALSE(feed(pipeline, 10000)) << "the render went on past a failed task, --jobs " << jobs;
        std::string error;
        EXPECT_FALSE(pipeline.finish(error));
        EXPECT_EQ(error, "block 7 refused");
        EXPECT_EQ(tasks[1]->blocks.size(), 7u);
        for (auto& t : tasks) EXPECT_EQ(t->finished, 0) << "finished after a failure, --jobs " << jobs;
    }
}

}  // namespace
