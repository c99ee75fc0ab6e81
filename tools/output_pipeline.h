// The outputs' work beside the render: the render thread fills blocks of
// every output channel and hands them on through a bounded queue (a fixed
// ring of slots, so memory does not grow with the render's length, nor
// with the number of workers past a few); worker threads measure and write
// them. Any idle worker takes the next block of any task no other worker
// holds, the furthest behind first, so the work spreads evenly whatever it
// costs; each task still takes its blocks one at a time and in render
// order, so the results are the same for any number of workers. The render
// thread waits only when every slot is still in use.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tools {

// One output's work (writing its file and measuring it), fed its two
// channels block by block.
class OutputTask {
public:
    OutputTask(int left, int right) : left_(left), right_(right) {}
    virtual ~OutputTask() = default;
    // [any thread] In render order, one call at a time: the next frames. False with a reason.
    virtual bool consume(const float* left, const float* right, size_t frames, std::string& error) = 0;
    // [any thread] After the last block, once. False with a reason.
    virtual bool finish(std::string& error) = 0;

    int left() const { return left_; }
    int right() const { return right_; }

private:
    int left_, right_;
};

// The most slots the ring holds, whatever the number of workers.
constexpr size_t kMaxSlots = 6;

class OutputPipeline {
public:
    // [main thread] Slots of `channels` channels of `frames` frames; the
    // tasks run on at most `jobs` workers (and no more than there are tasks).
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
    size_t slots() const { return slots_.size(); }

private:
    struct Slot {
        std::vector<float> samples;
        std::vector<float*> channels;
        size_t frames = 0;
        size_t pending = 0;  // tasks still to take it
    };
    struct Lane {
        OutputTask* task;
        size_t next = 0;  // the blocks it has taken
        bool busy = false, finished = false;
    };
    void work();
    void fail(const std::string& error);

    std::vector<Slot> slots_;
    std::vector<Lane> lanes_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable published_, freed_;
    size_t produced_ = 0;  // slots published so far
    size_t finished_ = 0;  // lanes finished
    bool done_ = false, failed_ = false;
    std::string error_;
};

}  // namespace tools
