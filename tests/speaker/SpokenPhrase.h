#pragma once

// Real voices for end-to-end tests: phrases spoken by espeak-ng and converted
// with sox at test time. Tests skip (with a message) only where espeak-ng is
// not installed.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

namespace quorvane::testing {

inline bool CommandAvailable(const std::string& command) {
    const std::string probe = command + " --version > /dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

inline bool EspeakAvailable() {
    static const bool available = CommandAvailable("espeak-ng");
    return available;
}

// Speaks `text` with espeak-ng's `voice` into a WAV file at espeak's own rate.
inline bool SpeakToWav(const std::string& voice, const std::string& text,
                       const std::filesystem::path& wav) {
    const std::string command =
        "espeak-ng -v " + voice + " -w " + Quoted(wav) + " \"" + text + "\" > /dev/null 2>&1";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(wav);
}

// Converts any sound file with sox, repeatably and without dither. `format`
// holds sox output options, e.g. "-r 11025 -c 1 -b 16"; `effects` sox effects
// applied on the way, e.g. "gain -n -3".
inline bool ConvertWithSox(const std::filesystem::path& input, const std::string& format,
                           const std::filesystem::path& output, const std::string& effects = "") {
    const std::string command = "sox -R -D " + Quoted(input) + " " + format + " " + Quoted(output) +
                                " " + effects + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(output);
}

// The phrase as 16-bit mono samples at 11025 Hz; false when a tool failed.
inline bool SpeakPhrase(const std::string& voice, const std::string& text,
                        std::vector<std::int16_t>& samples) {
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "spoken.wav";
    const std::filesystem::path raw = folder.Path() / "spoken.raw";
    if (!SpeakToWav(voice, text, wav) ||
        !ConvertWithSox(wav, "-r 11025 -c 1 -b 16 -e signed-integer -L -t raw", raw)) {
        return false;
    }
    std::ifstream in(raw, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    samples.clear();
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        // sox writes raw samples little-endian on every host.
        const auto value = static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
        samples.push_back(static_cast<std::int16_t>(value));
    }
    return !samples.empty();
}

}  // namespace quorvane::testing
