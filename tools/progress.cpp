#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "interrupts.h"

namespace tools {

namespace {

constexpr int kBarWidth = 30;

void writeAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0) return;  // a terminal that went away: nothing to show it on
        done += static_cast<size_t>(n);
    }
}

}  // namespace

std::string clockText(double seconds) {
    const long whole = std::max(0L, static_cast<long>(std::llround(seconds)));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string progressText(double fraction, double elapsed) {
    fraction = std::min(1.0, std::max(0.0, fraction));
    const int percent = static_cast<int>(fraction * 100.0);
    const int filled = static_cast<int>(fraction * kBarWidth);
    char head[64];
    std::snprintf(head, sizeof head, "%3d%%", percent);
    std::string text = "rendering [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " + head + "  " +
                       clockText(elapsed) + " elapsed";
    if (fraction < 1.0) {
        // What is left at the pace so far, once there is a pace to go by.
        text += fraction >= 0.01 || elapsed >= 1.0 ? ", " + clockText(elapsed * (1.0 - fraction) / std::max(fraction, 1e-9)) + " left"
                                                   : ", --:-- left";
    }
    return text;
}

ProgressBar::ProgressBar(bool shown) : shown_(shown), start_(std::chrono::steady_clock::now()), drawn_(start_) {}

ProgressBar::~ProgressBar() { close(); }

void ProgressBar::update(double fraction) {
    if (!shown_) return;
    const auto now = std::chrono::steady_clock::now();
    const int percent = static_cast<int>(std::min(1.0, std::max(0.0, fraction)) * 100.0);
    if (percent == percent_ && now - drawn_ < std::chrono::milliseconds(500)) return;
    percent_ = percent;
    drawn_ = now;
    draw(fraction);
}

void ProgressBar::finish() {
    if (!shown_) return;
    draw(1.0);
    close();
}

void ProgressBar::close() {
    shown_ = false;  // nothing more is drawn
    if (!open_) return;
    writeAll("\n");
    open_ = false;
    setOpenLine(false);
}

void ProgressBar::draw(double fraction) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string text = progressText(fraction, elapsed);
    const size_t width = text.size();
    if (width < width_) text += std::string(width_ - width, ' ');  // over what a longer text left
    width_ = width;
    std::fflush(stderr);  // whatever the streams hold goes before the bar
    writeAll("\r" + text);
    open_ = true;
    setOpenLine(true);
}

}  // namespace tools
