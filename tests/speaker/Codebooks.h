#pragma once

// Codebooks built by hand for tests, with values a test can work out.

#include <cstddef>

#include "analysis/VoiceCodebook.h"

namespace quorvane::testing {

// A codebook of `count` codewords, all in use: codeword i is labelled i, holds the
// components value(i, j) for j in 0..kCepstrumOrder-1 and has members(i) members.
template <typename ValueFn, typename MembersFn>
VoiceCodebook FilledCodebook(int count, ValueFn value, MembersFn members) {
    VoiceCodebook codebook;
    codebook.maxCodewords = count;
    codebook.codewordCount = count;
    codebook.codewords.emplace(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Codeword& entry = (*codebook.codewords)[static_cast<std::size_t>(i)];
        for (int j = 0; j < kCepstrumOrder; ++j) {
            entry.values.push_back(value(i, j));
        }
        entry.label = i;
        entry.memberCount = members(i);
    }
    return codebook;
}

}  // namespace quorvane::testing
