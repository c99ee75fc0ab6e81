// Audio files in and out through libsndfile.
#pragma once

#include <string>
#include <vector>

namespace tools {

struct AudioFile {
    int sampleRate = 0;
    int format = 0;  // libsndfile format word (major type | subtype)
    std::vector<float> left, right;  // a mono file fills both sides
};

// Reads a WAV, FLAC, AIFF or any file libsndfile knows. False with a reason
// in error when it cannot be read or has more than two channels.
bool readAudio(const std::string& path, AudioFile& file, std::string& error);

// Writes a stereo file. False with a reason in error.
bool writeStereo(const std::string& path, int format, int sampleRate, const std::vector<float>& left,
                 const std::vector<float>& right, std::string& error);

// The format word for a name ("wav", "flac", "aiff"), keeping the subtype of
// base where the container allows it. 0 for an unknown name.
int formatForName(const std::string& name, int base);

// File extension for a format word: "wav", "flac", "aiff".
std::string extensionFor(int format);

}  // namespace tools
