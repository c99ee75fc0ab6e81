#include "output_files.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interrupts.h"

namespace tools {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty file with a name of its own in folder (mode 0600). The name
// is short, so it fits wherever the final name fits.
int createUnique(const std::string& folder, const char* kind, std::string& path) {
    std::string pattern = folder + "/.tarnvale-host-" + kind + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);  // O_CREAT | O_EXCL
    if (fd >= 0) path = name.data();
    return fd;
}

std::string failure(const std::string& path, int code) { return "cannot write " + path + ": " + std::strerror(code); }

}  // namespace

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
    forgetPath(guard_);
}

bool TemporaryFile::create(const std::string& finalPath, std::string& error) {
    final_ = finalPath;
    SignalsHeld held;  // the file is guarded from the moment it exists
    fd_ = createUnique(folderOf(finalPath), "partial", temporary_);
    if (fd_ < 0) {
        error = failure(finalPath, errno);
        return false;
    }
    guard_ = guardPath(temporary_);
    return true;
}

bool TemporaryFile::close(std::string& error) {
    if (fd_ < 0) return true;
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        error = failure(final_, errno);
        return false;
    }
    return true;
}

bool commitFiles(const std::vector<TemporaryFile*>& files, const std::vector<std::string>& removals, std::string& error) {
    SignalsHeld held;  // all of it, or none of it, even on Ctrl-C
    // Every final name's file and every file to remove, moved aside ("" where
    // there is none): the final names first, then the removals.
    std::vector<std::string> targets;
    for (const TemporaryFile* f : files) targets.push_back(f->final_);
    targets.insert(targets.end(), removals.begin(), removals.end());
    std::vector<std::string> aside(targets.size());
    size_t placed = 0;
    auto undo = [&](size_t setAside) {
        for (size_t k = placed; k-- > 0;)
            if (aside[k].empty()) unlink(files[k]->final_.c_str());
        for (size_t k = setAside; k-- > 0;) {
            if (aside[k].empty()) continue;
            if (std::rename(aside[k].c_str(), targets[k].c_str()) != 0)
                error += "; the earlier " + targets[k] + " is kept as " + aside[k];
        }
        return false;
    };
    const mode_t mask = umask(0);
    umask(mask);
    size_t setAside = 0;
    for (; setAside < targets.size(); ++setAside) {
        const std::string& target = targets[setAside];
        const bool removal = setAside >= files.size();
        struct stat st {};
        if (lstat(target.c_str(), &st) != 0) {
            if (errno == ENOENT) continue;
            error = failure(target, errno);
            return undo(setAside);
        }
        if (!S_ISREG(st.st_mode)) {
            if (removal) continue;  // no longer a file a render wrote: left alone
            error = "cannot write " + target + ": it is no longer a regular file";
            return undo(setAside);
        }
        std::string place;
        const int fd = createUnique(folderOf(target), "previous", place);
        if (fd < 0) {
            error = failure(target, errno);
            return undo(setAside);
        }
        ::close(fd);
        if (std::rename(target.c_str(), place.c_str()) != 0) {
            error = (removal ? "cannot remove " + target + ": " + std::strerror(errno) : failure(target, errno));
            unlink(place.c_str());
            return undo(setAside);
        }
        aside[setAside] = place;
    }
    for (; placed < files.size(); ++placed) {
        TemporaryFile& f = *files[placed];
        // mkstemp made it private; the final file gets the usual permissions.
        chmod(f.temporary_.c_str(), 0666 & ~mask);
        if (std::rename(f.temporary_.c_str(), f.final_.c_str()) != 0) {
            error = failure(f.final_, errno);
            return undo(setAside);
        }
    }
    for (size_t k = 0; k < targets.size(); ++k) {
        if (k < files.size()) files[k]->committed_ = true;
        if (!aside[k].empty()) unlink(aside[k].c_str());
    }
    return true;
}

// libsndfile's writes, gathered into chunks of kWriteChunkBytes.
struct AudioWriter::Sink {
    int fd = -1;
    std::vector<char> buffer;
    size_t used = 0;
    int failed = 0;  // errno of the first failed write

    bool flush() {
        size_t done = 0;
        while (done < used && failed == 0) {
            const ssize_t n = ::write(fd, buffer.data() + done, used - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failed = n < 0 ? errno : ENOSPC;
            else done += static_cast<size_t>(n);
        }
        used = 0;
        return failed == 0;
    }
    static sf_count_t length(void* self) {
        auto* s = static_cast<Sink*>(self);
        if (!s->flush()) return -1;
        struct stat st {};
        return fstat(s->fd, &st) == 0 ? st.st_size : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        auto* s = static_cast<Sink*>(self);
        if (!s->flush()) return -1;
        return lseek(s->fd, offset, whence);
    }
    static sf_count_t read(void* data, sf_count_t count, void* self) {
        auto* s = static_cast<Sink*>(self);
        if (!s->flush()) return 0;
        const ssize_t n = ::read(s->fd, data, static_cast<size_t>(count));
        return n < 0 ? 0 : n;
    }
    static sf_count_t write(const void* data, sf_count_t count, void* self) {
        auto* s = static_cast<Sink*>(self);
        // Once a write to the file failed, nothing more is taken: the short
        // count makes the caller's write fail now, not when the file ends.
        if (s->failed != 0) return 0;
        const char* bytes = static_cast<const char*>(data);
        sf_count_t left = count;
        while (left > 0) {
            const size_t room = s->buffer.size() - s->used;
            const size_t n = std::min(room, static_cast<size_t>(left));
            std::memcpy(s->buffer.data() + s->used, bytes, n);
            s->used += n;
            bytes += n;
            left -= static_cast<sf_count_t>(n);
            if (s->used == s->buffer.size() && !s->flush()) return 0;
        }
        return count;
    }
    static sf_count_t tell(void* self) {
        auto* s = static_cast<Sink*>(self);
        const off_t at = lseek(s->fd, 0, SEEK_CUR);
        return at < 0 ? -1 : at + static_cast<sf_count_t>(s->used);
    }
};

AudioWriter::AudioWriter() : sink_(new Sink) {}

AudioWriter::~AudioWriter() {
    if (sf_ != nullptr) sf_close(sf_);
}

bool AudioWriter::open(const std::string& finalPath, int format, int sampleRate, std::string& error) {
    if (!file_.create(finalPath, error)) return false;
    sink_->fd = file_.descriptor();
    sink_->buffer.resize(kWriteChunkBytes);
    static SF_VIRTUAL_IO io = {Sink::length, Sink::seek, Sink::read, Sink::write, Sink::tell};
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format;
    sf_ = sf_open_virtual(&io, SFM_WRITE, &info, sink_.get());
    if (sf_ == nullptr) {
        error = "cannot write " + finalPath + ": " + sf_strerror(nullptr);
        return false;
    }
    // Integer formats are given whole numbers already clipped; libsndfile's
    // own clipping stays on as a guard. No PEAK chunk: it holds the time of
    // writing, and the same render should give the same bytes.
    sf_command(sf_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    sf_command(sf_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return true;
}

bool AudioWriter::write(const int32_t* frames, size_t n, std::string& error) {
    return wrote(sf_writef_int(sf_, frames, static_cast<sf_count_t>(n)), n, error);
}

bool AudioWriter::write(const float* frames, size_t n, std::string& error) {
    return wrote(sf_writef_float(sf_, frames, static_cast<sf_count_t>(n)), n, error);
}

bool AudioWriter::wrote(int64_t written, size_t n, std::string& error) {
    if (written != static_cast<int64_t>(n)) {
        error = sink_->failed != 0 ? failure(file_.finalPath(), sink_->failed)
                                   : "cannot write " + file_.finalPath() + ": " + sf_strerror(sf_);
        return false;
    }
    return true;
}

bool AudioWriter::finish(std::string& error) {
    const int closed = sf_close(sf_);
    sf_ = nullptr;
    const bool flushed = sink_->flush();
    if (sink_->failed != 0 || !flushed) {
        error = failure(file_.finalPath(), sink_->failed);
        return false;
    }
    if (closed != 0) {
        error = "cannot write " + file_.finalPath() + ": " + sf_error_number(closed);
        return false;
    }
    return file_.close(error);
}

bool writeTextFile(TemporaryFile& file, const std::string& finalPath, const std::string& text, std::string& error) {
    if (!file.create(finalPath, error)) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(file.descriptor(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = failure(finalPath, n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return file.close(error);
}

}  // namespace tools
