// The outputs' work beside the render: the render thread fills blocks of
// every output channel and hands them on through a bounded queue (a fixed
// ring of slots, so memory does not grow with the render's length); worker
// threads measure and write them, each task always on the same worker and
// in render order, so the results are the same for any number of workers.
// The render thread waits only when every slot is still in use.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tools {

// One piece of one output's work (writing its file, or a measurement),
// fed its two channels block by block.
class OutputTask {
public:
    OutputTask(int left, int right, int cost) : left_(left), right_(right), cost_(cost) {}
    virtual ~OutputTask() = default;
    // [any thread] On its worker, in render order: the next frames. False with a reason.
    virtual bool consume(const float* left, const float* right, size_t frames, std::string& error) = 0;
    // [any thread] On its worker, after the last block. False with a reason.
    virtual bool finish(std::string& error) = 0;

    int left() const { return left_; }
    int right() const { return right_; }
    int cost() const { return cost_; }  // relative work per frame, to share tasks out evenly

private:
    int left_, right_, cost_;
};

class OutputPipeline {
public:
    // [main thread] Slots of `channels` channels of `frames` frames; the
    // tasks run on at most `jobs` workers.
    OutputPipeline(int channels, size_t frames, int jobs, const std::vector<OutputTask*>& tasks);
    ~OutputPipeline();  // stops the workers
    OutputPipeline(const OutputPipeline&) = delete;
    OutputPipeline& operator=(const OutputPipeline&) = delete;

    // [main thread] The next free slot's channels, waiting while none is
    // free; null once a task has failed.
    float** acquire();
    // [main thread] The slot acquire() gave holds `frames` frames.
    void publish(size_t frames);
    // [main thread] Waits until every block is done and every task
    // finished. False with the first failure's reason.
    bool finish(std::string& error);

    int workers() const { return static_cast<int>(threads_.size()); }

private:
    struct Slot {
        std::vector<float> samples;
        std::vector<float*> channels;
        size_t frames = 0;
        int pending = 0;  // workers still to take it
    };
    void work(const std::vector<OutputTask*>& mine);
    void fail(const std::string& error);

    std::vector<Slot> slots_;
    std::vector<std::vector<OutputTask*>> shares_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable published_, freed_;
    size_t produced_ = 0;  // slots published so far
    bool done_ = false, failed_ = false;
    std::string error_;
};

}  // namespace tools
