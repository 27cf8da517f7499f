// Writes the seed corpora of the fuzz targets: a few valid files made by the program's own
// writers, and a few broken on purpose. Run once when the formats change:
//   fuzz_make_seeds tests/fuzz/corpus

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"
#include "speaker/ModelFile.h"
#include "speaker/KeyFile.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/fuzz/FuzzSupport.h"

namespace quorvane::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes FromText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Encoded(std::string_view marker, const Bytes& plain) {
    const fs::path path = ScratchFolder() / "seed.crp";
    Require(EncodeBuffer(plain, path, marker, kFuzzKey, FileSubstitutionTable) == 1,
            "a seed cannot be encoded");
    Bytes bytes = ReadBytes(path);
    fs::remove(path);
    return bytes;
}

// Encoded files for the header and decode targets.
void EncodedSeeds(const fs::path& folder) {
    const Bytes thirteen = FromText("hello, world!");
    const Bytes valid = Encoded("annacryptedfile", thirteen);
    const Bytes cutShort(valid.begin(), valid.end() - 3);
    Bytes extra = valid;
    extra.push_back('x');
    const std::vector<std::pair<std::string, Bytes>> seeds = {
        {"valid-empty", Encoded("annacryptedfile", {})},
        {"valid-8", Encoded("annacryptedfile", FromText("8 bytes!"))},
        {"valid-13", valid},
        {"valid-speaker", Encoded("anna", Bytes(40, 0))},
        {"valid-trailing-byte", extra},
        {"broken-cut-short", cutShort},
        {"broken-pad-8", FromText("anna\n1\n8\n01234567")},
        {"broken-pad-without-blocks", FromText("anna\n0\n3\n")},
        {"broken-crlf", FromText("anna\r\n1\r\n0\r\n01234567")},
        {"broken-sign", FromText("anna\n-1\n0\n")},
        {"valid-leading-blanks", FromText("  \t\nanna\n1\n0\n01234567")},
        {"broken-no-last-lf", FromText("anna\n0\n0")},
        {"broken-long-marker", FromText(std::string(kMaxMarkerLength + 1, 'm') + "\n0\n0\n")},
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
    for (const char* target : {"header", "decode", "model", "keyfile"}) {
        fs::create_directories(root / target);
    }
    EncodedSeeds(root / "header");
    EncodedSeeds(root / "decode");
    ModelSeeds(root / "model");
    KeyFileSeeds(root / "keyfile");
    return 0;
}
