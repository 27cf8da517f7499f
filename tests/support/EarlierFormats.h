#pragma once

// Encoded files in the formats of earlier releases, for compatibility tests, fuzz seeds and for
// measuring what the trailer costs: with the trailer of the previous release (version 1), or
// without a trailer at all. The program itself always writes the latest trailer.

#include <filesystem>
#include <string_view>

#include "cipher/Coded.h"
#include "cipher/FileTag.h"
#include "cipher/Gost.h"

namespace quorvane {

// EncodeFileChecked writing the trailer of `version`.
[[nodiscard]] Status EncodeFileWithTrailerVersion(const std::filesystem::path& input,
                                                  const std::filesystem::path& output,
                                                  std::string_view marker, const GostKey& key,
                                                  const SubstitutionTable& table,
                                                  TrailerVersion version,
                                                  const CodingOptions& options = {});

// EncodeFileChecked writing no trailer, as releases before the check value did.
[[nodiscard]] Status EncodeFileWithoutTrailer(const std::filesystem::path& input,
                                              const std::filesystem::path& output,
                                              std::string_view marker, const GostKey& key,
                                              const SubstitutionTable& table,
                                              const CodingOptions& options = {});

}  // namespace quorvane
