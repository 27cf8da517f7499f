// Fuzzes the reading of an encoded file on arbitrary bytes: ReadMarker, and the header, length
// and trailer checks that DecodeToBufferChecked shares with DecodeFileChecked. The reference
// reader (tests/fuzz/ReferenceReader.h), written on its own from the documented layout, says
// what the program's readers must do; they have to agree with it on every input: the same
// status, the same trailer flags and the same plain bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/ReferenceReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto input = ScratchFolder() / "header.crp";
    WriteBytes(input, bytes);

    std::string expectedMarker;
    const bool hasMarker = ReferenceToken(bytes, expectedMarker);
    std::string marker = "unchanged";
    Require(ReadMarker(input, marker) == hasMarker, "ReadMarker accepts exactly a first token");
    Require(marker == expectedMarker, "ReadMarker gives the first token, or nothing");

    if (hasMarker) {
        const ReferenceResult expected =
            ReferenceRead(bytes, marker, kFuzzKey, FileSubstitutionTable, false);
        const auto decoded =
            DecodeToBufferChecked(input, marker, kFuzzKey, FileSubstitutionTable, size);
        Require(DecisionOf(decoded).verdict == expected.status,
                "DecodeToBufferChecked decides as the reference reader");
        Require(expected.Matches(DecisionOf(decoded)),
                "DecodeToBufferChecked finds and verifies a trailer as the reference reader");
        Require(decoded ? decoded->plain == expected.plain : expected.plain.empty(),
                "DecodeToBufferChecked gives the plain data, or nothing");

        const auto otherMarker =
            DecodeToBufferChecked(input, marker + "x", kFuzzKey, FileSubstitutionTable, size);
        Require(DecisionOf(otherMarker).verdict == Verdict::NotEncoded,
                "another marker is refused");
        // The length limit is applied once the file is opened, before anything is deciphered.
        if (!expected.refusedAtOpen && expected.plainBytes > 0) {
            const auto overLimit = DecodeToBufferChecked(
                input, marker, kFuzzKey, FileSubstitutionTable, expected.plainBytes - 1);
            Require(!overLimit && overLimit.error().code() == CipherError::TooLarge,
                    "plain data over the limit is refused");
        }
    }
    std::filesystem::remove(input);
    return 0;
}
