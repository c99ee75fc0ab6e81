#include "output_pipeline.h"

#include <algorithm>
#include <exception>

#include "interrupts.h"

namespace tools {

OutputPipeline::OutputPipeline(int channels, size_t frames, int jobs, const std::vector<OutputTask*>& tasks) {
    const size_t workers = std::max<size_t>(1, std::min(static_cast<size_t>(std::max(jobs, 1)), tasks.size()));
    for (OutputTask* task : tasks) lanes_.push_back({task});
    // A slot a worker, and two more so the render fills the next while the
    // workers finish the last; past a few, more slots only cost memory.
    slots_.resize(std::min(workers + 2, kMaxSlots));
    for (auto& slot : slots_) {
        slot.samples.assign(static_cast<size_t>(channels) * frames, 0.0f);
        for (int c = 0; c < channels; ++c) slot.channels.push_back(slot.samples.data() + static_cast<size_t>(c) * frames);
    }
    for (size_t w = 0; w < workers; ++w) threads_.emplace_back([this] { work(); });
}

OutputPipeline::~OutputPipeline() {
    if (threads_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = done_ = true;  // stopped early: the workers leave without finishing
    }
    published_.notify_all();
    for (auto& t : threads_) t.join();
}

float** OutputPipeline::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[produced_ % slots_.size()];
    freed_.wait(lock, [&] { return slot.pending == 0 || failed_; });
    return failed_ ? nullptr : slot.channels.data();
}

void OutputPipeline::publish(size_t frames) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& slot = slots_[produced_ % slots_.size()];
        slot.frames = frames;
        slot.pending = lanes_.size();
        ++produced_;
    }
    published_.notify_all();
}

bool OutputPipeline::finish(std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    published_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
    if (failed_) error = error_;
    return !failed_;
}

void OutputPipeline::fail(const std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failed_) error_ = error;
        failed_ = true;
    }
    freed_.notify_all();
    published_.notify_all();
}

void OutputPipeline::work() {
    SignalsHeld held;  // signals go to the render thread, which cleans up
    try {
        std::string error;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // The free lane furthest behind with a block to take; once the
            // render is done, a free lane that has taken every block finishes.
            Lane* pick = nullptr;
            for (Lane& lane : lanes_)
                if (!lane.busy && !lane.finished && (lane.next < produced_ || done_) &&
                    (pick == nullptr || lane.next < pick->next))
                    pick = &lane;
            if (failed_ || finished_ == lanes_.size()) return;
            if (pick == nullptr) {
                published_.wait(lock);
                continue;
            }
            pick->busy = true;
            if (pick->next < produced_) {
                Slot& slot = slots_[pick->next % slots_.size()];
                lock.unlock();
                OutputTask& task = *pick->task;
                const bool ok = task.consume(slot.channels[static_cast<size_t>(task.left())],
                                             slot.channels[static_cast<size_t>(task.right())], slot.frames, error);
                lock.lock();
                if (!ok) {
                    lock.unlock();
                    return fail(error);
                }
                pick->busy = false;
                ++pick->next;
                if (--slot.pending == 0) freed_.notify_all();
            } else {
                lock.unlock();
                const bool ok = pick->task->finish(error);
                lock.lock();
                if (!ok) {
                    lock.unlock();
                    return fail(error);
                }
                pick->busy = false;
                pick->finished = true;
                if (++finished_ == lanes_.size()) published_.notify_all();
            }
        }
    } catch (const std::exception& e) {
        fail(std::string("a worker failed: ") + e.what());
    }
}

}  // namespace tools
