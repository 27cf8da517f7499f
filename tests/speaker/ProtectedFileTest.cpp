// Protected speaker files, checked against a reader written from docs/FORMAT.md ("Protected
// speaker files") on its own: the marker split by hand, Argon2id called on libgcrypt directly,
// and the encoded file read by the fuzz targets' reference reader. Files that are only read by
// that reader, or only listed, are written with cheap Argon2 costs; the program's own reader
// accepts no costs below what it writes (kProtectionKdf), so what it unlocks is written so.

#include <gtest/gtest.h>

#include <gcrypt.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cipher/CipherError.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "tests/fuzz/ReferenceReader.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ReadText;
using testing::ScratchFolder;

constexpr KdfParameters kCheap{1, 64, 2};

std::span<const char> Text(const std::string& text) {
    return {text.data(), text.size()};
}

std::array<VoiceCodebook, 3> Books() {
    const VoiceCodebook book = testing::FilledCodebook(
        9, [](int i, int j) { return 1.0f + 0.5f * static_cast<float>(i - j); },
        [](int) { return 2; });
    return {book, book, book};
}

// The seven fields of the marker, the name being all after the sixth ':'.
std::vector<std::string> Fields(const std::string& marker) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (int i = 0; i < 6; ++i) {
        const std::size_t end = marker.find(':', start);
        if (end == std::string::npos) {
            return {};
        }
        fields.push_back(marker.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(marker.substr(start));
    return fields;
}

// The documented key: Argon2id(passphrase, salt, T, M, P), 32 bytes as eight LE words.
GostKey DocumentedKey(const std::string& passphrase, const std::vector<std::string>& fields) {
    std::vector<std::uint8_t> salt;
    for (std::size_t i = 0; i < fields[5].size(); i += 2) {
        salt.push_back(static_cast<std::uint8_t>(std::stoul(fields[5].substr(i, 2), nullptr, 16)));
    }
    const unsigned long params[4] = {32, std::stoul(fields[2]), std::stoul(fields[3]),
                                     std::stoul(fields[4])};
    gcry_kdf_hd_t handle = nullptr;
    std::array<std::uint8_t, 32> out{};
    EXPECT_EQ(
        gcry_kdf_open(&handle, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, passphrase.data(),
                      passphrase.size(), salt.data(), salt.size(), nullptr, 0, nullptr, 0),
        0u);
    EXPECT_EQ(gcry_kdf_compute(handle, nullptr), 0u);
    EXPECT_EQ(gcry_kdf_final(handle, out.size(), out.data()), 0u);
    gcry_kdf_close(handle);
    GostKey key{};
    for (std::size_t w = 0; w < 8; ++w) {
        key[w] = static_cast<std::uint32_t>(out[4 * w]) | (std::uint32_t{out[4 * w + 1]} << 8) |
                 (std::uint32_t{out[4 * w + 2]} << 16) | (std::uint32_t{out[4 * w + 3]} << 24);
    }
    return key;
}

TEST(ProtectedFile, TheDocumentedReaderReadsTheModel) {
    ScratchFolder folder;
    const fs::path path = ProtectedFilePath(folder.Path(), "an$na");
    EXPECT_EQ(path.filename(), "an$na.qvlock");
    const auto books = Books();
    ASSERT_TRUE(WriteProtectedFile(path, "an$na", books, 0.625f, Text("pass word"), kCheap,
                                   OutputMode::NoReplace));
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    std::string marker;
    ASSERT_TRUE(fuzz::ReferenceToken(bytes, marker));
    const std::vector<std::string> fields = Fields(marker);
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.begin() + 5),
              (std::vector<std::string>{"qvlock1", "argon2id", "1", "64", "2"}));
    EXPECT_EQ(fields[5].find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(fields[5].size(), 32u);
    EXPECT_EQ(fields[6], "an$na");

    const fuzz::ReferenceResult read = fuzz::ReferenceRead(
        bytes, marker, DocumentedKey("pass word", fields), StoreSubstitutionTable, false);
    ASSERT_EQ(read.status, fuzz::Verdict::Decoded);
    EXPECT_TRUE(read.tagVerified);
    EXPECT_EQ(read.plain, SerialiseModelFile(books, 0.625f));
    // Another passphrase, and the program's constant store key, fail the key check.
    for (const GostKey& key : {DocumentedKey("pass wore", fields), StoreKey}) {
        const fuzz::ReferenceResult refused =
            fuzz::ReferenceRead(bytes, marker, key, StoreSubstitutionTable, false);
        EXPECT_EQ(refused.status, fuzz::Verdict::WrongKeyOrDamaged);
        EXPECT_TRUE(refused.refusedAtOpen);
    }
    // Each file gets its own salt.
    const fs::path again = folder.Path() / "again.qvlock";
    ASSERT_TRUE(WriteProtectedFile(again, "an$na", books, 0.625f, Text("pass word"), kCheap,
                                   OutputMode::NoReplace));
    EXPECT_NE(ReadBytes(again), bytes);
}

TEST(ProtectedFile, MarkersOutsideTheLayoutAreRefused) {
    const std::string salt = "00112233445566778899aabbccddeeff";
    const struct {
        std::string marker;
        bool accepted;
    } cases[] = {
        {"qvlock1:argon2id:3:65536:4:" + salt + ":anna", true},
        // The layout takes any cost that fits 32 bits; the bounds are judged apart.
        {"qvlock1:argon2id:4294967295:1:4294967295:" + salt + ":a$b", true},
        {"qvlock1:argon2id:3:4294967296:4:" + salt + ":anna", false},
        {"qvlock2:argon2id:3:65536:4:" + salt + ":anna", false},
        {"qvlock1:argon2i:3:65536:4:" + salt + ":anna", false},
        {"qvlock1:argon2id:03:65536:4:" + salt + ":anna", false},
        {"qvlock1:argon2id:0:65536:4:" + salt + ":anna", false},
        {"qvlock1:argon2id:3:65536:0:" + salt + ":anna", false},
        {"qvlock1:argon2id:3:65536:+4:" + salt + ":anna", false},
        {"qvlock1:argon2id:3:65536:4:" + salt.substr(2) + ":anna", false},
        {"qvlock1:argon2id:3:65536:4:00112233445566778899AABBCCDDEEFF:anna", false},
        {"qvlock1:argon2id:3:65536:4:" + salt + ":", false},
        {"qvlock1:argon2id:3:65536:4:" + salt + ":an:na", false},
        {"qvlock1:argon2id:3:65536:4:" + salt, false},
        {"anna", false},
    };
    for (const auto& c : cases) {
        ProtectedHeader header;
        header.name = "unchanged";
        EXPECT_EQ(ParseProtectedMarker(c.marker, header), c.accepted) << c.marker;
        if (c.accepted) {
            EXPECT_EQ(ProtectedMarker(header), c.marker);
        } else {
            EXPECT_EQ(header.name, "unchanged");
        }
    }
}

// The costs a file states are judged before any key is derived from it, each bound from both
// sides: a file is read as it is (ReadProtectedImage) or refused with the cost outside, and
// unlocking a refused one derives nothing (the costs above the ceiling would take minutes and
// gigabytes).
TEST(ProtectedFile, CostsOutsideTheBoundsAreRefusedBeforeAnyKeyIsDerived) {
    ScratchFolder folder;
    const fs::path written = ProtectedFilePath(folder.Path(), "anna");
    ASSERT_TRUE(WriteProtectedFile(written, "anna", Books(), 0.5f, Text("right"), kProtectionKdf,
                                   OutputMode::NoReplace));
    std::string marker;
    ASSERT_TRUE(ReadMarker(written, marker));
    const std::string rest = ReadText(written).substr(marker.size());
    ProtectedHeader header;
    ASSERT_TRUE(ParseProtectedMarker(marker, header));
    using E = ProtectedFileError;
    const struct {
        KdfParameters kdf;
        std::optional<ProtectedFileError> refusal;
    } cases[] = {
        {{3, 65536, 4}, std::nullopt},  // what the program writes: the floor
        {{2, 65536, 4}, E::TooFewPasses},      {{10, 65536, 4}, std::nullopt},
        {{11, 65536, 4}, E::TooManyPasses},    {{3, 65535, 4}, E::TooLittleMemory},
        {{3, 524288, 4}, std::nullopt},  // 512 MiB, 3 passes: the work's ceiling
        {{3, 524289, 4}, E::TooMuchMemory},    {{4, 524288, 4}, E::TooMuchWork},
        {{10, 157286, 16}, std::nullopt},  // 10 passes of 153.6 MiB: the work's ceiling
        {{10, 157287, 16}, E::TooMuchWork},    {{3, 65536, 3}, E::TooFewLanes},
        {{3, 65536, 16}, std::nullopt},        {{3, 65536, 17}, E::TooManyLanes},
        {{10, 1048576, 16}, E::TooMuchMemory},  // the ceiling of earlier versions: 10 x 1 GiB
        {{64, 4194304, 64}, E::TooManyPasses},  // the largest earlier versions read
        {{1, 8, 1}, E::TooFewPasses},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.kdf.passes << " " << c.kdf.memoryKiB << " " << c.kdf.lanes);
        ProtectedHeader edited = header;
        edited.kdf = c.kdf;
        const fs::path path = folder.Path() / "edited.qvlock";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << ProtectedMarker(edited) << rest;
        const Result<ProtectedImage> image = ReadProtectedImage(path);
        EXPECT_EQ(CheckKdfBounds(c.kdf).has_value(), !c.refusal.has_value());
        if (!c.refusal) {
            ASSERT_TRUE(image.has_value()) << image.error().Reason();
            EXPECT_EQ(image->header.kdf, c.kdf);
            EXPECT_EQ(image->bytes, ReadBytes(path));
            continue;
        }
        ASSERT_FALSE(image.has_value());
        EXPECT_EQ(image.error().code(), MakeError(*c.refusal));
        EXPECT_EQ(image.error().path(), path);
        std::array<VoiceCodebook, 3> books;
        float threshold = -1.0f;
        const Status refused = ReadProtectedFile(path, Text("right"), books, threshold);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(), image.error());
        EXPECT_TRUE(IsCostOutOfBounds(refused.error()));
        EXPECT_EQ(threshold, -1.0f);
    }
}

TEST(ProtectedFile, AWrongPassphraseIsToldApartFromDamage) {
    ScratchFolder folder;
    const fs::path path = ProtectedFilePath(folder.Path(), "anna");
    ASSERT_TRUE(WriteProtectedFile(path, "anna", Books(), 0.5f, Text("right"), kProtectionKdf,
                                   OutputMode::NoReplace));
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    std::array<VoiceCodebook, 3> books;
    float threshold = -1.0f;
    const auto codeOf = [](const Status& status) {
        return status ? std::error_code() : status.error().code();
    };
    EXPECT_EQ(codeOf(ReadProtectedFile(path, Text("wrong"), books, threshold)),
              MakeError(SpeakerError::WrongPassphrase));
    EXPECT_EQ(threshold, -1.0f);
    ASSERT_TRUE(ReadProtectedFile(path, Text("right"), books, threshold));
    EXPECT_EQ(threshold, 0.5f);
    // A changed cipher byte passes the key check and fails the file tag.
    bytes[bytes.size() - kTrailerBytes - 3] ^= 0x10;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const Status damaged = ReadProtectedFile(path, Text("right"), books, threshold);
    EXPECT_EQ(codeOf(damaged), MakeError(CipherError::Damaged));
    EXPECT_EQ(damaged.error().path(), path);
    // Padded past the largest protected file: refused unread, and said so.
    fs::resize_file(path, kMaxProtectedFileBytes + 1);
    const Result<ProtectedImage> padded = ReadProtectedImage(path);
    ASSERT_FALSE(padded.has_value());
    EXPECT_EQ(padded.error().code(), MakeError(ProtectedFileError::TooLarge));
    EXPECT_EQ(codeOf(ReadProtectedFile(path, Text("right"), books, threshold)),
              MakeError(ProtectedFileError::TooLarge));
}

TEST(ProtectedFile, LoadingListsTheUserLockedAndOrdinaryReadersSkipTheFile) {
    ScratchFolder folder;
    ASSERT_TRUE(WriteProtectedFile(ProtectedFilePath(folder.Path(), "anna"), "anna", Books(), 0.5f,
                                   Text("right"), kCheap, OutputMode::NoReplace));
    EXPECT_TRUE(ListSpeakerFiles(folder.Path()).empty());
    RecordingNotifier notices;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(folder.Path(), users, notices), 0);
    EXPECT_EQ(LoadProtectedUsers(folder.Path(), users, notices), 1);
    const UserRecord* anna = users.Find("anna");
    ASSERT_NE(anna, nullptr);
    EXPECT_TRUE(anna->locked);
    EXPECT_EQ(anna->protectedFile, ProtectedFilePath(folder.Path(), "anna"));
    EXPECT_FALSE(anna->codebooks[0].Trained());
    EXPECT_EQ(FindUserFiles(folder.Path(), "anna"),
              std::vector<fs::path>{ProtectedFilePath(folder.Path(), "anna")});
    // Loaded again into the same list: the name is there already.
    EXPECT_EQ(LoadProtectedUsers(folder.Path(), users, notices), 0);
    EXPECT_EQ(notices.Texts(), std::vector<std::string>{AlreadyInListMessage("anna")});

    // Beside an ordinary speaker file of the name (a protection interrupted before that file
    // went): the user listed from it becomes protected, its models locked away.
    ScratchFolder both;
    ASSERT_TRUE(StoreSpeakerFile(both.Path(), "anna", Books(), 0.5f));
    fs::copy_file(ProtectedFilePath(folder.Path(), "anna"), ProtectedFilePath(both.Path(), "anna"));
    RecordingNotifier quiet;
    UserList listed;
    EXPECT_EQ(LoadRegisteredUsers(both.Path(), listed, quiet), 1);
    EXPECT_EQ(LoadProtectedUsers(both.Path(), listed, quiet), 0);
    EXPECT_TRUE(quiet.Texts().empty());
    ASSERT_EQ(listed.size(), 1u);
    const UserRecord& record = *listed.begin();
    EXPECT_TRUE(record.locked);
    EXPECT_TRUE(record.unprotectedCopy);
    EXPECT_EQ(record.protectedFile, ProtectedFilePath(both.Path(), "anna"));
    EXPECT_FALSE(record.codebooks[0].Trained());
    EXPECT_EQ(record.threshold, 0.0f);
}

}  // namespace
}  // namespace quorvane
