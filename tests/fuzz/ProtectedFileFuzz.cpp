// Fuzzes the reader of protected speaker files on arbitrary bytes. The marker parser must
// decide exactly as a parser written here from docs/FORMAT.md, and an accepted marker must
// write back to itself. When the stated Argon2 costs are small enough to try, unlocking with
// the passphrase kPassphrase must agree with the reference reader under the documented key:
// Done only for a file whose tag verifies and whose model parses, WrongPassphrase only when
// the key check refuses the key before anything is deciphered; the models are untouched
// unless Done. Loading the folder lists the user exactly when the marker parses.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces/Notifier.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/ReferenceReader.h"

namespace quorvane::fuzz {
namespace {

constexpr std::string_view kPassphrase = "fuzz";
// Unlocking is tried only below this memory times passes, to keep runs fast.
constexpr std::uint64_t kMaxTriedKiBPasses = 1024;

bool Decimal(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& value) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value >= low && value <= high;
}

// The marker layout of docs/FORMAT.md, "Protected speaker files".
bool ReferenceMarker(std::string_view marker, std::uint64_t& passes, std::uint64_t& memory) {
    std::vector<std::string_view> fields;
    for (int i = 0; i < 6; ++i) {
        const std::size_t end = marker.find(':');
        if (end == std::string_view::npos) {
            return false;
        }
        fields.push_back(marker.substr(0, end));
        marker.remove_prefix(end + 1);
    }
    std::uint64_t lanes = 0;
    return fields[0] == "qvlock1" && fields[1] == "argon2id" && Decimal(fields[2], 1, 64, passes) &&
           Decimal(fields[4], 1, 64, lanes) && Decimal(fields[3], 8 * lanes, 4194304, memory) &&
           fields[5].size() == 32 &&
           fields[5].find_first_not_of("0123456789abcdef") == std::string_view::npos &&
           !marker.empty() && marker.find(':') == std::string_view::npos;
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto folder = ScratchFolder() / "Speakers";
    std::filesystem::create_directories(folder);
    const auto file = folder / "user.qvlock";
    WriteBytes(file, bytes);

    std::string token;
    const bool hasToken = ReferenceToken(bytes, token);
    std::uint64_t passes = 0;
    std::uint64_t memory = 0;
    const bool documented = hasToken && ReferenceMarker(token, passes, memory);
    ProtectedHeader header;
    const bool parsed = ReadProtectedHeader(file, header);
    Require(parsed == documented, "the marker parser decides as the documented layout");
    if (parsed) {
        Require(ProtectedMarker(header) == token, "an accepted marker writes back to itself");
    }

    SilentNotifier silent;
    UserList users;
    Require(LoadProtectedUsers(folder, users, silent) == (parsed ? 1 : 0),
            "loading lists the user exactly when the marker parses");
    Require(!parsed || (users.Find(header.name) != nullptr && users.Find(header.name)->locked),
            "a listed protected user is locked");

    if (parsed && passes * memory <= kMaxTriedKiBPasses) {
        std::array<VoiceCodebook, kModelPhraseCount> books;
        float threshold = -3.5f;
        const UnlockStatus status = ReadProtectedFile(
            file, std::span<const char>(kPassphrase.data(), kPassphrase.size()), books, threshold);
        GostKey key{};
        Require(DerivePassphraseKey(std::span<const char>(kPassphrase.data(), kPassphrase.size()),
                                    header.salt, header.kdf, key),
                "the stated costs derive a key");
        const ReferenceResult reference =
            ReferenceRead(bytes, token, key, StoreSubstitutionTable, false);
        std::array<VoiceCodebook, kModelPhraseCount> expected;
        float expectedThreshold = 0.0f;
        const bool modelParses = reference.status == CodingStatus::Done && reference.tagVerified &&
                                 ParseModelFile(reference.plain, expected, expectedThreshold);
        Require((status == UnlockStatus::Done) == modelParses,
                "unlocking succeeds exactly for a verified file holding a model");
        if (status == UnlockStatus::WrongPassphrase) {
            Require(reference.status == CodingStatus::WrongKeyOrDamaged && reference.refusedAtOpen,
                    "a wrong passphrase is told only when the key check refuses the key");
        }
        if (status != UnlockStatus::Done) {
            Require(threshold == -3.5f && !books[0].Trained(),
                    "a refused file leaves the models untouched");
        } else {
            Require(threshold == expectedThreshold, "the model read is the file's");
        }
    }
    std::filesystem::remove(file);
    return 0;
}
