// Fuzzes the reader of protected speaker files on arbitrary bytes. The marker parser must
// decide exactly as a parser written here from docs/FORMAT.md, and an accepted marker must
// write back to itself. A file is opened exactly when its marker parses and its Argon2 costs lie
// within the documented bounds; one outside them is refused before any key is derived. For an
// opened file, decoding under the key the passphrase kPassphrase derives must agree with the
// reference reader under that key: Done only for a file whose tag verifies and whose model
// parses, WrongPassphrase only when the key check refuses the key before anything is
// deciphered; the models are untouched unless Done. Loading the folder lists the user exactly
// when the marker parses. Keys are derived (at the floor's cost, a fraction of a second) for the
// first few salts and costs met and then kept, so the mutations of the seeds' cipher data run at
// full speed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
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
// Salts and costs whose key is derived and kept; inputs with others are not decoded.
constexpr std::size_t kMaxKeptKeys = 8;

bool Decimal(std::string_view text, std::uint64_t& value) {
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
    return value >= 1 && value <= 4294967295u;
}

struct Costs {
    std::uint64_t passes = 0;
    std::uint64_t memory = 0;
    std::uint64_t lanes = 0;
};

// The marker layout of docs/FORMAT.md, "Protected speaker files".
bool ReferenceMarker(std::string_view marker, Costs& costs) {
    std::vector<std::string_view> fields;
    for (int i = 0; i < 6; ++i) {
        const std::size_t end = marker.find(':');
        if (end == std::string_view::npos) {
            return false;
        }
        fields.push_back(marker.substr(0, end));
        marker.remove_prefix(end + 1);
    }
    return fields[0] == "qvlock1" && fields[1] == "argon2id" && Decimal(fields[2], costs.passes) &&
           Decimal(fields[3], costs.memory) && Decimal(fields[4], costs.lanes) &&
           fields[5].size() == 32 &&
           fields[5].find_first_not_of("0123456789abcdef") == std::string_view::npos &&
           !marker.empty() && marker.find(':') == std::string_view::npos;
}

// The bounds of docs/FORMAT.md: 3 to 10 passes, 64 MiB to 512 MiB, 4 to 16 lanes, passes x
// memory at most 1572864 KiB.
bool ReferenceBounds(const Costs& costs) {
    return costs.passes >= 3 && costs.passes <= 10 && costs.memory >= 65536 &&
           costs.memory <= 524288 && costs.lanes >= 4 && costs.lanes <= 16 &&
           costs.passes * costs.memory <= 1572864;
}

// The key of kPassphrase under a header's salt and costs, derived once; none once the store is
// full.
const GostKey* KeptKey(const ProtectedHeader& header) {
    static std::map<std::string, GostKey> kept;
    const std::string id = SaltText(header.salt) + ":" + std::to_string(header.kdf.passes) + ":" +
                           std::to_string(header.kdf.memoryKiB) + ":" +
                           std::to_string(header.kdf.lanes);
    if (const auto found = kept.find(id); found != kept.end()) {
        return &found->second;
    }
    if (kept.size() >= kMaxKeptKeys) {
        return nullptr;
    }
    GostKey key{};
    Require(DerivePassphraseKey(std::span<const char>(kPassphrase.data(), kPassphrase.size()),
                                header.salt, header.kdf, key),
            "costs within the bounds derive a key");
    return &kept.emplace(id, key).first->second;
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
    Costs costs;
    const bool documented = hasToken && ReferenceMarker(token, costs);
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

    const Result<ProtectedImage> image = ReadProtectedImage(file);
    Require(image.has_value() == (documented && ReferenceBounds(costs)),
            "a file is opened exactly when its marker parses and its costs lie within the bounds");
    std::array<VoiceCodebook, kModelPhraseCount> books;
    float threshold = -3.5f;
    if (documented && !ReferenceBounds(costs)) {
        const Status refused = ReadProtectedFile(
            file, std::span<const char>(kPassphrase.data(), kPassphrase.size()), books, threshold);
        Require(!refused && IsCostOutOfBounds(refused.error()),
                "costs outside the bounds are refused before any key is derived");
    }
    const GostKey* key = image ? KeptKey(image->header) : nullptr;
    if (key != nullptr) {
        const Status status = DecodeProtectedImage(*image, *key, books, threshold);
        const ReferenceResult reference =
            ReferenceRead(bytes, token, *key, StoreSubstitutionTable, false);
        std::array<VoiceCodebook, kModelPhraseCount> expected;
        float expectedThreshold = 0.0f;
        const bool modelParses = reference.status == Verdict::Decoded && reference.tagVerified &&
                                 ParseModelFile(reference.plain, expected, expectedThreshold);
        Require(status.has_value() == modelParses,
                "unlocking succeeds exactly for a verified file holding a model");
        if (!status && status.error().code() == SpeakerError::WrongPassphrase) {
            Require(reference.status == Verdict::WrongKeyOrDamaged && reference.refusedAtOpen,
                    "a wrong passphrase is told only when the key check refuses the key");
        }
        if (!status) {
            Require(threshold == -3.5f && !books[0].Trained(),
                    "a refused file leaves the models untouched");
        } else {
            Require(threshold == expectedThreshold, "the model read is the file's");
        }
    }
    std::filesystem::remove(file);
    return 0;
}
