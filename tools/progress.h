// The render's progress bar on standard error, drawn only where someone
// watches it (standard error a terminal): how far the render is, the time
// it has taken and the time it will still take, redrawn in place; its line
// is ended when the render ends, fails or is interrupted, so nothing else
// is written onto it.
#pragma once

#include <chrono>
#include <string>

namespace tools {

// [any thread] The bar's text for a fraction done after `elapsed` seconds: "rendering
// [####......]  40%  0:04 elapsed, 0:06 left"; once all is done, no time
// left is shown.
std::string progressText(double fraction, double elapsed);

// [any thread] Seconds as m:ss, or h:mm:ss from an hour on.
std::string clockText(double seconds);

class ProgressBar {
public:
    // [main thread] shown: whether to draw at all.
    explicit ProgressBar(bool shown);
    ~ProgressBar();  // ends the line, if it is open
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // [main thread] The fraction done (0..1); redrawn when the percentage
    // changes, and at least twice a second for the times.
    void update(double fraction);
    // [main thread] All done: the bar at 100 % with the time it took, and
    // the end of its line.
    void finish();
    // [main thread] Ends the line where the bar stands (before a message);
    // nothing is drawn after it.
    void close();

private:
    void draw(double fraction);

    bool shown_, open_ = false;
    int percent_ = -1;
    size_t width_ = 0;  // of the text last drawn
    std::chrono::steady_clock::time_point start_, drawn_;
};

}  // namespace tools
