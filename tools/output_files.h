// Files a render writes: each under a temporary name beside its final one,
// created exclusively (nothing already in a shared folder can redirect the
// write) and guarded against signals, then committed all together: every
// file a final name would replace (and every file to be removed) is moved
// aside first, every temporary file renamed into place, and only then are
// the set-aside files dropped; when any step fails, everything is put back
// as it was. Every error names the final path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file_samples.h"

typedef struct sf_private_tag SNDFILE;

namespace tools {

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();  // removes the temporary file unless committed
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // [main thread] Creates the temporary file for finalPath. False with a
    // reason.
    bool create(const std::string& finalPath, std::string& error);
    // The open descriptor (owned by this object until it is destroyed).
    int descriptor() const { return fd_; }
    // Closes the descriptor, reporting a failed close. False with a reason.
    bool close(std::string& error);
    const std::string& finalPath() const { return final_; }
    const std::string& temporaryPath() const { return temporary_; }

private:
    friend bool commitFiles(const std::vector<TemporaryFile*>& files, const std::vector<std::string>& removals,
                            std::string& error);
    std::string temporary_, final_;
    int fd_ = -1;
    int guard_ = -1;
    bool committed_ = false;
};

// [main thread] Moves every file to its final name and removes every file
// in `removals`, or does none of it: see above (a file to remove is set
// aside with the replaced ones, and dropped with them; one that is gone or
// no longer a regular file is left alone). The files must be closed. False
// with a reason naming the file at fault.
bool commitFiles(const std::vector<TemporaryFile*>& files, const std::vector<std::string>& removals, std::string& error);

// A stereo audio file written through libsndfile into a buffer that goes to
// the file in large writes. A 16- or 24-bit file gets the steps FileSamples
// gives (handed to libsndfile as whole numbers, which it stores as they
// are), so the file holds exactly what the meters measure.
class AudioWriter {
public:
    AudioWriter();
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // [main thread] format: a libsndfile format word. False with a reason.
    bool open(const std::string& finalPath, int format, int sampleRate, std::string& error);
    // [any thread] The next frames, interleaved (one call at a time): for a
    // 16- or 24-bit file, FileSamples::words of its steps; for a float file,
    // the samples. False with a reason.
    bool write(const int32_t* frames, size_t n, std::string& error);
    bool write(const float* frames, size_t n, std::string& error);
    // [any thread] After the last write (one call at a time): completes the file (header, buffered bytes) and
    // closes it, ready for commitFiles.
    bool finish(std::string& error);
    TemporaryFile& file() { return file_; }
    const TemporaryFile& file() const { return file_; }

    // The buffered descriptor libsndfile writes through (for its callbacks).
    struct Sink;

private:
    TemporaryFile file_;
    std::unique_ptr<Sink> sink_;
    SNDFILE* sf_ = nullptr;
    bool wrote(int64_t written, size_t n, std::string& error);  // what a write gave, as its result
};

// The size of the writes an AudioWriter makes (but for its last).
constexpr size_t kWriteChunkBytes = 256 * 1024;

// A text file (a plot, a report) written whole. False with a reason.
bool writeTextFile(TemporaryFile& file, const std::string& finalPath, const std::string& text, std::string& error);

}  // namespace tools
