// Fuzzes the trailer check: a valid encoded file with a trailer is made from fuzz-chosen plain
// data, then changed by fuzz-chosen edits anywhere in it, the trailer included (a byte
// changed, inserted or deleted, the file cut, or a piece of it appended again). The three
// readers (DecodeFileChecked, DecodeToBufferChecked, CheckEncodedFile) must decide alike and as
// the reference reader (tests/fuzz/ReferenceReader.h); an unchanged file decodes verified to
// exactly its plain data; a changed file never verifies, and decodes at all only when it no
// longer carries a trailer and decoding such files is allowed; a failure leaves nothing (no output,
// no temporary file). Under a wrong key or table a file with a trailer is always refused as wrong
// key or damaged.
//
// Input: the edits and the choice of key from the end (FuzzedDataProvider), the plain data from
// the rest. Half the inputs make speaker files (StoreKey and StoreSubstitutionTable, the user
// name as marker, owner-only); half carry the trailer of version 1 (the previous release's)
// instead of the latest, so that both versions' checks, and edits that turn the magic of one
// into the other's, are fuzzed.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/ReferenceReader.h"
#include "tests/support/EarlierFormats.h"

namespace quorvane::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kMostEdits = 4;
constexpr std::size_t kLongestAppend = 2 * kTrailerBytes;

enum class EditKind : std::uint8_t { Change, Insert, Delete, Cut, AppendCopy, kCount };

// Applies one edit; where counts from the start or (fromEnd) from the end of the file.
void ApplyEdit(Bytes& file, EditKind kind, bool fromEnd, std::uint16_t where, std::uint8_t value) {
    if (file.empty()) {
        file.push_back(value);
        return;
    }
    const std::size_t place = fromEnd ? file.size() - 1 - where % file.size() : where % file.size();
    const auto at = file.begin() + static_cast<std::ptrdiff_t>(place);
    switch (kind) {
        case EditKind::Change:
            *at ^= value == 0 ? std::uint8_t{1} : value;
            break;
        case EditKind::Insert:
            file.insert(at, value);
            break;
        case EditKind::Delete:
            file.erase(at);
            break;
        case EditKind::Cut:
            file.resize(place);
            break;
        case EditKind::AppendCopy: {
            const std::size_t length = std::min(value % kLongestAppend + 1, file.size() - place);
            const Bytes piece(at, at + static_cast<std::ptrdiff_t>(length));
            file.insert(file.end(), piece.begin(), piece.end());
            break;
        }
        case EditKind::kCount:
            break;
    }
}

struct Readers {
    Decision streamed;
    Decision inMemory;
    Decision checked;
    Bytes plain;
};

// Runs the three readers on the file at input, requiring that they agree with each other and
// with expected, and that a failure writes nothing.
Readers ReadAll(const fs::path& input, std::string_view marker, const GostKey& key,
                const SubstitutionTable& table, const ReferenceResult& expected,
                std::size_t fileBytes) {
    const fs::path output = ScratchFolder() / "plain.out";
    Readers r;
    CodingOptions allowed;
    allowed.allowUnverified = true;
    r.streamed = DecisionOf(DecodeFileChecked(input, output, marker, key, table, allowed));
    const auto inMemory = DecodeToBufferChecked(input, marker, key, table, fileBytes, allowed);
    r.inMemory = DecisionOf(inMemory);
    if (inMemory) {
        r.plain = inMemory->plain;
    }
    r.checked = DecisionOf(CheckEncodedFile(input, marker, key, table));
    for (const Decision* decision : {&r.streamed, &r.inMemory, &r.checked}) {
        Require(expected.Matches(*decision), "every reader decides as the reference reader");
    }
    Require(r.plain == expected.plain, "DecodeToBufferChecked gives the plain data, or nothing");
    // Without the permission a file without a trailer is refused before anything is written.
    const Decision unallowed =
        DecisionOf(DecodeToBufferChecked(input, marker, key, table, fileBytes));
    Require(unallowed.verdict == (expected.status == Verdict::Decoded && !expected.tagged
                                      ? Verdict::Unverified
                                      : expected.status),
            "a file without a trailer is refused unless allowed");
    if (r.streamed.verdict == Verdict::Decoded) {
        Require(ReadBytes(output) == r.plain,
                "DecodeFileChecked and DecodeToBufferChecked give the same bytes");
        fs::remove(output);
    }
    Require(ScratchEntries() == std::vector<fs::path>{input.filename()},
            "a failed decoding leaves no output and no temporary file");
    return r;
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    FuzzedDataProvider in(data, size);
    const auto flags = in.ConsumeIntegral<std::uint8_t>();
    const bool speakerFile = (flags & 1) != 0;
    const TrailerVersion version = (flags & 2) != 0 ? TrailerVersion::V1 : kLatestTrailer;
    const std::string_view marker = speakerFile ? "anna" : "annacryptedfile";
    const GostKey& key = speakerFile ? StoreKey : kFuzzKey;
    const SubstitutionTable& table = speakerFile ? StoreSubstitutionTable : FileSubstitutionTable;
    // The wrong key: one word changed, or (wordIndex 8) the other table.
    const auto wordIndex = in.ConsumeIntegralInRange<std::size_t>(0, key.size());
    const std::uint32_t wordChange = in.ConsumeIntegral<std::uint32_t>() | 1u;
    GostKey wrongKey = key;
    const bool wrongTable = wordIndex == key.size();
    if (!wrongTable) {
        wrongKey[wordIndex] ^= wordChange;
    }
    const SubstitutionTable& wrongKeyTable =
        wrongTable ? (speakerFile ? FileSubstitutionTable : StoreSubstitutionTable) : table;

    struct Edit {
        EditKind kind;
        bool fromEnd;
        std::uint16_t where;
        std::uint8_t value;
    };
    std::vector<Edit> edits(in.ConsumeIntegralInRange<int>(0, kMostEdits));
    for (Edit& edit : edits) {
        const auto kindByte = in.ConsumeIntegral<std::uint8_t>();
        edit.kind = static_cast<EditKind>(kindByte % static_cast<std::uint8_t>(EditKind::kCount));
        edit.fromEnd = (kindByte & 0x80) != 0;
        edit.where = in.ConsumeIntegral<std::uint16_t>();
        edit.value = in.ConsumeIntegral<std::uint8_t>();
    }
    const Bytes plain = in.ConsumeRemainingBytes<std::uint8_t>();

    const fs::path input = ScratchFolder() / (speakerFile ? "anna.spk" : "file.crp");
    if (version == kLatestTrailer) {
        Require(static_cast<bool>(EncodeBufferChecked(
                    plain, input, marker, key, table, OutputMode::Replace,
                    speakerFile ? FilePrivacy::OwnerOnly : FilePrivacy::Normal)),
                "EncodeBufferChecked encodes any plain data");
    } else {
        const fs::path plainFile = ScratchFolder() / "plain.dat";
        WriteBytes(plainFile, plain);
        Require(static_cast<bool>(
                    EncodeFileWithTrailerVersion(plainFile, input, marker, key, table, version)),
                "the trailer of version 1 is written for any plain data");
        fs::remove(plainFile);
    }
    const Bytes original = ReadBytes(input);
    Bytes changed = original;
    for (const Edit& edit : edits) {
        ApplyEdit(changed, edit.kind, edit.fromEnd, edit.where, edit.value);
    }
    WriteBytes(input, changed);

    const ReferenceResult expected = ReferenceRead(changed, marker, key, table, true);
    const Readers readers = ReadAll(input, marker, key, table, expected, changed.size());
    const bool decoded = readers.inMemory.verdict == Verdict::Decoded;
    if (changed == original) {
        Require(decoded && readers.inMemory.tagVerified && readers.plain == plain,
                "an unchanged file decodes verified to its plain data");
    } else {
        Require(!readers.inMemory.tagVerified, "a changed file never verifies");
        Require(!decoded || !readers.streamed.tagged,
                "a changed file decodes only when it carries no trailer");
    }

    const ReferenceResult underWrongKey =
        ReferenceRead(changed, marker, wrongKey, wrongKeyTable, true);
    const Readers wrong =
        ReadAll(input, marker, wrongKey, wrongKeyTable, underWrongKey, changed.size());
    if (expected.tagged && expected.status != Verdict::NotEncoded &&
        expected.status != Verdict::Truncated) {
        Require(wrong.inMemory.verdict == Verdict::WrongKeyOrDamaged,
                "a file with a trailer is refused under a wrong key");
    }
    fs::remove(input);
    return 0;
}
