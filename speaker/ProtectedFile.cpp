#include "speaker/ProtectedFile.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <mutex>
#include <system_error>
#include <utility>

#include "cipher/EncodedBuffer.h"
#include "cipher/EncodedFile.h"
#include "files/SmallFile.h"
#include "speaker/ModelFile.h"
#include "speaker/StoreFolder.h"

namespace quorvane {

namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";

bool InitialiseLibrary() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) {
            ready = true;
            return;
        }
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            return;
        }
        // The secrets live in owned buffers that wipe themselves (files/Secret.h).
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        ready = true;
    });
    return ready;
}

class ProtectedFileErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.protected"; }
    std::string message(int value) const override {
        const auto costs = [](std::string_view what) {
            return "its key derivation asks for " + std::string(what) +
                   " than the program accepts (" + std::to_string(kMinKdf.passes) + " to " +
                   std::to_string(kMaxKdf.passes) + " passes, " +
                   std::to_string(kMinKdf.memoryKiB >> 10) + " MiB to " +
                   std::to_string(kMaxKdf.memoryKiB >> 10) + " MiB, " +
                   std::to_string(kMinKdf.lanes) + " to " + std::to_string(kMaxKdf.lanes) +
                   " lanes, passes x memory at most " + std::to_string(kMaxKdfWork >> 10) + " MiB)";
        };
        switch (static_cast<ProtectedFileError>(value)) {
            case ProtectedFileError::NotProtectedFile:
                return "it is not a protected speaker file";
            case ProtectedFileError::TooFewPasses:
                return costs("fewer passes");
            case ProtectedFileError::TooManyPasses:
                return costs("more passes");
            case ProtectedFileError::TooLittleMemory:
                return costs("less memory");
            case ProtectedFileError::TooMuchMemory:
                return costs("more memory");
            case ProtectedFileError::TooFewLanes:
                return costs("fewer lanes");
            case ProtectedFileError::TooManyLanes:
                return costs("more lanes");
            case ProtectedFileError::TooMuchWork:
                return costs("more work (passes x memory)");
            case ProtectedFileError::TooLarge:
                return "it is too large for a protected speaker file (those are at most " +
                       std::to_string(kMaxProtectedFileBytes >> 10) + " KiB)";
        }
        return "protected file error";
    }
};

// A decimal without sign or leading zeros that fits 32 bits, not 0.
bool ParseNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    std::uint32_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size() || parsed == 0) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseSalt(std::string_view text, Salt& salt) {
    if (text.size() != 2 * kProtectedSaltBytes) {
        return false;
    }
    Salt parsed{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t digit = kHexDigits.find(text[i]);
        if (digit == std::string_view::npos) {
            return false;
        }
        parsed[i / 2] = static_cast<std::uint8_t>((parsed[i / 2] << 4) | digit);
    }
    salt = parsed;
    return true;
}

}  // namespace

const std::error_category& ProtectedFileErrorCategory() {
    static const ProtectedFileErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(ProtectedFileError error) {
    return std::error_code(static_cast<int>(error), ProtectedFileErrorCategory());
}

Status CheckKdfBounds(const KdfParameters& kdf) {
    const struct {
        std::uint32_t value, low, high;
        ProtectedFileError below, above;
    } bounds[] = {
        {kdf.passes, kMinKdf.passes, kMaxKdf.passes, ProtectedFileError::TooFewPasses,
         ProtectedFileError::TooManyPasses},
        {kdf.memoryKiB, kMinKdf.memoryKiB, kMaxKdf.memoryKiB, ProtectedFileError::TooLittleMemory,
         ProtectedFileError::TooMuchMemory},
        {kdf.lanes, kMinKdf.lanes, kMaxKdf.lanes, ProtectedFileError::TooFewLanes,
         ProtectedFileError::TooManyLanes},
    };
    for (const auto& bound : bounds) {
        if (bound.value < bound.low) {
            return Failure(MakeError(bound.below));
        }
        if (bound.value > bound.high) {
            return Failure(MakeError(bound.above));
        }
    }
    if (std::uint64_t{kdf.passes} * kdf.memoryKiB > kMaxKdfWork) {
        return Failure(MakeError(ProtectedFileError::TooMuchWork));
    }
    return {};
}

bool IsCostOutOfBounds(const Failure& failure) {
    return failure.code().category() == ProtectedFileErrorCategory() &&
           failure.code() != MakeError(ProtectedFileError::NotProtectedFile) &&
           failure.code() != MakeError(ProtectedFileError::TooLarge);
}

std::string SaltText(const Salt& salt) {
    std::string text;
    for (const std::uint8_t byte : salt) {
        text += kHexDigits[byte >> 4];
        text += kHexDigits[byte & 0x0F];
    }
    return text;
}

std::string ProtectedMarker(const ProtectedHeader& header) {
    std::string marker(kProtectedMarkerTag);
    const auto field = [&marker](std::string_view text) {
        marker += kProtectedFieldSeparator;
        marker += text;
    };
    field(kProtectedKdfName);
    field(std::to_string(header.kdf.passes));
    field(std::to_string(header.kdf.memoryKiB));
    field(std::to_string(header.kdf.lanes));
    field(SaltText(header.salt));
    field(header.name);
    return marker;
}

bool ParseProtectedMarker(std::string_view marker, ProtectedHeader& header) {
    constexpr std::size_t kFieldsBeforeName = 6;
    std::array<std::string_view, kFieldsBeforeName> fields;
    std::string_view rest = marker;
    for (std::string_view& field : fields) {
        const std::size_t end = rest.find(kProtectedFieldSeparator);
        if (end == std::string_view::npos) {
            return false;
        }
        field = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    ProtectedHeader parsed;
    if (fields[0] != kProtectedMarkerTag || fields[1] != kProtectedKdfName ||
        !ParseNumber(fields[2], parsed.kdf.passes) ||
        !ParseNumber(fields[3], parsed.kdf.memoryKiB) ||
        !ParseNumber(fields[4], parsed.kdf.lanes) || !ParseSalt(fields[5], parsed.salt) ||
        rest.empty() || rest.find(kProtectedFieldSeparator) != std::string_view::npos) {
        return false;
    }
    parsed.name = std::string(rest);
    header = std::move(parsed);
    return true;
}

std::filesystem::path ProtectedFilePath(const std::filesystem::path& speakersDir,
                                        std::string_view name) {
    return StoreFilePath(speakersDir, name, kProtectedFileExtension);
}

std::vector<std::filesystem::path> ListProtectedFiles(const std::filesystem::path& speakersDir) {
    return ListStoreFiles(speakersDir, kProtectedFileExtension);
}

bool ReadProtectedHeader(const std::filesystem::path& path, ProtectedHeader& header) {
    std::string token;
    return ReadMarker(path, token) && ParseProtectedMarker(token, header);
}

bool DerivePassphraseKey(std::span<const char> passphrase, const Salt& salt,
                         const KdfParameters& kdf, GostKey& key) {
    if (!InitialiseLibrary()) {
        return false;
    }
    const std::array<unsigned long, 4> params = {kPassphraseKeyBytes, kdf.passes, kdf.memoryKiB,
                                                 kdf.lanes};
    gcry_kdf_hd_t handle = nullptr;
    if (gcry_kdf_open(&handle, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params.data(),
                      static_cast<unsigned int>(params.size()), passphrase.data(),
                      passphrase.size(), salt.data(), salt.size(), nullptr, 0, nullptr, 0) != 0) {
        return false;
    }
    SecretBytes output(kPassphraseKeyBytes);
    const bool derived = gcry_kdf_compute(handle, nullptr) == 0 &&
                         gcry_kdf_final(handle, output.size(), output.data()) == 0;
    gcry_kdf_close(handle);
    if (!derived) {
        return false;
    }
    for (std::size_t word = 0; word < key.size(); ++word) {
        const std::uint8_t* bytes = output.data() + 4 * word;
        key[word] = static_cast<std::uint32_t>(bytes[0]) |
                    (static_cast<std::uint32_t>(bytes[1]) << 8) |
                    (static_cast<std::uint32_t>(bytes[2]) << 16) |
                    (static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    return true;
}

Status WriteProtectedFile(const std::filesystem::path& path, std::string_view name,
                          std::span<const VoiceCodebook, 3> codebooks, float threshold,
                          std::span<const char> passphrase, const KdfParameters& kdf,
                          OutputMode mode) {
    if (!InitialiseLibrary()) {
        return Failure(std::make_error_code(std::errc::not_supported), path);
    }
    ProtectedHeader header;
    header.name = std::string(name);
    header.kdf = kdf;
    gcry_randomize(header.salt.data(), header.salt.size(), GCRY_STRONG_RANDOM);
    GostKey key{};
    const WipeOnExit<GostKey> wipeKey(key);
    if (!DerivePassphraseKey(passphrase, header.salt, kdf, key)) {
        return Failure(std::make_error_code(std::errc::not_enough_memory), path);
    }
    std::vector<std::uint8_t> model = SerialiseModelFile(codebooks, threshold);
    const Status written =
        EncodeBufferChecked(model, path, ProtectedMarker(header), key, StoreSubstitutionTable, mode,
                            FilePrivacy::OwnerOnly);
    WipeMemory(model.data(), model.size());
    return written ? written : written.error().At(path);
}

Result<ProtectedImage> ReadProtectedImage(const std::filesystem::path& path) {
    ProtectedImage image;
    image.path = path;
    Result<std::vector<std::uint8_t>> bytes = ReadSmallFile(path, kMaxProtectedFileBytes);
    if (!bytes) {
        // Tell a file that cannot be read from one too large to be a protected file.
        if (bytes.error().code() == std::errc::file_too_large) {
            return Failure(MakeError(ProtectedFileError::TooLarge), path);
        }
        return bytes.error();
    }
    image.bytes = std::move(*bytes);
    std::string marker;
    if (ReadHeaderToken(image.bytes, marker) == 0 || !ParseProtectedMarker(marker, image.header)) {
        return Failure(MakeError(ProtectedFileError::NotProtectedFile), path);
    }
    if (const Status bounds = CheckKdfBounds(image.header.kdf); !bounds) {
        return bounds.error().At(path);
    }
    return image;
}

Status DecodeProtectedImage(const ProtectedImage& image, const GostKey& key,
                            std::array<VoiceCodebook, 3>& codebooks, float& threshold) {
    // The bytes read once, decoded by the one reader of the format: it checks the key check
    // before it deciphers anything (a refusal there is the passphrase's), then the file tag.
    BufferDecodeOptions options;
    options.maxPlainBytes = kModelFileMaxBytes;
    const Result<DecodedBuffer<SecretBytes>> decoded = DecodeEncodedBuffer(
        image.bytes, ProtectedMarker(image.header), key, StoreSubstitutionTable, options);
    if (!decoded) {
        return Failure(decoded.error().code() == CipherError::WrongKey
                           ? MakeError(SpeakerError::WrongPassphrase)
                           : decoded.error().code(),
                       image.path);
    }
    std::array<VoiceCodebook, 3> loaded;
    float loadedThreshold = 0.0f;
    if (!decoded->tagVerified || !ParseModelFile(decoded->plain, loaded, loadedThreshold)) {
        return Failure(MakeError(SpeakerError::Damaged), image.path);
    }
    codebooks = std::move(loaded);
    threshold = loadedThreshold;
    return {};
}

Status UnlockProtectedImage(const ProtectedImage& image, std::span<const char> passphrase,
                            std::array<VoiceCodebook, 3>& codebooks, float& threshold) {
    // The bounds again: an image is judged when it is read, and this is where the work starts.
    if (const Status bounds = CheckKdfBounds(image.header.kdf); !bounds) {
        return bounds.error().At(image.path);
    }
    GostKey key{};
    const WipeOnExit<GostKey> wipeKey(key);
    if (!DerivePassphraseKey(passphrase, image.header.salt, image.header.kdf, key)) {
        return Failure(MakeError(SpeakerError::KeyNotDerived), image.path);
    }
    return DecodeProtectedImage(image, key, codebooks, threshold);
}

Status ReadProtectedFile(const std::filesystem::path& path, std::span<const char> passphrase,
                         std::array<VoiceCodebook, 3>& codebooks, float& threshold) {
    const Result<ProtectedImage> image = ReadProtectedImage(path);
    if (!image) {
        return image.error();
    }
    return UnlockProtectedImage(*image, passphrase, codebooks, threshold);
}

}  // namespace quorvane
