#include "audio_io.h"

#include <sndfile.h>

#include <algorithm>

namespace tools {

bool readAudio(const std::string& path, AudioFile& file, std::string& error) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (sf == nullptr) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.channels > 2) {
        sf_close(sf);
        error = path + " has " + std::to_string(info.channels) + " channels; a channel takes a mono or stereo file";
        return false;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_float(sf, interleaved.data(), info.frames);
    sf_close(sf);
    if (got < 0) {
        error = "cannot read the samples of " + path;
        return false;
    }
    const auto frames = static_cast<size_t>(got);
    file.sampleRate = info.samplerate;
    file.format = info.format;
    file.left.resize(frames);
    file.right.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        file.left[i] = interleaved[i * static_cast<size_t>(info.channels)];
        file.right[i] = interleaved[i * static_cast<size_t>(info.channels) + static_cast<size_t>(info.channels - 1)];
    }
    return true;
}

bool writeStereo(const std::string& path, int format, int sampleRate, const std::vector<float>& left,
                 const std::vector<float>& right, std::string& error) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (sf == nullptr) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    // Out-of-range samples are clipped by the file format, not wrapped.
    sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const size_t frames = std::min(left.size(), right.size());
    std::vector<float> interleaved(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    const sf_count_t written = sf_writef_float(sf, interleaved.data(), static_cast<sf_count_t>(frames));
    const int closed = sf_close(sf);
    if (written != static_cast<sf_count_t>(frames) || closed != 0) {
        error = "cannot write all of " + path;
        return false;
    }
    return true;
}

int formatForName(const std::string& name, int base) {
    int major = 0;
    if (name == "wav") major = SF_FORMAT_WAV;
    else if (name == "flac") major = SF_FORMAT_FLAC;
    else if (name == "aiff" || name == "aif") major = SF_FORMAT_AIFF;
    else return 0;
    for (int subtype : {base & SF_FORMAT_SUBMASK, static_cast<int>(SF_FORMAT_PCM_24)}) {
        SF_INFO probe{};
        probe.samplerate = 44100;
        probe.channels = 2;
        probe.format = major | subtype;
        if (subtype != 0 && sf_format_check(&probe)) return probe.format;
    }
    return major | SF_FORMAT_PCM_16;
}

std::string extensionFor(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC: return "flac";
    case SF_FORMAT_AIFF: return "aiff";
    default: return "wav";
    }
}

}  // namespace tools
