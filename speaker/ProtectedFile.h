#pragma once

// The protected speaker file: a registered user's ModelFile encrypted under a key derived from
// the user's passphrase, so that a copy of the Speakers folder alone does not give the models
// (and so the user's key) away. It is an encoded file (cipher/EncodedFile.h) under the
// passphrase key and StoreSubstitutionTable whose content is the user's ModelFile and whose
// marker (first token) says how the key is derived and whose file it is:
//
//   qvlock1:argon2id:T:M:P:SALT:NAME
//
//   qvlock1   the format and its version (kProtectedMarkerTag)
//   argon2id  the key derivation: Argon2id (RFC 9106, version 0x13) with a 32-byte output
//   T         passes (time cost), decimal
//   M         memory in KiB, decimal
//   P         lanes (parallelism), decimal
//   SALT      16 random bytes, 32 lower-case hexadecimal digits
//   NAME      the user's name (never holds ':', which names may not contain)
//
// Decimal numbers have no sign and no leading zeros and fit 32 bits. The cipher key is the
// Argon2id output read as eight little-endian 32-bit words. The marker is part of the header that
// the trailer's key check covers, so the parameters, the salt and the name are all bound to the
// passphrase, and a wrong passphrase is told by the key check before anything is deciphered.
// The program writes kProtectionKdf (RFC 9106's second recommended choice). A reader accepts the
// costs a file states only within kMinKdf .. kMaxKdf and kMaxKdfWork, checked before any key is
// derived: anyone can edit them without the passphrase, so a file could otherwise make each
// unlock take minutes and gigabytes, or unlock a file far more cheaply than its owner was
// promised.
//
// The file is named NAME + ".qvlock": readers of the ordinary speaker files take only names
// ending in ".spk", and no 8.3 short name of such a file ends in ".SPK" either. The name is
// readable without the passphrase (listing and removing need none); the models are not.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/Result.h"
#include "files/Secret.h"
#include "speaker/SpeakerError.h"

namespace quorvane {

inline constexpr std::string_view kProtectedFileExtension = ".qvlock";
inline constexpr std::string_view kProtectedMarkerTag = "qvlock1";
inline constexpr std::string_view kProtectedKdfName = "argon2id";
inline constexpr char kProtectedFieldSeparator = ':';
inline constexpr std::size_t kProtectedSaltBytes = 16;
inline constexpr std::size_t kPassphraseKeyBytes = 32;  // Argon2id output, the eight key words
// The largest protected file a reader takes: header, the cipher data of the largest model and
// the trailer, with room to spare.
inline constexpr std::uint64_t kMaxProtectedFileBytes = 64u << 10;

struct KdfParameters {
    std::uint32_t passes = 0;     // t
    std::uint32_t memoryKiB = 0;  // m
    std::uint32_t lanes = 0;      // p
    bool operator==(const KdfParameters&) const = default;
};

// What the program writes: t = 3, m = 64 MiB, p = 4.
inline constexpr KdfParameters kProtectionKdf{3, 65536, 4};
// The costs a reader accepts from a file, each bound included: at least what the program writes,
// at most what keeps one unlock within a few seconds of processor time and 512 MiB of memory.
inline constexpr KdfParameters kMinKdf = kProtectionKdf;
inline constexpr KdfParameters kMaxKdf{10, 1u << 19, 16};  // 10 passes, 512 MiB, 16 lanes
// The work of one derivation is passes x memory (every pass fills the whole memory once, one lane
// after the other): at most 8 times what the program writes (3 x 64 MiB), so that no pair of
// costs within the bounds above asks for both many passes and much memory (10 x 512 MiB would
// take over 5 GiB of passes).
inline constexpr std::uint64_t kMaxKdfWork =
    8 * std::uint64_t{kProtectionKdf.passes} * kProtectionKdf.memoryKiB;  // KiB x passes

// Why a protected file is refused before any key is derived from it.
enum class ProtectedFileError {
    NotProtectedFile = 1,  // the first token is no protected marker
    TooFewPasses,
    TooManyPasses,
    TooLittleMemory,
    TooMuchMemory,
    TooFewLanes,
    TooManyLanes,
    TooMuchWork,  // passes x memory above kMaxKdfWork
    TooLarge,     // larger than any protected file the program writes (kMaxProtectedFileBytes)
};
[[nodiscard]] const std::error_category& ProtectedFileErrorCategory();
[[nodiscard]] std::error_code MakeError(ProtectedFileError error);

// Whether the costs lie within kMinKdf .. kMaxKdf and their work within kMaxKdfWork; the failure
// names the first cost outside.
[[nodiscard]] Status CheckKdfBounds(const KdfParameters& kdf);
// Whether a failure is a cost outside the bounds (CheckKdfBounds's).
[[nodiscard]] bool IsCostOutOfBounds(const Failure& failure);

using Salt = std::array<std::uint8_t, kProtectedSaltBytes>;

// What the marker of a protected file states.
struct ProtectedHeader {
    std::string name;
    KdfParameters kdf;
    Salt salt{};
};

// The salt as the marker writes it: 32 lower-case hexadecimal digits.
[[nodiscard]] std::string SaltText(const Salt& salt);
// The marker for a header (see the layout above).
[[nodiscard]] std::string ProtectedMarker(const ProtectedHeader& header);
// Parses a marker; false (header unchanged) when it does not follow the layout or its name is
// empty. The costs are not judged here (CheckKdfBounds).
[[nodiscard]] bool ParseProtectedMarker(std::string_view marker, ProtectedHeader& header);

// speakersDir / (name + ".qvlock")
[[nodiscard]] std::filesystem::path ProtectedFilePath(const std::filesystem::path& speakersDir,
                                                      std::string_view name);
// The regular files of speakersDir whose names end in ".qvlock", in byte order of their names.
[[nodiscard]] std::vector<std::filesystem::path> ListProtectedFiles(
    const std::filesystem::path& speakersDir);
// The header of a protected file from its first token; false when the file cannot be read or
// its first token is no protected marker.
[[nodiscard]] bool ReadProtectedHeader(const std::filesystem::path& path, ProtectedHeader& header);

// Argon2id of the passphrase with the salt and costs, as the cipher key. False when the
// library refuses the parameters or cannot get the memory.
[[nodiscard]] bool DerivePassphraseKey(std::span<const char> passphrase, const Salt& salt,
                                       const KdfParameters& kdf, GostKey& key);

// Writes the models as a protected file under a new random salt, atomically, owner-only.
// The program always passes kProtectionKdf; tests may pass other costs. On failure the disk is
// as it was (with Mode NoReplace also when the file exists: file_exists).
[[nodiscard]] Status WriteProtectedFile(const std::filesystem::path& path, std::string_view name,
                                        std::span<const VoiceCodebook, 3> codebooks,
                                        float threshold, std::span<const char> passphrase,
                                        const KdfParameters& kdf, OutputMode mode);

// A protected file as read once: every later step (the key check, the deciphering) works on
// these bytes, so they all see the same file.
struct ProtectedImage {
    std::filesystem::path path;
    ProtectedHeader header;
    std::vector<std::uint8_t> bytes;  // the whole file
};

// Reads a protected file whole and judges its marker and its costs, before any key is derived:
// fails with the system's reason, ProtectedFileError::TooLarge, NotProtectedFile, or the cost
// outside the bounds.
[[nodiscard]] Result<ProtectedImage> ReadProtectedImage(const std::filesystem::path& path);

// The models of an image under a key: the key check first, then the whole file under its tag,
// then the model. Fails, naming the image's file, with SpeakerError::WrongPassphrase when the key
// check refuses the key, the format's CipherError when the file is damaged, or
// SpeakerError::Damaged for a file without a check value or with a model that does not parse.
// Only a success changes the arguments. The decoded model bytes are wiped before they are freed.
[[nodiscard]] Status DecodeProtectedImage(const ProtectedImage& image, const GostKey& key,
                                          std::array<VoiceCodebook, 3>& codebooks,
                                          float& threshold);
// The same under the key the passphrase derives with the image's salt and costs; fails first
// with the cost outside the bounds (no key derived), or SpeakerError::KeyNotDerived.
[[nodiscard]] Status UnlockProtectedImage(const ProtectedImage& image,
                                          std::span<const char> passphrase,
                                          std::array<VoiceCodebook, 3>& codebooks,
                                          float& threshold);
// ReadProtectedImage, then UnlockProtectedImage.
[[nodiscard]] Status ReadProtectedFile(const std::filesystem::path& path,
                                       std::span<const char> passphrase,
                                       std::array<VoiceCodebook, 3>& codebooks, float& threshold);

}  // namespace quorvane
