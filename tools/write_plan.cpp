#include "write_plan.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "exit_codes.h"
#include "interrupts.h"

namespace fs = std::filesystem;

namespace tools {

namespace {

struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string resolved;  // symbolic links and dot segments resolved
};

fs::path absoluteNormal(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal();
}

Identity identify(const std::string& path, bool followLink) {
    Identity id;
    struct stat st {};
    if ((followLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
    }
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(absoluteNormal(path), ec);
    id.resolved = ec ? absoluteNormal(path).string() : resolved.string();
    return id;
}

bool same(const Identity& a, const Identity& b) {
    if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
    return a.resolved == b.resolved;
}

std::string folderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

bool writableFolder(const std::string& folder) {
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

// The folder outDir is, or the nearest folder above it that exists, must be
// a writable folder.
bool outFolderPossible(const std::string& outDir, std::string& error) {
    const fs::path folder = absoluteNormal(outDir);
    fs::path at = folder;
    while (true) {
        struct stat st {};
        if (stat(at.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                error = "cannot create output folder " + outDir + ": " + at.string() + " is not a folder";
                return false;
            }
            if (access(at.c_str(), W_OK | X_OK) != 0) {
                error = (at == folder ? "output folder " + outDir
                                                                         : "cannot create output folder " + outDir +
                                                                               ": " + at.string()) +
                        " is not writable";
                return false;
            }
            return true;
        }
        if (!at.has_relative_path()) return true;
        at = at.parent_path();
    }
}

}  // namespace

int checkWrites(const std::vector<RolePath>& reads, const WriteTargets& targets, std::string& error) {
    std::vector<Identity> readIds, writeIds;
    for (const auto& r : reads) readIds.push_back(identify(r.path, true));
    for (size_t w = 0; w < targets.files.size(); ++w) {
        const RolePath& target = targets.files[w];
        writeIds.push_back(identify(target.path, false));
        for (size_t r = 0; r < reads.size(); ++r)
            if (same(writeIds[w], readIds[r])) {
                error = target.path + " (" + target.role + ") is " + reads[r].role +
                        "; tarnvale-host never writes over what it reads";
                return kExitUsage;
            }
        for (size_t v = 0; v < w; ++v)
            if (same(writeIds[w], writeIds[v])) {
                error = target.path + " is named both as " + targets.files[v].role + " and as " + target.role;
                return kExitUsage;
            }
    }
    for (const auto& target : targets.files) {
        struct stat st {};
        if (lstat(target.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            const char* what = S_ISLNK(st.st_mode)   ? "a symbolic link"
                               : S_ISDIR(st.st_mode) ? "a folder"
                               : S_ISFIFO(st.st_mode) ? "a named pipe"
                               : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                           : "not a regular file";
            error = "cannot write " + target.path + ": it is " + what + "; tarnvale-host replaces only regular files";
            return kExitOutput;
        }
    }
    if (!outFolderPossible(targets.outDir, error)) return kExitOutput;
    const std::string outDir = identify(targets.outDir, true).resolved;
    for (const auto& target : targets.files) {
        const std::string folder = folderOf(target.path);
        if (identify(folder, true).resolved == outDir) continue;  // made if missing
        if (!writableFolder(folder)) {
            std::error_code ec;
            error = "cannot write " + target.path + " (" + target.role + "): the folder " + folder +
                    (fs::is_directory(folder, ec) ? " is not writable" : " does not exist");
            return kExitOutput;
        }
    }
    return 0;
}

std::vector<std::string> leftOutputs(const std::vector<std::string>& candidates, const std::vector<RolePath>& reads,
                                     const WriteTargets& targets) {
    std::vector<Identity> kept;
    for (const auto& r : reads) kept.push_back(identify(r.path, true));
    for (const auto& t : targets.files) kept.push_back(identify(t.path, false));
    std::vector<std::string> left;
    for (const auto& path : candidates) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const Identity id = identify(path, false);
        if (std::none_of(kept.begin(), kept.end(), [&](const Identity& k) { return same(id, k); })) left.push_back(path);
    }
    return left;
}

FolderLocks::~FolderLocks() {
    for (int fd : locks_) close(fd);
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) rmdir(it->first.c_str());
    for (auto& m : made_) forgetPath(m.second);
}

int FolderLocks::take(const WriteTargets& targets, std::string& error) {
    // Make the output folder, each missing level guarded, so that a failure
    // or a signal takes away what was made.
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path at = absoluteNormal(targets.outDir); !fs::exists(at, ec) && at.has_relative_path(); at = at.parent_path())
        missing.push_back(at);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        SignalsHeld held;
        if (mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create output folder " + targets.outDir + ": " + std::strerror(errno);
            return kExitOutput;
        }
        made_.emplace_back(it->string(), guardPath(it->string(), true));
    }
    std::vector<std::string> folders{targets.outDir};
    for (const auto& target : targets.files) folders.push_back(folderOf(target.path));
    std::vector<std::pair<dev_t, ino_t>> locked;
    for (const auto& folder : folders) {
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || fstat(fd, &st) != 0) {
            error = "cannot use the folder " + folder + ": " + std::strerror(errno);
            if (fd >= 0) close(fd);
            return kExitOutput;
        }
        bool seen = false;
        for (const auto& l : locked) seen = seen || (l.first == st.st_dev && l.second == st.st_ino);
        if (seen) {
            close(fd);
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? "another tarnvale-host is rendering into " + folder + "; try again when it is done"
                                         : "cannot lock the folder " + folder + ": " + std::strerror(errno);
            close(fd);
            return kExitOutput;
        }
        locks_.push_back(fd);
        locked.emplace_back(st.st_dev, st.st_ino);
    }
    return 0;
}

}  // namespace tools
