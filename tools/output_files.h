// Files a render writes: each under a temporary name beside its final one,
// created exclusively (nothing already in a shared folder can redirect the
// write), moved to its final name only when the whole render succeeded,
// and removed otherwise. Every error names the final path.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

typedef struct sf_private_tag SNDFILE;

namespace tools {

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();  // removes the temporary file unless committed
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the temporary file for finalPath. False with a reason.
    bool create(const std::string& finalPath, std::string& error);
    // The open descriptor; handing it on (to libsndfile, to a stream) gives
    // up the ownership of it, not of the file.
    int release();
    // Moves the file to its final name. False with a reason.
    bool commit(std::string& error);
    // Removes the file from its final name again (when a later file of the
    // same render could not be moved to its own).
    void withdraw();
    const std::string& finalPath() const { return final_; }

private:
    std::string temporary_, final_;
    int fd_ = -1;
    bool committed_ = false;
};

// A stereo audio file written block by block.
class AudioWriter {
public:
    ~AudioWriter();
    // format: a libsndfile format word. False with a reason.
    bool open(const std::string& finalPath, int format, int sampleRate, std::string& error);
    bool write(const float* left, const float* right, size_t frames, std::string& error);
    // Closes the file and moves it to its final name.
    bool commit(std::string& error);
    void withdraw() { file_.withdraw(); }

private:
    TemporaryFile file_;
    SNDFILE* sf_ = nullptr;
    std::unique_ptr<float[]> interleaved_;
    size_t capacity_ = 0;
};

// A text file (a plot, a report) written whole. False with a reason.
bool writeTextFile(TemporaryFile& file, const std::string& finalPath, const std::string& text, std::string& error);

}  // namespace tools
