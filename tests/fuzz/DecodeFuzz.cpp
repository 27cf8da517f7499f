// Fuzzes the readers of encoded files against each other on arbitrary files:
// DecodeFileChecked (streaming into a file), DecodeToBufferChecked (into memory),
// CheckEncodedFile (writing nothing) and DecodeEncodedBuffer (from memory) must decide alike,
// and the decoders give the same bytes. A file with a trailer is delivered only verified, and a
// verified file is exactly what the writer makes of its plain data. A failed DecodeFileChecked
// writes nothing (an existing output keeps its content, a missing one is not created, and no
// temporary file remains). The fuzz input taken as plain data comes back unchanged from files
// with a trailer of either version (verified) and from one without (unconfirmed); one changed
// byte in a trailer, or a trailer of version 1 under the magic of version 2, has the file
// refused as a whole.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/EncodedBuffer.h"
#include "cipher/EncodedFile.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/ReferenceReader.h"
#include "tests/support/CodingWrappers.h"
#include "tests/support/EarlierFormats.h"

namespace quorvane::fuzz {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    Decision result;  // DecodeToBufferChecked's, which the other two readers matched
    Bytes plain;
};

// The reader of bytes in memory decides as the file readers did, with their reason.
bool SameDecision(const Result<DecodedBuffer<Bytes>>& fromMemory, const Decision& file,
                  const Bytes& plain) {
    if (fromMemory) {
        return file.verdict == Verdict::Decoded && fromMemory->tagVerified == file.tagVerified &&
               fromMemory->plain == plain;
    }
    return fromMemory.error().code() == file.code &&
           (file.verdict == Verdict::NotEncoded || file.verdict == Verdict::Truncated ||
            file.verdict == Verdict::WrongKeyOrDamaged);
}

// Decodes the bytes with the three readers (files without a trailer allowed), the output
// existing beforehand when outputExists, and requires the properties every decoding must
// have; without the permission only a file without a trailer is refused.
Decoded DecodeAll(const Bytes& bytes, std::string_view marker, bool outputExists) {
    const fs::path input = ScratchFolder() / "input.crp";
    const fs::path output = ScratchFolder() / "output.dat";
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    WriteBytes(input, bytes);
    if (outputExists) {
        WriteBytes(output, earlier);
    }
    Decoded decoded;
    CodingOptions allowed;
    allowed.allowUnverified = true;
    const auto inMemory = DecodeToBufferChecked(input, marker, kFuzzKey, FileSubstitutionTable,
                                                bytes.size(), allowed);
    decoded.result = DecisionOf(inMemory);
    if (inMemory) {
        decoded.plain = inMemory->plain;
    }
    const Result<Coded> streamed =
        DecodeFileChecked(input, output, marker, kFuzzKey, FileSubstitutionTable, allowed);
    const Result<Coded> checked = CheckEncodedFile(input, marker, kFuzzKey, FileSubstitutionTable);
    Require(DecisionOf(streamed) == decoded.result && DecisionOf(checked) == decoded.result,
            "DecodeFileChecked, DecodeToBufferChecked and CheckEncodedFile decide alike");
    Require(SameDecision(DecodeEncodedBuffer<Bytes>(bytes, marker, kFuzzKey, FileSubstitutionTable,
                                                    {bytes.size(), true}),
                         decoded.result, decoded.plain),
            "DecodeEncodedBuffer decides as the file readers, with their reason");
    const auto unallowed =
        DecodeToBufferChecked(input, marker, kFuzzKey, FileSubstitutionTable, bytes.size());
    const bool decodedWell = decoded.result.verdict == Verdict::Decoded;
    Require(decodedWell && !decoded.result.tagged
                ? DecisionOf(unallowed).verdict == Verdict::Unverified
                : DecisionOf(unallowed) == decoded.result &&
                      (!unallowed || unallowed->plain == decoded.plain),
            "a file without a trailer is refused unless allowed, and only such a file");
    Require(!decodedWell || DecisionOf(streamed).tagged == DecisionOf(streamed).tagVerified,
            "a file with a trailer is delivered only verified");
    if (streamed) {
        Require(ReadBytes(output) == decoded.plain,
                "DecodeFileChecked and DecodeToBufferChecked give the same bytes");
    } else if (outputExists) {
        Require(ReadBytes(output) == earlier,
                "a failed DecodeFileChecked keeps the existing output");
    } else {
        Require(!fs::exists(output), "a failed DecodeFileChecked creates no output");
    }
    const std::vector<fs::path> expectedEntries =
        streamed || outputExists ? std::vector<fs::path>{input.filename(), output.filename()}
                                 : std::vector<fs::path>{input.filename()};
    Require(ScratchEntries() == expectedEntries, "the readers leave no temporary file");
    fs::remove(output);
    fs::remove(input);
    return decoded;
}

// What the writer makes of plain under marker: with the latest trailer, with that of the
// previous release, or as earlier versions wrote (none).
Bytes Encoded(std::span<const std::uint8_t> plain, std::string_view marker,
              std::optional<TrailerVersion> trailer) {
    const fs::path encoded = ScratchFolder() / "encoded.crp";
    if (trailer == kLatestTrailer) {
        Require(EncodeBuffer(plain, encoded, marker, kFuzzKey, FileSubstitutionTable) == 1,
                "EncodeBuffer encodes any plain data");
    } else {
        const fs::path plainFile = ScratchFolder() / "plain.dat";
        WriteBytes(plainFile, plain);
        const Status written =
            trailer ? EncodeFileWithTrailerVersion(plainFile, encoded, marker, kFuzzKey,
                                                   FileSubstitutionTable, *trailer)
                    : EncodeFileWithoutTrailer(plainFile, encoded, marker, kFuzzKey,
                                               FileSubstitutionTable);
        Require(static_cast<bool>(written), "the earlier formats encode any plain data");
        fs::remove(plainFile);
    }
    Bytes bytes = ReadBytes(encoded);
    fs::remove(encoded);
    return bytes;
}

bool IsBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const Bytes bytes(data, data + size);

    // The file's own first token, as the speaker files are read; a file without one fails
    // every reader alike. Odd lengths decode over an existing output, even ones into a free
    // name.
    std::string marker;
    WriteBytes(ScratchFolder() / "input.crp", bytes);
    if (!ReadMarker(ScratchFolder() / "input.crp", marker)) {
        marker = "none";
    }
    const Decoded asFile = DecodeAll(bytes, marker, size % 2 == 1);
    if (asFile.result.verdict == Verdict::Decoded && asFile.result.tagVerified) {
        const auto start = std::find_if_not(bytes.begin(), bytes.end(), IsBlank);
        const auto version = TrailerMagicVersion(
            Bytes(bytes.end() - kTrailerBytes, bytes.end() - kTrailerBytes + 8));
        Require(version && Bytes(start, bytes.end()) == Encoded(asFile.plain, marker, version),
                "a verified file is what the writer makes of its plain data");
    }

    const std::string_view owner = "fuzzcryptedfile";
    const Bytes tagged = Encoded(bytes, owner, kLatestTrailer);
    const Bytes taggedV1 = Encoded(bytes, owner, TrailerVersion::V1);
    const Bytes untagged = Encoded(bytes, owner, std::nullopt);
    for (const Bytes* file : {&tagged, &taggedV1}) {
        Require(file->size() == untagged.size() + kTrailerBytes &&
                    std::equal(untagged.begin(), untagged.end(), file->begin()),
                "the trailer is all that a file with one adds");
        const Decoded fromTagged = DecodeAll(*file, owner, size % 2 == 0);
        Require(fromTagged.result.verdict == Verdict::Decoded && fromTagged.result.tagVerified &&
                    fromTagged.plain == bytes,
                "a file with a trailer of either version decodes verified to its plain data");
    }
    // The check values of one version under the magic of the other.
    Bytes confused = taggedV1;
    std::copy(kTrailerMagic.begin(), kTrailerMagic.end(), confused.end() - kTrailerBytes);
    Require(DecodeAll(confused, owner, size % 2 == 1).result.verdict == Verdict::WrongKeyOrDamaged,
            "a trailer of version 1 under the magic of version 2 is refused");
    const Decoded fromUntagged = DecodeAll(untagged, owner, size % 2 == 1);
    Require(fromUntagged.result.verdict == Verdict::Decoded && !fromUntagged.result.tagged &&
                fromUntagged.plain == bytes,
            "a file without a trailer decodes unconfirmed to its plain data");

    // One bit of the trailer changed, the place chosen by the input.
    Bytes damaged = size % 3 == 0 ? taggedV1 : tagged;
    const std::size_t place = untagged.size() + (size == 0 ? 0 : data[0] % kTrailerBytes);
    damaged[place] ^= static_cast<std::uint8_t>(1u << (size % 8));
    const Decoded fromDamaged = DecodeAll(damaged, owner, size % 2 == 0);
    Require(fromDamaged.result.verdict == Verdict::WrongKeyOrDamaged,
            "a file with a damaged trailer is refused as a whole");
    return 0;
}
