#pragma once

// Users and files the workflow tests share: a registered user with hand-made codebooks
// and plain files written in a scratch folder.

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/VoiceCodebook.h"
#include "tests/speaker/Codebooks.h"

namespace quorvane::testing {

// Three equal codebooks of ten filled codewords, value + 0.25 * (i + j).
inline std::array<VoiceCodebook, 3> Phrases(float value) {
    const VoiceCodebook book = FilledCodebook(
        10, [value](int i, int j) { return value + 0.25f * static_cast<float>(i + j); },
        [](int) { return 5; });
    return {book, book, book};
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace quorvane::testing
