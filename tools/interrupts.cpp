#include "interrupts.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace tools {

namespace {

// Enough for the files of an effect with 2,000 outputs; a path past the
// last slot is still removed on failure, only not on a signal.
constexpr int kSlots = 1024;
struct Guarded {
    std::atomic<char*> path{nullptr};
    std::atomic<bool> folder{false};
};
Guarded guarded[kSlots];
std::atomic<bool> openLine{false};
std::atomic<const char*> note{nullptr};

void onSignal(int signal) {
    // Files first, then folders (the deepest was guarded last).
    for (int pass = 0; pass < 2; ++pass)
        for (int k = kSlots - 1; k >= 0; --k) {
            const char* path = guarded[k].path.load();
            if (path == nullptr || guarded[k].folder.load() != (pass == 1)) continue;
            if (pass == 0) unlink(path);
            else rmdir(path);
        }
    if (openLine.load()) {
        const ssize_t ignored = write(STDERR_FILENO, "\n", 1);
        (void)ignored;
    }
    if (const char* text = note.load()) {
        const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
        (void)ignored;
    }
    _exit(128 + signal);
}

sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void installInterruptHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_mask = endingSignals();  // one handler at a time
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int guardPath(const std::string& path, bool folder) {
    char* copy = strdup(path.c_str());
    if (copy == nullptr) return -1;
    for (int k = 0; k < kSlots; ++k) {
        if (guarded[k].path.load() != nullptr) continue;
        guarded[k].folder.store(folder);
        guarded[k].path.store(copy);
        return k;
    }
    std::free(copy);
    return -1;
}

void forgetPath(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    SignalsHeld held;  // the handler never reads a path being freed
    std::free(guarded[slot].path.exchange(nullptr));
}

void setOpenLine(bool open) { openLine.store(open); }

void setInterruptNote(const char* text) { note.store(text); }

SignalsHeld::SignalsHeld() {
    const sigset_t set = endingSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace tools
