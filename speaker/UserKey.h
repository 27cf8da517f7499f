#pragma once

// A user's security key: the cipher key of the user's files, derived from the user's
// voice models. It is never stored except in the key file the user may save at enrolment.

#include <span>

#include "analysis/VoiceCodebook.h"
#include "cipher/Gost.h"

namespace quorvane {

// Eight words, word 0 first.
using UserKey = GostKey;

// The two fixed constants of the key derivation (whole numbers, exact in float32).
// Frozen: every key ever saved depends on them; documented in docs/FORMAT.md.
inline constexpr float kKeyWordStep = 7919.0f;      // four decimal digits
inline constexpr float kKeyWordOffset = 104729.0f;  // six decimal digits

// The user's key from the three phrase codebooks (or a record's codebooks, which
// give the same key). A codebook with fewer than 8 filled codewords adds nothing.
// Computed exactly, so the key is the same on every platform and compiler.
[[nodiscard]] GostKey DeriveUserKey(std::span<const VoiceCodebook, 3> codebooks);

}  // namespace quorvane
