// Fuzzes the model file reader on arbitrary bytes. A model that ParseModelFile accepts must
// write back (SerialiseModelFile, WriteModelFile) to exactly the bytes it was read from, and
// those bytes must read back (ParseModelFile, ReadModelFile) to the same codebooks and
// threshold, bit for bit. A refused model leaves the arguments as they were, and
// ReadModelFile on the same bytes in a file decides the same way.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "speaker/ModelFile.h"
#include "tests/fuzz/FuzzSupport.h"

namespace quorvane::fuzz {
namespace {

using Books = std::array<VoiceCodebook, kModelPhraseCount>;

constexpr float kUntouchedThreshold = -12.5f;

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

bool SameModels(const Books& a, float aThreshold, const Books& b, float bThreshold) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].codewordCount != b[i].codewordCount ||
            CountFilledCodewords(a[i]) != CountFilledCodewords(b[i]) ||
            !SameBits(ExportCodewords(a[i]), ExportCodewords(b[i]))) {
            return false;
        }
    }
    return std::bit_cast<std::uint32_t>(aThreshold) == std::bit_cast<std::uint32_t>(bThreshold);
}

bool Untouched(const Books& books, float threshold) {
    for (const VoiceCodebook& book : books) {
        if (book.Trained()) {
            return false;
        }
    }
    return std::bit_cast<std::uint32_t>(threshold) ==
           std::bit_cast<std::uint32_t>(kUntouchedThreshold);
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);
    SilentNotifier silent;

    Books books;
    float threshold = kUntouchedThreshold;
    const bool parsed = ParseModelFile(bytes, books, threshold);

    const auto file = ScratchFolder() / "model.dat";
    WriteBytes(file, bytes);
    Books fromFile;
    float fileThreshold = kUntouchedThreshold;
    RecordingNotifier notices;
    const bool read = ReadModelFile(file, fromFile, fileThreshold, notices);
    Require(read == parsed, "ReadModelFile and ParseModelFile decide alike");
    Require(notices.Texts() == (read ? std::vector<std::string>{}
                                     : std::vector<std::string>{kErrorOpeningFilesMessage}),
            "ReadModelFile reports exactly its failure");

    if (!parsed) {
        Require(Untouched(books, threshold) && Untouched(fromFile, fileThreshold),
                "a refused model leaves the arguments unchanged");
    } else {
        Require(SameModels(books, threshold, fromFile, fileThreshold),
                "ReadModelFile and ParseModelFile read the same model");
        const std::vector<std::uint8_t> written = SerialiseModelFile(books, threshold);
        Require(written == std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                "an accepted model writes back to the bytes it was read from");
        Books again;
        float againThreshold = kUntouchedThreshold;
        Require(ParseModelFile(written, again, againThreshold) &&
                    SameModels(books, threshold, again, againThreshold),
                "the written model reads back equal");

        const auto rewritten = ScratchFolder() / "rewritten.dat";
        Require(WriteModelFile(rewritten, books, threshold, silent),
                "WriteModelFile writes an accepted model");
        Require(ReadBytes(rewritten) == written, "WriteModelFile writes the serialised bytes");
        Require(ReadModelFile(rewritten, again, againThreshold, silent) &&
                    SameModels(books, threshold, again, againThreshold),
                "the model file written reads back equal");
        std::filesystem::remove(rewritten);
    }
    std::filesystem::remove(file);
    return 0;
}
