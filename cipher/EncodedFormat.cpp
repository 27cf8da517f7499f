#include "cipher/EncodedFormat.h"

#include <algorithm>

namespace quorvane {

std::optional<TrailerVersion> TrailerMagicVersion(std::span<const std::uint8_t> bytes) {
    if (std::ranges::equal(bytes, kTrailerMagic)) {
        return TrailerVersion::V2;
    }
    if (std::ranges::equal(bytes, kTrailerMagicV1)) {
        return TrailerVersion::V1;
    }
    return std::nullopt;
}

bool StartsLikeTrailerMagic(std::span<const std::uint8_t> bytes) {
    const auto startsWith = [&](const std::array<std::uint8_t, kTrailerMagicBytes>& magic) {
        return bytes.size() <= magic.size() &&
               std::equal(bytes.begin(), bytes.end(), magic.begin());
    };
    return startsWith(kTrailerMagic) || startsWith(kTrailerMagicV1);
}

Trailer MakeTrailer(TrailerVersion version, const Tag& keyCheck, const Tag& fileTag) {
    const auto& magic = version == TrailerVersion::V1 ? kTrailerMagicV1 : kTrailerMagic;
    Trailer trailer{};
    std::copy(magic.begin(), magic.end(), trailer.begin());
    std::copy(keyCheck.begin(), keyCheck.end(), trailer.begin() + kTrailerMagicBytes);
    std::copy(fileTag.begin(), fileTag.end(), trailer.begin() + kTrailerMagicBytes + kTagBytes);
    return trailer;
}

std::span<const std::uint8_t, kTagBytes> TrailerKeyCheck(const Trailer& trailer) {
    return std::span(trailer).subspan<kTrailerMagicBytes, kTagBytes>();
}

std::span<const std::uint8_t, kTagBytes> TrailerFileTag(const Trailer& trailer) {
    return std::span(trailer).subspan<kTrailerMagicBytes + kTagBytes, kTagBytes>();
}

TrailerFound LocateTrailer(std::uint64_t extra, std::span<const std::uint8_t> first) {
    if (extra == 0) {
        return {};
    }
    // Either version's magic, or the start of one when fewer bytes follow.
    const std::span<const std::uint8_t> start =
        first.first(std::min(first.size(), kTrailerMagicBytes));
    const std::optional<TrailerVersion> version =
        start.size() == kTrailerMagicBytes ? TrailerMagicVersion(start) : std::nullopt;
    const bool magic =
        version.has_value() || (start.size() < kTrailerMagicBytes && StartsLikeTrailerMagic(start));
    if (!magic && extra != kTrailerBytes) {
        return {};
    }
    if (!version || extra != kTrailerBytes) {
        return {TrailerPlace::Damaged, kLatestTrailer};
    }
    return {TrailerPlace::Whole, *version};
}

}  // namespace quorvane
