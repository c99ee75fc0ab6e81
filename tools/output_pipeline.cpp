#include "output_pipeline.h"

#include <algorithm>
#include <exception>
#include <numeric>

#include "interrupts.h"

namespace tools {

OutputPipeline::OutputPipeline(int channels, size_t frames, int jobs, const std::vector<OutputTask*>& tasks) {
    // The costliest tasks first, each to the least loaded worker; a task
    // keeps its worker for the whole render.
    const size_t workers = std::max<size_t>(1, std::min(static_cast<size_t>(std::max(jobs, 1)), tasks.size()));
    std::vector<size_t> order(tasks.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return tasks[a]->cost() > tasks[b]->cost(); });
    shares_.resize(workers);
    std::vector<int> load(workers, 0);
    for (size_t t : order) {
        const size_t w = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        shares_[w].push_back(tasks[t]);
        load[w] += tasks[t]->cost();
    }
    for (auto& share : shares_)  // render order within a worker
        std::sort(share.begin(), share.end(), [&](OutputTask* a, OutputTask* b) {
            return std::find(tasks.begin(), tasks.end(), a) < std::find(tasks.begin(), tasks.end(), b);
        });
    // Two slots a worker keep each busy while the render fills the next.
    slots_.resize(2 * workers + 2);
    for (auto& slot : slots_) {
        slot.samples.assign(static_cast<size_t>(channels) * frames, 0.0f);
        for (int c = 0; c < channels; ++c) slot.channels.push_back(slot.samples.data() + static_cast<size_t>(c) * frames);
    }
    for (const auto& share : shares_) threads_.emplace_back([this, &share] { work(share); });
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
        slot.pending = static_cast<int>(threads_.size());
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

void OutputPipeline::work(const std::vector<OutputTask*>& mine) {
    SignalsHeld held;  // signals go to the render thread, which cleans up
    try {
        std::string error;
        for (size_t next = 0;; ++next) {
            Slot* slot = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                published_.wait(lock, [&] { return next < produced_ || done_ || failed_; });
                if (failed_) return;
                if (next >= produced_) break;  // done, and every block taken
                slot = &slots_[next % slots_.size()];
            }
            for (OutputTask* task : mine)
                if (!task->consume(slot->channels[static_cast<size_t>(task->left())],
                                   slot->channels[static_cast<size_t>(task->right())], slot->frames, error))
                    return fail(error);
            bool freed = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                freed = --slot->pending == 0;
            }
            if (freed) freed_.notify_all();
        }
        for (OutputTask* task : mine)
            if (!task->finish(error)) return fail(error);
    } catch (const std::exception& e) {
        fail(std::string("a worker failed: ") + e.what());
    }
}

}  // namespace tools
