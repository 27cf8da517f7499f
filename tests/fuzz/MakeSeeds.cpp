// Writes the seed corpora of the fuzz targets: a few valid files made by the program's own
// writers, and a few broken on purpose. Run once when the formats change:
//   fuzz_make_seeds tests/fuzz/corpus

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"
#include "speaker/KeyFile.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/CodingWrappers.h"
#include "tests/support/EarlierFormats.h"

namespace quorvane::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes FromText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// What the program writes (the latest trailer) or earlier versions wrote (the trailer of
// version 1, or none) for plain under marker.
Bytes Encoded(std::string_view marker, const Bytes& plain,
              std::optional<TrailerVersion> trailer = kLatestTrailer) {
    const fs::path path = ScratchFolder() / "seed.crp";
    if (trailer == kLatestTrailer) {
        Require(EncodeBuffer(plain, path, marker, kFuzzKey, FileSubstitutionTable) == 1,
                "a seed cannot be encoded");
    } else {
        const fs::path plainPath = ScratchFolder() / "seed.plain";
        WriteBytes(plainPath, plain);
        const Status written = trailer
                                   ? EncodeFileWithTrailerVersion(plainPath, path, marker, kFuzzKey,
                                                                  FileSubstitutionTable, *trailer)
                                   : EncodeFileWithoutTrailer(plainPath, path, marker, kFuzzKey,
                                                              FileSubstitutionTable);
        Require(static_cast<bool>(written), "a seed cannot be encoded");
        fs::remove(plainPath);
    }
    Bytes bytes = ReadBytes(path);
    fs::remove(path);
    return bytes;
}

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The file with the byte at offset (from the end when negative) changed.
Bytes Flipped(Bytes bytes, std::ptrdiff_t offset) {
    const auto at = offset < 0 ? static_cast<std::ptrdiff_t>(bytes.size()) + offset : offset;
    bytes[static_cast<std::size_t>(at)] ^= 0x01;
    return bytes;
}

Bytes Model(std::int32_t a, std::int32_t b, std::int32_t c, float threshold);

// Plain data whose first block enciphers to the trailer's magic, then eight blocks more: the
// last 72 bytes of its file without a trailer begin with the magic.
Bytes MagicAtTheEnd() {
    std::uint32_t block[2] = {0, 0};
    for (std::size_t b = 0; b < 8; ++b) {
        block[b / 4] |= std::uint32_t{kTrailerMagic[b]} << (8 * (b % 4));
    }
    for (int pass = 0; pass < kEncryptionPasses; ++pass) {
        GostDecryptBlock(block, block, kFuzzKey, FileSubstitutionTable);
    }
    Bytes plain(72, 0x42);
    for (std::size_t b = 0; b < 8; ++b) {
        plain[b] = static_cast<std::uint8_t>(block[b / 4] >> (8 * (b % 4)));
    }
    return plain;
}

// Encoded files for the header and decode targets: with a trailer, without one (as earlier
// versions wrote them), with a damaged trailer, and with broken headers or lengths.
void EncodedSeeds(const fs::path& folder) {
    const Bytes thirteen = FromText("hello, world!");
    const Bytes tagged = Encoded("annacryptedfile", thirteen);
    const Bytes untagged = Encoded("annacryptedfile", thirteen, std::nullopt);
    const Bytes taggedV1 = Encoded("annacryptedfile", thirteen, TrailerVersion::V1);
    Bytes confused = taggedV1;
    std::copy(kTrailerMagic.begin(), kTrailerMagic.end(),
              confused.end() - static_cast<std::ptrdiff_t>(kTrailerBytes));
    const Bytes trailer(tagged.end() - static_cast<std::ptrdiff_t>(kTrailerBytes), tagged.end());
    const auto headerLength = static_cast<std::ptrdiff_t>(untagged.size() - 16);
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"tagged-empty", Encoded("annacryptedfile", {})},
        {"tagged-8", Encoded("annacryptedfile", FromText("8 bytes!"))},
        {"tagged-13", tagged},
        {"tagged-speaker", Encoded("anna", Model(1, 1, 1, 0.5f))},
        {"tagged-v1-13", taggedV1},
        {"tagged-v1-speaker", Encoded("anna", Model(1, 1, 1, 0.5f), TrailerVersion::V1)},
        {"damaged-v1-file-tag", Flipped(taggedV1, -1)},
        {"damaged-v1-under-v2-magic", confused},
        {"untagged-empty", Encoded("annacryptedfile", {}, std::nullopt)},
        {"untagged-13", untagged},
        {"untagged-trailing-byte", Joined(untagged, FromText("x"))},
        {"untagged-other-bytes-after", Joined(untagged, FromText("not a tag\n"))},
        {"untagged-magic-in-last-cipher-bytes",
         Encoded("annacryptedfile", MagicAtTheEnd(), std::nullopt)},
        {"untagged-leading-blanks", FromText("  \t\nanna\n1\n0\n01234567")},
        {"damaged-magic", Flipped(tagged, -static_cast<std::ptrdiff_t>(kTrailerBytes))},
        {"damaged-key-check", Flipped(tagged, -40)},
        {"damaged-file-tag", Flipped(tagged, -1)},
        {"damaged-cipher-data", Flipped(tagged, headerLength)},
        {"damaged-trailer-cut", Bytes(tagged.begin(), tagged.end() - 3)},
        {"damaged-trailer-doubled", Joined(tagged, trailer)},
        {"damaged-byte-after-trailer", Joined(tagged, FromText("x"))},
        {"broken-cut-short", Bytes(untagged.begin(), untagged.end() - 3)},
        {"broken-pad-8", FromText("anna\n1\n8\n01234567")},
        {"broken-pad-without-blocks", FromText("anna\n0\n3\n")},
        {"broken-crlf", FromText("anna\r\n1\r\n0\r\n01234567")},
        {"broken-sign", FromText("anna\n-1\n0\n")},
        {"broken-huge-block-count", FromText("anna\n99999999999999999999\n0\n")},
        {"broken-block-count-over-limit", FromText("anna\n576460752303423489\n0\n")},
        {"broken-no-last-lf", FromText("anna\n0\n0")},
        {"broken-long-marker", FromText(std::string(kMaxMarkerLength + 1, 'm') + "\n0\n0\n")},
    };
    for (const auto& [name, bytes] : seeds) {
        WriteBytes(folder / name, bytes);
    }
}

// An input of the trailer target: the plain data, then the choices it takes from the end
// (FuzzedDataProvider takes integers from the last byte backwards, most significant first).
struct TrailerEdit {
    std::uint8_t kind;  // 0 change, 1 insert, 2 delete, 3 cut, 4 append a copy; + 0x80 from the end
    std::uint16_t where;
    std::uint8_t value;
};

Bytes TrailerInput(const Bytes& plain, bool speakerFile, std::uint8_t wrongWord,
                   const std::vector<TrailerEdit>& edits, bool versionOne = false) {
    const auto flags = static_cast<std::uint8_t>((speakerFile ? 1 : 0) | (versionOne ? 2 : 0));
    Bytes taken = {flags, wrongWord, 0, 0, 0, 0x10, static_cast<std::uint8_t>(edits.size())};
    for (const TrailerEdit& edit : edits) {
        taken.push_back(edit.kind);
        taken.push_back(static_cast<std::uint8_t>(edit.where >> 8));
        taken.push_back(static_cast<std::uint8_t>(edit.where));
        taken.push_back(edit.value);
    }
    Bytes input = plain;
    input.insert(input.end(), taken.rbegin(), taken.rend());
    return input;
}

void TrailerSeeds(const fs::path& folder) {
    const Bytes thirteen = FromText("hello, world!");
    const Bytes model = Model(1, 1, 1, 0.5f);
    constexpr std::uint8_t kFromEnd = 0x80;
    const auto last = static_cast<std::uint16_t>(kTrailerBytes - 1);  // the trailer's first byte
    const auto version = static_cast<std::uint16_t>(last - 6);        // the magic's version digit
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"unchanged", TrailerInput(thirteen, false, 0, {})},
        {"unchanged-empty", TrailerInput({}, false, 8, {})},
        {"unchanged-speaker", TrailerInput(model, true, 3, {})},
        {"magic-changed", TrailerInput(thirteen, false, 1, {{kFromEnd, last, 0x20}})},
        {"tag-changed", TrailerInput(thirteen, true, 2, {{kFromEnd, 0, 0x01}})},
        {"trailer-removed", TrailerInput(thirteen, false, 4, {{kFromEnd | 3, last, 0}})},
        {"trailer-cut", TrailerInput(model, true, 5, {{kFromEnd | 3, 10, 0}})},
        {"trailer-appended", TrailerInput(thirteen, false, 6, {{kFromEnd | 4, last, last}})},
        {"byte-inserted", TrailerInput(thirteen, false, 7, {{1, 0, ' '}})},
        {"byte-deleted", TrailerInput(model, true, 8, {{kFromEnd | 2, 80, 0}})},
        {"unchanged-v1", TrailerInput(thirteen, false, 1, {}, true)},
        {"unchanged-v1-speaker", TrailerInput(model, true, 8, {}, true)},
        {"v1-as-v2", TrailerInput(thirteen, false, 2, {{kFromEnd, version, 0x03}}, true)},
        {"v2-as-v1", TrailerInput(model, true, 3, {{kFromEnd, version, 0x03}})},
        {"v1-tag-changed", TrailerInput(thirteen, false, 5, {{kFromEnd, 0, 0x80}}, true)},
        {"several", TrailerInput(thirteen, false, 0,
                                 {{kFromEnd | 3, last, 0}, {kFromEnd | 1, 0, 'Q'}, {0, 2, 4}})},
    };
    for (const auto& [name, bytes] : seeds) {
        WriteBytes(folder / name, bytes);
    }
}

VoiceCodebook Book(std::int32_t count, float scale) {
    std::vector<float> rows(static_cast<std::size_t>(count) * kModelRowLength);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = scale * (static_cast<float>(i % 37) - 18.0f);
    }
    VoiceCodebook book;
    ImportCodewords(book, rows, count, kModelRowLength);
    return book;
}

Bytes Model(std::int32_t a, std::int32_t b, std::int32_t c, float threshold) {
    const std::array<VoiceCodebook, 3> books = {Book(a, 0.25f), Book(b, -0.125f), Book(c, 3.0f)};
    return SerialiseModelFile(books, threshold);
}

void ModelSeeds(const fs::path& folder) {
    const Bytes small = Model(1, 2, 3, 0.75f);
    Bytes cutShort(small.begin(), small.end() - 1);
    Bytes tooMany = Model(0, 0, 0, 1.0f);
    tooMany[0] = kMaxCodewords + 1;
    Bytes notANumber = small;
    notANumber[4 + 3] = 0x7F;  // first value of phrase 1: exponent all ones
    notANumber[4 + 2] = 0xC0;
    Bytes extra = small;
    extra.push_back(0);
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"valid-empty-books", Model(0, 0, 0, 0.5f)},
        {"valid-small", small},
        {"valid-eight-each", Model(8, 8, 8, 12.0f)},
        {"broken-cut-short", cutShort},
        {"broken-count-65", tooMany},
        {"broken-nan", notANumber},
        {"broken-extra-byte", extra},
    };
    for (const auto& [name, bytes] : seeds) {
        WriteBytes(folder / name, bytes);
    }
}

void KeyFileSeeds(const fs::path& folder) {
    const GostKey key = {0x00000000u, 0x00000001u, 0x7FFFFFFFu, 0x80000000u,
                         0xFFFFFFFFu, 0x12345678u, 0x9ABCDEF0u, 0x0000FFFFu};
    const std::string valid = FormatKeyFile("anna", key);
    std::string crlf;
    for (const char c : valid) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const std::string words = "0\n1\n2147483647\n-2147483648\n-1\n305419896\n-1698898192\n65535\n";
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"valid", valid},
        {"valid-crlf", crlf},
        {"valid-no-headings", words},
        {"valid-blank-lines", "Users name: bob\n\nYour key:\n\n" + words},
        {"broken-seven-words", "Users name: bob\nYour key:\n1\n2\n3\n4\n5\n6\n7\n"},
        {"broken-out-of-range", "2147483648\n1\n2\n3\n4\n5\n6\n7\n"},
        {"broken-letters", "Your key:\n1\n2\n3x\n4\n5\n6\n7\n8\n"},
        {"broken-name-only", "Users name: anna\n"},
    };
    for (const auto& [name, text] : seeds) {
        WriteBytes(folder / name, FromText(text));
    }
}

// Protected speaker files under the passphrase "fuzz" (the one the target tries) with the costs
// the program writes, the least a reader accepts; files whose costs lie outside the bounds
// (written cheaply below them, or edited above them); and a few broken ones.
void ProtectedSeeds(const fs::path& folder) {
    constexpr std::string_view kPassphrase = "fuzz";
    const auto protectedFile = [&](const KdfParameters& kdf, std::string_view passphrase) {
        const fs::path path = ScratchFolder() / "seed.qvlock";
        const std::array<VoiceCodebook, 3> books = {Book(2, 0.25f), Book(1, -0.125f),
                                                    Book(3, 3.0f)};
        Require(WriteProtectedFile(path, "anna", books, 0.75f,
                                   std::span<const char>(passphrase.data(), passphrase.size()), kdf,
                                   OutputMode::Replace)
                    .has_value(),
                "a protected seed cannot be written");
        Bytes bytes = ReadBytes(path);
        fs::remove(path);
        return bytes;
    };
    const Bytes valid = protectedFile(kProtectionKdf, kPassphrase);
    // The same file stating other costs (17 lanes; 4 passes of 512 MiB, each within its bound
    // but their work above the ceiling): refused before anything is derived.
    const auto edited = [&valid](std::string_view costs) {
        const std::string written = ":3:65536:4:";
        std::string text(valid.begin(), valid.end());
        text.replace(text.find(written), written.size(), costs);
        return Bytes(text.begin(), text.end());
    };
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"valid", valid},
        {"wrong-passphrase", protectedFile(kProtectionKdf, "other")},
        {"costs-below-floor", protectedFile({1, 16, 2}, kPassphrase)},
        {"costs-above-ceiling", edited(":3:65536:17:")},
        {"costs-above-work", edited(":4:524288:4:")},
        {"damaged-cipher-data", Flipped(valid, -static_cast<std::ptrdiff_t>(kTrailerBytes) - 1)},
        {"damaged-key-check", Flipped(valid, -static_cast<std::ptrdiff_t>(kTrailerBytes) + 9)},
        {"damaged-salt", Flipped(valid, 30)},
        {"broken-no-trailer", Bytes(valid.begin(), valid.end() - kTrailerBytes)},
        {"broken-marker", FromText("qvlock1:argon2id:1:16:2:00:anna\n0\n0\n")},
    };
    for (const auto& [name, bytes] : seeds) {
        WriteBytes(folder / name, bytes);
    }
}

}  // namespace
}  // namespace quorvane::fuzz

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using namespace quorvane::fuzz;
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"header", "decode", "trailer", "model", "keyfile", "protected"}) {
        fs::create_directories(root / target);
    }
    EncodedSeeds(root / "header");
    EncodedSeeds(root / "decode");
    TrailerSeeds(root / "trailer");
    ModelSeeds(root / "model");
    KeyFileSeeds(root / "keyfile");
    ProtectedSeeds(root / "protected");
    return 0;
}
