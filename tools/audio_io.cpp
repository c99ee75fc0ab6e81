#include "audio_io.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace tools {

namespace {

constexpr size_t kChunkFrames = 4096;  // file frames read at a time for conversion
constexpr size_t kReadBytes = 512 * 1024;  // bytes read from a file at a time

}  // namespace

// A file read through a buffer of kReadBytes, for libsndfile's callbacks.
struct FileSource::Reader {
    int fd = -1;
    std::vector<char> buffer;
    sf_count_t start = 0;  // file offset of buffer[0]
    size_t used = 0, at = 0;

    ~Reader() {
        if (fd >= 0) ::close(fd);
    }
    static sf_count_t length(void* self) {
        struct stat st {};
        return fstat(static_cast<Reader*>(self)->fd, &st) == 0 ? st.st_size : -1;
    }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        auto* r = static_cast<Reader*>(self);
        sf_count_t target = offset;
        if (whence == SEEK_CUR) target += tell(self);
        else if (whence == SEEK_END) target += length(self);
        if (target < 0) return -1;
        if (target >= r->start && target <= r->start + static_cast<sf_count_t>(r->used)) {
            r->at = static_cast<size_t>(target - r->start);
        } else {
            r->start = target;
            r->used = r->at = 0;
        }
        return target;
    }
    static sf_count_t read(void* data, sf_count_t count, void* self) {
        auto* r = static_cast<Reader*>(self);
        char* out = static_cast<char*>(data);
        sf_count_t done = 0;
        while (done < count) {
            if (r->at == r->used) {
                r->start += static_cast<sf_count_t>(r->used);
                r->used = r->at = 0;
                ssize_t got;
                do got = pread(r->fd, r->buffer.data(), r->buffer.size(), r->start);
                while (got < 0 && errno == EINTR);
                if (got <= 0) break;
                r->used = static_cast<size_t>(got);
            }
            const size_t n = std::min(r->used - r->at, static_cast<size_t>(count - done));
            std::memcpy(out + done, r->buffer.data() + r->at, n);
            r->at += n;
            done += static_cast<sf_count_t>(n);
        }
        return done;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* self) {
        auto* r = static_cast<Reader*>(self);
        return r->start + static_cast<sf_count_t>(r->at);
    }
};

FileSource::~FileSource() {
    if (resampler_ != nullptr) soxr_delete(resampler_);
    if (sf_ != nullptr) sf_close(sf_);
}

std::unique_ptr<FileSource> FileSource::open(const std::string& path, std::string& error) {
    auto reader = std::make_unique<Reader>();
    reader->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (reader->fd < 0 || fstat(reader->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + path + ": " + (reader->fd < 0 ? std::strerror(errno) : "not a regular file");
        return nullptr;
    }
    reader->buffer.resize(kReadBytes);
    static SF_VIRTUAL_IO io = {Reader::length, Reader::seek, Reader::read, Reader::write, Reader::tell};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, reader.get());
    if (sf == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    if (info.channels < 1 || info.channels > 2 || info.samplerate < 1 || info.frames < 0) {
        sf_close(sf);
        error = path + " has " + std::to_string(info.channels) + " channels; a channel takes a mono or stereo file";
        return nullptr;
    }
    std::unique_ptr<FileSource> source(new FileSource);
    source->reader_ = std::move(reader);
    source->path_ = path;
    source->sf_ = sf;
    source->rate_ = info.samplerate;
    source->format_ = info.format;
    source->channels_ = info.channels;
    source->fileFrames_ = info.frames;
    source->renderFrames_ = info.frames;
    // 16- and 24-bit PCM in a WAV file: little-endian whole numbers, frame
    // after frame, from where libsndfile stands once it has read the header.
    const int major = info.format & SF_FORMAT_TYPEMASK, subtype = info.format & SF_FORMAT_SUBMASK;
    const int endian = info.format & SF_FORMAT_ENDMASK;
    if ((major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) && (endian == SF_ENDIAN_FILE || endian == SF_ENDIAN_LITTLE) &&
        (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24)) {
        source->pcmWidth_ = subtype == SF_FORMAT_PCM_16 ? 2 : 3;
        source->pcmStart_ = Reader::tell(source->reader_.get());
    }
    return source;
}

bool FileSource::renderAt(int renderRate, std::string& error) {
    if (renderRate == rate_) return true;
    soxr_error_t failed = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    resampler_ = soxr_create(rate_, renderRate, 2, &failed, &io, &quality, nullptr);
    if (resampler_ == nullptr || failed != nullptr) {
        error = "cannot convert " + path_ + " from " + std::to_string(rate_) + " to " + std::to_string(renderRate) +
                " Hz: " + (failed != nullptr ? failed : "no resampler");
        return false;
    }
    renderFrames_ = std::llround(static_cast<double>(fileFrames_) * renderRate / rate_);
    return true;
}

namespace {

// Little-endian whole numbers of Width bytes, Channels to a frame, as
// libsndfile reads them in floats: each its fraction of full scale, exactly
// (the whole number has at most 24 bits). The first and last channel of
// each frame go to left and right, `stride` apart.
template <int Width, int Channels>
void decodePcm(const unsigned char* in, size_t frames, float* left, float* right, size_t stride) {
    constexpr float unit = 1.0f / 2147483648.0f;
    auto sample = [](const unsigned char* p) {
        const uint32_t top = Width == 3 ? (uint32_t{p[0]} << 8) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 24)
                                        : (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 24);
        return static_cast<float>(static_cast<int32_t>(top)) * unit;
    };
    for (size_t i = 0; i < frames; ++i) {
        const unsigned char* frame = in + i * Width * Channels;
        left[i * stride] = sample(frame);
        right[i * stride] = sample(frame + (Channels - 1) * Width);
    }
}

#if defined(__x86_64__)
// The most common stem, 24-bit stereo into two sides, four frames at a time:
// each sample's three bytes moved to the top of a 32-bit lane, as above.
// Returns the frames done; the last few are left to the loop above, as each
// read takes 16 bytes for 12.
__attribute__((target("ssse3"))) size_t decodeStereo24(const unsigned char* in, size_t frames, float* left, float* right) {
    const __m128i top = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
    const __m128 unit = _mm_set1_ps(1.0f / 2147483648.0f);
    size_t i = 0;
    for (; i + 5 <= frames; i += 4) {
        const unsigned char* p = in + 6 * i;
        const __m128 a = _mm_mul_ps(_mm_cvtepi32_ps(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), top)), unit);
        const __m128 b = _mm_mul_ps(_mm_cvtepi32_ps(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), top)), unit);
        _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    return i;
}
#endif

}  // namespace

bool FileSource::readFile(float* left, float* right, size_t stride, size_t n, size_t& got, std::string& error) {
    const auto step = static_cast<size_t>(channels_);
    if (pcmAt_ < 0) {
        raw_.resize(n * step);
        const sf_count_t read = sf_readf_float(sf_, raw_.data(), static_cast<sf_count_t>(n));
        if (read < 0 || sf_error(sf_) != SF_ERR_NO_ERROR) {
            error = "cannot read the samples of " + path_ + ": " + sf_strerror(sf_);
            return false;
        }
        got = static_cast<size_t>(read);
        for (size_t i = 0; i < got; ++i) {
            left[i * stride] = raw_[i * step];
            right[i * stride] = raw_[i * step + step - 1];
        }
        fileRead_ += static_cast<int64_t>(got);
        // Once libsndfile has read the first frames as exactly their bytes
        // from where it stood, the rest are read here, in large reads.
        if (pcmWidth_ > 0 && got > 0) {
            const sf_count_t at = Reader::tell(reader_.get());
            if (at == pcmStart_ + static_cast<sf_count_t>(got * step) * pcmWidth_) pcmAt_ = at;
            else pcmWidth_ = 0;
        }
        return true;
    }
    const size_t frameBytes = step * static_cast<size_t>(pcmWidth_);
    const auto want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), std::max<int64_t>(0, fileFrames_ - fileRead_)));
    bytes_.resize(want * frameBytes);
    size_t done = 0;
    while (done < bytes_.size()) {
        const ssize_t k = pread(reader_->fd, bytes_.data() + done, bytes_.size() - done, static_cast<off_t>(pcmAt_) + static_cast<off_t>(done));
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) {
            error = "cannot read the samples of " + path_ + ": " + std::strerror(errno);
            return false;
        }
        if (k == 0) break;  // the file is shorter than its header says
        done += static_cast<size_t>(k);
    }
    got = done / frameBytes;
    const unsigned char* in = bytes_.data();
    size_t fast = 0;
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (pcmWidth_ == 3 && step == 2 && stride == 1 && ssse3) fast = decodeStereo24(in, got, left, right);
#endif
    in += fast * frameBytes;
    left += fast * stride;
    right += fast * stride;
    got -= fast;
    if (pcmWidth_ == 3 && step == 2) decodePcm<3, 2>(in, got, left, right, stride);
    else if (pcmWidth_ == 3) decodePcm<3, 1>(in, got, left, right, stride);
    else if (step == 2) decodePcm<2, 2>(in, got, left, right, stride);
    else decodePcm<2, 1>(in, got, left, right, stride);
    got += fast;
    pcmAt_ += static_cast<sf_count_t>(got * frameBytes);
    fileRead_ += static_cast<int64_t>(got);
    return true;
}

bool FileSource::read(float* left, float* right, size_t n, std::string& error) {
    // Exactly frames() frames, then silence.
    const auto left_in_file = static_cast<size_t>(std::max<int64_t>(0, renderFrames_ - given_));
    given_ += static_cast<int64_t>(n);
    size_t have = 0;
    if (resampler_ == nullptr) {
        // Straight from the file's own frames into the two sides.
        size_t got = 0;
        if (!readFile(left, right, 1, n, got, error)) return false;
        have = std::min(got, left_in_file);
    } else {
        if (stereo_.size() < 2 * n) stereo_.resize(2 * n);
        while (have < n && !drained_) {
            if (pendingAt_ * 2 == pending_.size()) {  // all converted: the next chunk of the file
                pending_.resize(2 * kChunkFrames);
                size_t got = 0;
                if (!readFile(pending_.data(), pending_.data() + 1, 2, kChunkFrames, got, error)) return false;
                pending_.resize(2 * got);
                pendingAt_ = 0;
            }
            size_t used = 0, made = 0;
            const size_t waiting = pending_.size() / 2 - pendingAt_;
            // With nothing left of the file, a null input lets the resampler
            // give out what it still holds.
            const soxr_error_t failed =
                soxr_process(resampler_, waiting > 0 ? pending_.data() + 2 * pendingAt_ : nullptr, waiting, &used,
                             stereo_.data() + 2 * have, n - have, &made);
            if (failed != nullptr) {
                error = "cannot convert " + path_ + ": " + failed;
                return false;
            }
            pendingAt_ += used;
            have += made;
            if (waiting == 0 && made == 0) drained_ = true;
        }
        have = std::min(have, left_in_file);
        for (size_t i = 0; i < have; ++i) {
            left[i] = stereo_[2 * i];
            right[i] = stereo_[2 * i + 1];
        }
    }
    std::fill(left + have, left + n, 0.0f);
    std::fill(right + have, right + n, 0.0f);
    return true;
}

bool readAudio(const std::string& path, AudioFile& file, std::string& error) {
    auto source = FileSource::open(path, error);
    if (!source) return false;
    const auto frames = static_cast<size_t>(source->frames());
    file.sampleRate = source->fileRate();
    file.format = source->fileFormat();
    file.left.resize(frames);
    file.right.resize(frames);
    return source->read(file.left.data(), file.right.data(), frames, error);
}

int outputFormat(const std::string& container, const std::string& samples, std::string& error) {
    int major = 0, subtype = 0;
    if (container == "wav") major = SF_FORMAT_WAV;
    else if (container == "flac") major = SF_FORMAT_FLAC;
    else if (container == "aiff" || container == "aif") major = SF_FORMAT_AIFF;
    if (samples == "pcm16") subtype = SF_FORMAT_PCM_16;
    else if (samples == "pcm24") subtype = SF_FORMAT_PCM_24;
    else if (samples == "float") subtype = SF_FORMAT_FLOAT;
    if (major == 0) {
        error = "unknown --format \"" + container + "\" (wav, flac or aiff)";
        return 0;
    }
    if (subtype == 0) {
        error = "unknown --sample-format \"" + samples + "\" (pcm16, pcm24 or float)";
        return 0;
    }
    SF_INFO probe{};
    probe.samplerate = 48000;
    probe.channels = 2;
    probe.format = major | subtype;
    if (!sf_format_check(&probe)) {
        error = container + " files cannot hold " + samples + " samples (FLAC holds pcm16 or pcm24)";
        return 0;
    }
    return probe.format;
}

std::string containerName(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC: return "flac";
    case SF_FORMAT_AIFF: return "aiff";
    default: return "wav";
    }
}

std::string sampleFormatName(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16: return "pcm16";
    case SF_FORMAT_PCM_24: return "pcm24";
    default: return "float";
    }
}

std::string extensionFor(int format) { return containerName(format); }

}  // namespace tools
