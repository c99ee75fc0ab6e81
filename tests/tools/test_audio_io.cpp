// Reading stems: tarnvale-host reads 16- and 24-bit WAV samples itself once
// libsndfile has opened the file and read its first frames; every sample
// must be the value libsndfile gives for it, however the reads are split.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio_io.h"

namespace fs = std::filesystem;

namespace {

class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = (fs::temp_directory_path() / ("tarnvale-audio-io-" + std::to_string(getpid()))).string();
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Steps spread over the whole range, both ends included.
    std::string write(const std::string& name, int format, int channels, int64_t frames, bool strings) {
        const std::string path = dir + "/" + name;
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = channels;
        info.format = format;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(sf, nullptr) << sf_strerror(nullptr);
        if (strings) {
            sf_set_string(sf, SF_STR_TITLE, "a title, so the header holds more than the format");
            sf_set_string(sf, SF_STR_COMMENT, "and a comment");
        }
        std::mt19937 random(static_cast<unsigned>(frames));
        std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
        std::vector<int32_t> samples(static_cast<size_t>(frames * channels));
        for (auto& v : samples) v = any(random);
        samples[0] = INT32_MIN;
        samples[1] = INT32_MAX;
        sf_writef_int(sf, samples.data(), frames);
        sf_close(sf);
        return path;
    }

    // libsndfile's floats for the whole file, first and last channel.
    static void reference(const std::string& path, std::vector<float>& left, std::vector<float>& right) {
        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr);
        std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
        const sf_count_t got = sf_readf_float(sf, all.data(), info.frames);
        sf_close(sf);
        left.clear();
        right.clear();
        for (sf_count_t i = 0; i < got; ++i) {
            left.push_back(all[static_cast<size_t>(i * info.channels)]);
            right.push_back(all[static_cast<size_t>(i * info.channels + info.channels - 1)]);
        }
    }

    // Ours, in calls of `call` frames, up to `frames` (silence after the file).
    static void ours(const std::string& path, size_t call, size_t frames, std::vector<float>& left, std::vector<float>& right) {
        std::string error;
        auto source = tools::FileSource::open(path, error);
        ASSERT_TRUE(source) << error;
        left.assign(frames, -9.0f);
        right.assign(frames, -9.0f);
        for (size_t at = 0; at < frames; at += call) {
            const size_t n = std::min(call, frames - at);
            ASSERT_TRUE(source->read(left.data() + at, right.data() + at, n, error)) << error;
        }
    }

    std::string dir;
};

TEST_F(FileSourceTest, PcmReadsAsLibsndfileReadsIt) {
    const struct {
        const char* name;
        int format, channels;
        int64_t frames;
        bool strings;
    } cases[] = {
        {"24-bit stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 100003, false},
        {"16-bit stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 70001, false},
        {"24-bit mono", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1, 50000, false},
        {"16-bit mono", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 33333, false},
        {"24-bit extensible", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, 40000, false},
        {"24-bit with text chunks", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 40000, true},
        {"16-bit with text chunks", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 40000, true},
        // Read through libsndfile throughout, the same way.
        {"float", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 30000, false},
        {"AIFF 24-bit", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 2, 30000, false},
        {"FLAC 16-bit", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 30000, false},
    };
    for (const auto& c : cases) {
        const std::string path = write(std::string(c.name) + ".file", c.format, c.channels, c.frames, c.strings);
        std::vector<float> left, right;
        reference(path, left, right);
        ASSERT_EQ(left.size(), static_cast<size_t>(c.frames)) << c.name;
        for (size_t call : {size_t{1000}, size_t{8192}, size_t{4097}, size_t{1}}) {
            if (call == 1 && c.frames > 40000) continue;
            const size_t frames = static_cast<size_t>(c.frames) + 5000;  // past the end: silence
            std::vector<float> l, r;
            ours(path, call, frames, l, r);
            size_t wrong = 0;
            for (size_t i = 0; i < frames; ++i) {
                const float wantLeft = i < left.size() ? left[i] : 0.0f, wantRight = i < right.size() ? right[i] : 0.0f;
                wrong += l[i] != wantLeft || r[i] != wantRight;
            }
            EXPECT_EQ(wrong, 0u) << c.name << ", calls of " << call;
        }
    }
}

// A file cut short, even inside a frame, gives what it holds, then silence.
TEST_F(FileSourceTest, ACutFileGivesWhatItHolds) {
    for (int width : {2, 3}) {
        const int format = SF_FORMAT_WAV | (width == 2 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
        const std::string path = write("cut" + std::to_string(width) + ".wav", format, 2, 60000, false);
        fs::resize_file(path, fs::file_size(path) - static_cast<uintmax_t>(20000 * 2 * width + width));
        std::vector<float> left, right, l, r;
        reference(path, left, right);
        ASSERT_LT(left.size(), 60000u);
        ours(path, 4096, 60000, l, r);
        size_t wrong = 0;
        for (size_t i = 0; i < l.size(); ++i)
            wrong += l[i] != (i < left.size() ? left[i] : 0.0f) || r[i] != (i < right.size() ? right[i] : 0.0f);
        EXPECT_EQ(wrong, 0u) << width << " bytes a sample";
    }
}

}  // namespace
