#include "output_files.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace tools {

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

bool TemporaryFile::create(const std::string& finalPath, std::string& error) {
    final_ = finalPath;
    std::error_code ec;
    if (fs::is_directory(finalPath, ec)) {
        error = "cannot write " + finalPath + ": a folder of that name is in the way";
        return false;
    }
    const fs::path p(finalPath);
    std::string pattern = (p.parent_path() / ("." + p.filename().string() + ".partial-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkstemp(name.data());  // O_CREAT | O_EXCL, mode 0600
    if (fd_ < 0) {
        error = "cannot write " + finalPath + ": " + std::strerror(errno);
        return false;
    }
    temporary_ = name.data();
    return true;
}

int TemporaryFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool TemporaryFile::commit(std::string& error) {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    // mkstemp made it private; the final file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary_.c_str(), 0666 & ~mask);
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        error = "cannot write " + final_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

void TemporaryFile::withdraw() {
    if (committed_) std::remove(final_.c_str());
}

AudioWriter::~AudioWriter() {
    if (sf_ != nullptr) sf_close(sf_);
}

bool AudioWriter::open(const std::string& finalPath, int format, int sampleRate, std::string& error) {
    if (!file_.create(finalPath, error)) return false;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format;
    sf_ = sf_open_fd(file_.release(), SFM_WRITE, &info, SF_TRUE);
    if (sf_ == nullptr) {
        error = "cannot write " + finalPath + ": " + sf_strerror(nullptr);
        return false;
    }
    // Integer formats clip what lies beyond full scale rather than wrap it;
    // float files keep every value.
    sf_command(sf_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool AudioWriter::write(const float* left, const float* right, size_t frames, std::string& error) {
    if (frames > capacity_) {
        interleaved_.reset(new float[2 * frames]);
        capacity_ = frames;
    }
    for (size_t i = 0; i < frames; ++i) {
        interleaved_[2 * i] = left[i];
        interleaved_[2 * i + 1] = right[i];
    }
    if (sf_writef_float(sf_, interleaved_.get(), static_cast<sf_count_t>(frames)) != static_cast<sf_count_t>(frames)) {
        error = "cannot write " + file_.finalPath() + ": " + sf_strerror(sf_);
        return false;
    }
    return true;
}

bool AudioWriter::commit(std::string& error) {
    const int closed = sf_close(sf_);
    sf_ = nullptr;
    if (closed != 0) {
        error = "cannot write " + file_.finalPath() + ": " + sf_error_number(closed);
        return false;
    }
    return file_.commit(error);
}

bool writeTextFile(TemporaryFile& file, const std::string& finalPath, const std::string& text, std::string& error) {
    if (!file.create(finalPath, error)) return false;
    FILE* stream = fdopen(file.release(), "w");
    if (stream == nullptr) {
        error = "cannot write " + finalPath + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (std::fclose(stream) != 0 || !written) {
        error = "cannot write " + finalPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace tools
