// Running the built zrenc in a private settings home, and the inputs the tests feed it.
#pragma once

#include "support/TestSupport.h"

#include <string>
#include <vector>

namespace zrtest {

fs::path ZrencProgram();

// A canonical WAV file (tag 1, or 3 for float) of generated music.
struct WavSpec {
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    bool isFloat = false;
    size_t frames = 44100;
    uint32_t seed = 1;
};
std::vector<uint8_t> WavBytes(const WavSpec& spec, std::vector<uint8_t>* pcm = nullptr);
std::vector<uint8_t> MakeWav(const fs::path& path, const WavSpec& spec);
// The sample data of a canonical 44-byte-header WAV file.
std::vector<uint8_t> WavData(const fs::path& path);

// Every file below `folder`, hidden ones included, as paths relative to it.
std::vector<std::string> FilesIn(const fs::path& folder);

// A zrenc run in the background, for signals.
class Background {
public:
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const fs::path& log);
    ~Background();
    void Signal(int signo);
    // The exit status (128 + signal when killed by one); -1 when it did not end in time.
    int Wait(int seconds);

private:
    int m_pid = -1;
};

} // namespace zrtest
