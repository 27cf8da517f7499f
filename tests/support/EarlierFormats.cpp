#include "tests/support/EarlierFormats.h"

#include <optional>

#include "cipher/EncodedWriter.h"
#include "cipher/MeasuredInput.h"

namespace quorvane {

namespace {

Status EncodeWithTrailer(const std::filesystem::path& input, const std::filesystem::path& output,
                         std::string_view marker, const GostKey& key,
                         const SubstitutionTable& table, std::optional<TrailerVersion> trailer,
                         const CodingOptions& options) {
    MeasuredInput source;
    if (Status opened = source.Open(input); !opened) {
        return opened;
    }
    return EncodeFrom(source, {output, marker, key, table, FilePrivacy::Normal, trailer}, options);
}

}  // namespace

Status EncodeFileWithTrailerVersion(const std::filesystem::path& input,
                                    const std::filesystem::path& output, std::string_view marker,
                                    const GostKey& key, const SubstitutionTable& table,
                                    TrailerVersion version, const CodingOptions& options) {
    return EncodeWithTrailer(input, output, marker, key, table, version, options);
}

Status EncodeFileWithoutTrailer(const std::filesystem::path& input,
                                const std::filesystem::path& output, std::string_view marker,
                                const GostKey& key, const SubstitutionTable& table,
                                const CodingOptions& options) {
    return EncodeWithTrailer(input, output, marker, key, table, std::nullopt, options);
}

}  // namespace quorvane
