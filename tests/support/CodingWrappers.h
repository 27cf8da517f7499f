#pragma once

// The encoded-file operations in the shape of the system's first interface (1 on success, 0 on
// any failure), for tests and benchmarks that only ask whether a file was coded. The program
// itself uses the checked functions of cipher/EncodedFile.h, which say why.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"

namespace quorvane {

// EncodeFileChecked: 1 when output holds the complete encoded file.
[[nodiscard]] inline int EncodeFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, std::string_view marker,
                                    const GostKey& key, const SubstitutionTable& table,
                                    const ProgressFn& progress = {}) {
    CodingOptions options;
    options.progress = progress;
    return EncodeFileChecked(input, output, marker, key, table, options) ? 1 : 0;
}

// DecodeFileChecked: 1 when the whole plain data was committed. Files without a check value
// decode only with allowUnverified.
[[nodiscard]] inline int DecodeFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, std::string_view marker,
                                    const GostKey& key, const SubstitutionTable& table,
                                    const ProgressFn& progress = {}, bool allowUnverified = false) {
    CodingOptions options;
    options.progress = progress;
    options.allowUnverified = allowUnverified;
    return DecodeFileChecked(input, output, marker, key, table, options) ? 1 : 0;
}

// EncodeBufferChecked with a new file's usual permissions.
[[nodiscard]] inline int EncodeBuffer(std::span<const std::uint8_t> plain,
                                      const std::filesystem::path& output, std::string_view marker,
                                      const GostKey& key, const SubstitutionTable& table) {
    return EncodeBufferChecked(plain, output, marker, key, table, OutputMode::Replace,
                               FilePrivacy::Normal)
               ? 1
               : 0;
}

// DecodeToBufferChecked: 1 with the plain data; 0 with plain empty.
[[nodiscard]] inline int DecodeToBuffer(const std::filesystem::path& input, std::string_view marker,
                                        const GostKey& key, const SubstitutionTable& table,
                                        std::vector<std::uint8_t>& plain, std::uint64_t maxBytes,
                                        bool allowUnverified = false) {
    CodingOptions options;
    options.allowUnverified = allowUnverified;
    Result<DecodedBuffer<std::vector<std::uint8_t>>> decoded =
        DecodeToBufferChecked(input, marker, key, table, maxBytes, options);
    plain = decoded ? std::move(decoded->plain) : std::vector<std::uint8_t>();
    return decoded ? 1 : 0;
}

}  // namespace quorvane
