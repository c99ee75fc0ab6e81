// Audio in for tarnvale-host: files read block by block through libsndfile,
// converted to the render's sample rate with libsoxr where they differ, and
// the formats outputs are written in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;
struct soxr;

namespace tools {

// A stereo signal feeding one channel of the mix, read block by block at
// the render's sample rate.
class Source {
public:
    virtual ~Source() = default;
    // Frames it holds at the render rate; after them it gives silence.
    virtual int64_t frames() const = 0;
    // The next n frames. False with a one-line reason on a read error.
    virtual bool read(float* left, float* right, size_t n, std::string& error) = 0;
};

// A mono or stereo audio file (a mono file feeds both sides).
class FileSource : public Source {
public:
    ~FileSource() override;
    // Opens the file and learns its rate, format and length. Null with a
    // reason when it cannot be read or has more than two channels.
    static std::unique_ptr<FileSource> open(const std::string& path, std::string& error);
    // Reads at renderRate from now on, converting with the highest quality
    // libsoxr offers when the file's rate differs. False with a reason.
    bool renderAt(int renderRate, std::string& error);

    int64_t frames() const override { return renderFrames_; }
    bool read(float* left, float* right, size_t n, std::string& error) override;

    const std::string& path() const { return path_; }
    int fileRate() const { return rate_; }
    int fileFormat() const { return format_; }
    int64_t fileFrames() const { return fileFrames_; }
    bool converted() const { return resampler_ != nullptr; }

private:
    FileSource() = default;
    // Up to n frames of the file itself, their sides `stride` apart; got
    // says how many. False with a reason.
    bool readFile(float* left, float* right, size_t stride, size_t n, size_t& got, std::string& error);

    struct Reader;
    std::unique_ptr<Reader> reader_;  // before sf_, which reads through it
    std::string path_;
    SNDFILE* sf_ = nullptr;
    int rate_ = 0, format_ = 0, channels_ = 0;
    int64_t fileFrames_ = 0, renderFrames_ = 0, given_ = 0;
    soxr* resampler_ = nullptr;
    bool drained_ = false;  // the resampler has had all of the file and its flush
    std::vector<float> raw_, pending_, stereo_;  // file frames read, not yet converted; a block's output
    size_t pendingAt_ = 0;
    int64_t fileRead_ = 0;  // file frames read so far
    // PCM read here rather than through libsndfile: bytes a sample (0: not
    // such a file), where the samples start and where the next frame lies
    // once libsndfile has read the first (-1 before).
    int pcmWidth_ = 0;
    int64_t pcmStart_ = 0, pcmAt_ = -1;
    std::vector<unsigned char> bytes_;
};

// Reads a whole file into memory (for tests and small tools). False with a
// reason when it cannot be read or has more than two channels.
struct AudioFile {
    int sampleRate = 0;
    int format = 0;  // libsndfile format word (major type | subtype)
    std::vector<float> left, right;
};
bool readAudio(const std::string& path, AudioFile& file, std::string& error);

// The format word for a container ("wav", "flac", "aiff") and a sample
// format ("pcm16", "pcm24", "float"). 0 with a reason when the name is
// unknown or the container cannot hold those samples.
int outputFormat(const std::string& container, const std::string& samples, std::string& error);
// The container and sample format names of a file's format word, as
// outputs take them by default: a container other than WAV, FLAC or AIFF
// becomes WAV; 8- and 16-bit samples pcm16, 24-bit pcm24, wider and
// floating-point ones float.
std::string containerName(int format);
std::string sampleFormatName(int format);

// File extension for a format word: "wav", "flac", "aiff".
std::string extensionFor(int format);

}  // namespace tools
