// Fuzzes the two decoders against each other on arbitrary files: DecodeFile (streaming into a
// file) and DecodeToBuffer (into memory) must give the same result and the same bytes;
// DecodeFile writes nothing on failure (an existing output keeps its content, a missing one is
// not created, and no temporary file remains); and the fuzz input taken as plain data comes
// back unchanged through EncodeBuffer and DecodeToBuffer.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    namespace fs = std::filesystem;
    const std::span<const std::uint8_t> bytes(data, size);
    const fs::path input = ScratchFolder() / "input.crp";
    const fs::path output = ScratchFolder() / "output.dat";
    WriteBytes(input, bytes);

    // The file's own first token, as the speaker files are read; a file without one fails
    // both decoders alike.
    std::string marker;
    if (!ReadMarker(input, marker)) {
        marker = "none";
    }
    std::vector<std::uint8_t> inMemory;
    const int memoryResult =
        DecodeToBuffer(input, marker, kFuzzKey, FileSubstitutionTable, inMemory, size);

    // Odd lengths decode over an existing output, even ones into a free name.
    const bool outputExisted = size % 2 == 1;
    const std::vector<std::uint8_t> earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    if (outputExisted) {
        WriteBytes(output, earlier);
    }
    const int fileResult = DecodeFile(input, output, marker, kFuzzKey, FileSubstitutionTable);
    Require(fileResult == memoryResult, "DecodeFile and DecodeToBuffer give the same result");
    if (fileResult == 1) {
        Require(ReadBytes(output) == inMemory, "DecodeFile and DecodeToBuffer give the same bytes");
    } else if (outputExisted) {
        Require(ReadBytes(output) == earlier, "a failed DecodeFile keeps the existing output");
    } else {
        Require(!fs::exists(output), "a failed DecodeFile creates no output");
    }
    const std::vector<fs::path> expectedEntries =
        fileResult == 1 || outputExisted
            ? std::vector<fs::path>{input.filename(), output.filename()}
            : std::vector<fs::path>{input.filename()};
    Require(ScratchEntries() == expectedEntries, "DecodeFile leaves no temporary file");
    fs::remove(output);

    const fs::path encoded = ScratchFolder() / "roundtrip.crp";
    Require(EncodeBuffer(bytes, encoded, "fuzzcryptedfile", kFuzzKey, FileSubstitutionTable) == 1,
            "EncodeBuffer encodes any plain data");
    std::vector<std::uint8_t> back;
    Require(DecodeToBuffer(encoded, "fuzzcryptedfile", kFuzzKey, FileSubstitutionTable, back,
                           size) == 1 &&
                back == std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
            "EncodeBuffer then DecodeToBuffer gives the plain data back");
    fs::remove(encoded);
    fs::remove(input);
    return 0;
}
