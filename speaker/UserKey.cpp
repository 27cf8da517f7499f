#include "speaker/UserKey.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "speaker/ModelFile.h"

namespace quorvane {

namespace {

// Rows and components of each codebook that feed the key: the first eight filled
// codewords, and of each the first 21 of its 22 components.
constexpr std::int32_t kKeyRows = 8;
constexpr std::int32_t kKeyComponents = kCepstrumOrder - 1;
constexpr int kKeyWordRotation = 14;

}  // namespace

// Why the multiplication is exact: the multiplier (k + 1) * kKeyWordStep + kKeyWordOffset
// is a whole number below 2^18 (at most 8 * 7919 + 104729 = 168081), and s[k] is a float32
// with a 24-bit significand. Their product needs at most 18 + 24 = 42 significant bits,
// which a double (53 bits) holds exactly, so the product is the exact real product on
// every IEEE platform, whatever the extended precision of the machine. The truncation of
// that exact value is then exact too. Products of 2^63 or more (only from absurd codeword
// values) and NaN give the integer 0x8000000000000000, whose low 32 bits are 0.
GostKey DeriveUserKey(std::span<const VoiceCodebook, 3> codebooks) {
    std::array<float, kKeyRows> sums{};
    for (const VoiceCodebook& codebook : codebooks) {
        if (CountFilledCodewords(codebook) < kKeyRows) {
            continue;
        }
        const std::vector<float> rows = ExportCodewords(codebook);
        const std::size_t stride = static_cast<std::size_t>(codebook.cepstrumOrder);
        const std::size_t components = std::min(static_cast<std::size_t>(kKeyComponents), stride);
        for (std::size_t r = 0; r < static_cast<std::size_t>(kKeyRows); ++r) {
            for (std::size_t i = 0; i < components; ++i) {
                const double root = std::sqrt(static_cast<double>(std::fabs(rows[r * stride + i])));
                // The root is taken in double, the running sum kept in float32.
                sums[r] = static_cast<float>(static_cast<double>(sums[r]) + root);
            }
        }
    }
    GostKey key{};
    for (std::size_t k = 0; k < key.size(); ++k) {
        const double multiplier = static_cast<double>(k + 1) * static_cast<double>(kKeyWordStep) +
                                  static_cast<double>(kKeyWordOffset);
        const double product = multiplier * static_cast<double>(sums[k]);
        constexpr double kTwoPow63 = 9223372036854775808.0;
        const std::int64_t whole = (std::fabs(product) < kTwoPow63)
                                       ? static_cast<std::int64_t>(product)
                                       : std::numeric_limits<std::int64_t>::min();
        const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
        key[k] = std::rotl(low, kKeyWordRotation);
    }
    return key;
}

}  // namespace quorvane
