// Fuzzes the key file reader on arbitrary text. No input may crash it; a key file that
// ParseKeyFile accepts, formatted again with FormatKeyFile, parses back to the same key and
// name; ReadKeyFile on the same bytes in a file decides the same way; a word that
// ParseKeyWord accepts, written as the key file writes it, reads back as the same word.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "speaker/KeyFile.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const GostKey untouched = {1, 2, 3, 4, 5, 6, 7, 8};

    std::string name;
    GostKey key = untouched;
    const bool parsed = ParseKeyFile(text, name, key);
    if (!parsed) {
        Require(key == untouched, "a refused key file leaves the key unchanged");
    } else {
        std::string nameAgain;
        GostKey keyAgain{};
        Require(ParseKeyFile(FormatKeyFile(name, key), nameAgain, keyAgain) && nameAgain == name &&
                    keyAgain == key,
                "a formatted key file parses back to the same key and name");
    }

    const auto file = ScratchFolder() / "key.txt";
    WriteBytes(file, std::span<const std::uint8_t>(data, size));
    std::string fileName;
    GostKey fileKey = untouched;
    Require(ReadKeyFile(file, fileName, fileKey) == parsed &&
                (!parsed || (fileName == name && fileKey == key)),
            "ReadKeyFile and ParseKeyFile read alike");
    std::filesystem::remove(file);

    std::uint32_t word = 0;
    if (ParseKeyWord(text, word)) {
        std::uint32_t wordAgain = ~word;
        Require(ParseKeyWord(std::to_string(static_cast<std::int32_t>(word)), wordAgain) &&
                    wordAgain == word,
                "a key word written as the key file writes it reads back");
    }
    return 0;
}
