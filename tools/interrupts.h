// Signals that end a render early (SIGINT, SIGTERM, SIGHUP): the handler
// removes every temporary file the render has made, and the folders it
// made for them, ends an unfinished line on standard error, writes the
// note set for it, then exits with 128 + the signal number. The commit
// runs with these signals held, so a signal never lands between two
// renames.
#pragma once

#include <signal.h>

#include <string>

namespace tools {

// [main thread] Installs the handlers (once; later calls do nothing).
void installInterruptHandlers();

// [main thread] A path the handler removes (unlink for a file, rmdir for a
// folder) if a signal ends the tool before forget(slot). Returns the slot,
// or -1 when every slot is taken (the path is then not guarded).
int guardPath(const std::string& path, bool folder = false);
// [main thread] The path no longer needs removing.
void forgetPath(int slot);

// [main thread] Whether standard error's last line is unfinished (a
// progress bar drawn in place): a signal then ends it before the tool exits.
void setOpenLine(bool open);

// [main thread] The line the handler writes to standard error before the
// tool exits (a string that lives as long as the tool; nullptr: none), so
// an interrupted render says what became of its files.
void setInterruptNote(const char* note);

// [any thread] Keeps SIGINT, SIGTERM and SIGHUP from this thread for the
// object's life; a signal that arrives meanwhile is taken once it ends.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace tools
