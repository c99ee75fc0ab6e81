// The files a render will write, checked before the first sample: none of
// them may be a file the render reads or another of them, none may be
// anything but a regular file, and their folders must be there (the output
// folder is made) and writable. Then each folder is locked, so a second
// render into it refuses at once.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tools {

// A path with what it is to the render ("the input of channel 2",
// "--report"), for messages.
struct RolePath {
    std::string role;
    std::string path;
};

struct WriteTargets {
    std::string outDir;
    std::vector<RolePath> files;  // every file the render writes, by final path
};

// [main thread] 0 when the targets may be written; otherwise the exit code
// (2: a target is one of `reads` or another target; 4: a target exists and
// is not a regular file, or a folder is missing or not writable) with a
// one-line reason.
int checkWrites(const std::vector<RolePath>& reads, const WriteTargets& targets, std::string& error);

// [main thread] Of `candidates` (paths a render of this effect could write
// and this one does not), those that exist as regular files (a symbolic
// link is never one) and are none of `reads` and none of the targets: the
// outputs an earlier render left.
std::vector<std::string> leftOutputs(const std::vector<std::string>& candidates, const std::vector<RolePath>& reads,
                                     const WriteTargets& targets);

// The output folder made where it was missing, and every target folder
// locked (an advisory lock, held until the object goes). On failure the
// folders it made are removed again, unless keep() was called.
class FolderLocks {
public:
    FolderLocks() = default;
    ~FolderLocks();
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

    // [main thread] 0, or exit code 4 with a one-line reason (a folder that
    // cannot be made, or another render holding one of the folders).
    int take(const WriteTargets& targets, std::string& error);
    // The render succeeded: the folders it made stay.
    void keep() { made_.clear(); }

private:
    std::vector<int> locks_;
    std::vector<std::pair<std::string, int>> made_;  // folders made, outermost first, and their guards
};

}  // namespace tools
