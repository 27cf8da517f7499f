// The speaker store: storing a user, loading the users at start, duplicate and damaged
// speaker files, and finding and deleting a user's files.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "interfaces/Notifier.h"
#include "speaker/Decision.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/CodingWrappers.h"
#include "tests/support/EarlierFormats.h"
#include "tests/support/TestFiles.h"

#ifdef __linux__
#include <sys/stat.h>
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

VoiceCodebook MakeCodebook(int count, float base) {
    return testing::FilledCodebook(
        count,
        [base](int i, int j) {
            return base + std::sin(static_cast<float>(i * kCepstrumOrder + j));
        },
        [](int) { return 2; });
}

std::array<VoiceCodebook, 3> Enrolment(float base) {
    std::array<VoiceCodebook, 3> books = {MakeCodebook(64, base), MakeCodebook(64, base + 0.5f),
                                          MakeCodebook(40, base - 0.5f)};
    (*books[1].codewords)[7].memberCount = 0;  // an empty codeword is not stored
    return books;
}

std::vector<std::string> FileNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

using testing::ReadText;

class SpeakerStoreTest : public ::testing::Test {
protected:
    SpeakerStoreTest() { fs::create_directories(speakers_); }
    ~SpeakerStoreTest() override {
        // A test may leave the folder read-only; the scratch folder must still go.
        std::error_code error;
        fs::permissions(speakers_, fs::perms::owner_all, fs::perm_options::add, error);
    }
    void Store(const std::string& name, float base) {
        SilentNotifier silent;
        ASSERT_EQ(StoreUserFiles(speakers_, name, Enrolment(base), 0.25f + base, silent), 1);
    }

    const testing::ScratchFolder scratch_;
    const fs::path root_ = scratch_.Path();
    const fs::path speakers_ = root_ / "Speakers";
};

TEST_F(SpeakerStoreTest, StoredUserSurvivesARestart) {
    const std::array<VoiceCodebook, 3> enrolment = Enrolment(1.0f);
    const float threshold = std::nextafter(0.8f, 0.0f);
    RecordingNotifier notifier;
    ASSERT_EQ(StoreUserFiles(speakers_, "anna", enrolment, threshold, notifier), 1);
    // Only the speaker file: no plain model anywhere, in the folder or the current one.
    EXPECT_EQ(FileNames(speakers_), (std::vector<std::string>{"anna.spk"}));
    EXPECT_FALSE(fs::exists("temporarybooks.dat"));
    // The marker is the name, and the model inside is encrypted (the file holds no
    // plain copy of it).
    std::string marker;
    ASSERT_TRUE(ReadMarker(speakers_ / "anna.spk", marker));
    EXPECT_EQ(marker, "anna");
    const std::vector<std::uint8_t> model = SerialiseModelFile(enrolment, threshold);
    const std::string text = ReadText(speakers_ / "anna.spk");
    EXPECT_EQ(text.find(std::string(model.begin(), model.begin() + 96)), std::string::npos);

    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 1);
    EXPECT_TRUE(notifier.entries.empty());
    const UserRecord* anna = users.Find("anna");
    ASSERT_NE(anna, nullptr);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(anna->threshold),
              std::bit_cast<std::uint32_t>(threshold));
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(CodebookDistance(anna->codebooks[c], enrolment[c]), 0.0f);
        EXPECT_EQ(ExportCodewords(anna->codebooks[c]), ExportCodewords(enrolment[c]));
    }
    EXPECT_EQ(anna->codebooks[1].codewordCount, 63);
    EXPECT_EQ(DeriveUserKey(anna->codebooks), DeriveUserKey(enrolment));
}

TEST_F(SpeakerStoreTest, MissingFolderIsNeitherCreatedNorAnError) {
    const fs::path missing = root_ / "NoSpeakers";
    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(missing, users, notifier), 0);
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_EQ(CountUserFiles(missing, "anna"), 0);
    EXPECT_EQ(StoreUserFiles(missing, "anna", Enrolment(1.0f), 1.0f, notifier), -1);
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"Unable to save users (speakers) file"}));
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(SpeakerStoreTest, FilesAreTakenInByteOrderAndOnlyWithTheExactExtension) {
    Store("b", 1.0f);
    Store("a", 2.0f);
#ifdef _WIN32
    // Names that differ only in case name one file here: b's file is never given to B.
    SilentNotifier silent;
    EXPECT_EQ(StoreUserFiles(speakers_, "B", Enrolment(3.0f), 3.25f, silent), -1);
    const std::string upper = "D";
#else
    const std::string upper = "B";
#endif
    Store(upper, 3.0f);
    Store("c", 4.0f);
    // In two steps: a rename that changes only the case is no rename on every file system.
    fs::rename(speakers_ / "c.spk", speakers_ / "c.tmp");
    fs::rename(speakers_ / "c.tmp", speakers_ / "c.SPK");
    fs::copy_file(speakers_ / "a.spk", speakers_ / "x.spk.bak");
    fs::copy_file(speakers_ / "a.spk", speakers_ / "y.spkx");
    fs::create_directories(speakers_ / "0folder.spk");
    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 3);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{upper, "a", "b"}));
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_EQ(users.Find("b")->threshold, 1.25f);
}

TEST_F(SpeakerStoreTest, ARenamedFileLoadsAsTheUserNamedInside) {
    Store("anna", 1.0f);
    fs::rename(speakers_ / "anna.spk", speakers_ / "somebody.spk");
    SilentNotifier silent;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, silent), 1);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"anna"}));
    EXPECT_EQ(CountUserFiles(speakers_, "anna"), 1);
    EXPECT_EQ(CountUserFiles(speakers_, "somebody"), 0);
}

TEST_F(SpeakerStoreTest, DuplicateFilesGiveOneUserAndOneMessage) {
    Store("anna", 1.0f);
    Store("bob", 2.0f);
    fs::copy_file(speakers_ / "anna.spk", speakers_ / "copy.spk");
    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 2);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"anna", "bob"}));
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"User anna already is in the list"}));
    // Removal finds both files, deletes both and leaves the other user's file alone.
    EXPECT_EQ(CountUserFiles(speakers_, "anna"), 2);
    EXPECT_EQ(CountUserFiles(speakers_, "Anna"), 0);
    const UserFileDeletion deletion = DeleteUserFiles(speakers_, "anna");
    EXPECT_EQ(deletion.deleted, 2);
    EXPECT_TRUE(deletion.failed.empty());
    EXPECT_EQ(FileNames(speakers_), (std::vector<std::string>{"bob.spk"}));
}

TEST_F(SpeakerStoreTest, DamagedFilesAreSkippedWithTheirPath) {
    Store("anna", 1.0f);
    Store("bob", 2.0f);
    Store("carl", 3.0f);
    // bob: cut in the middle of the cipher data; carl: header damaged.
    const std::string bob = ReadText(speakers_ / "bob.spk");
    std::ofstream(speakers_ / "bob.spk", std::ios::binary) << bob.substr(0, bob.size() - 9);
    std::ofstream(speakers_ / "carl.spk", std::ios::binary) << "carl\nmany\n0\n";
    // dave: sound encryption, damaged model inside (a count of 65).
    std::vector<std::uint8_t> badModel = {65, 0, 0, 0};
    badModel.resize(16 + 65 * 88, 0);
    ASSERT_EQ(
        EncodeBuffer(badModel, speakers_ / "dave.spk", "dave", StoreKey, StoreSubstitutionTable),
        1);
    // eve: a model written under another key decodes to noise.
    GostKey otherKey = StoreKey;
    otherKey[3] ^= 1u;
    const std::vector<std::uint8_t> model = SerialiseModelFile(Enrolment(4.0f), 1.0f);
    ASSERT_EQ(EncodeBuffer(model, speakers_ / "eve.spk", "eve", otherKey, StoreSubstitutionTable),
              1);

    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 1);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"anna"}));
    EXPECT_EQ(notifier.Texts(),
              (std::vector<std::string>{"Can not load file: " + PathText(speakers_ / "bob.spk"),
                                        "Can not load file: " + PathText(speakers_ / "carl.spk"),
                                        "Can not load file: " + PathText(speakers_ / "dave.spk"),
                                        "Can not load file: " + PathText(speakers_ / "eve.spk")}));
}

TEST_F(SpeakerStoreTest, OverlongFirstTokenMakesAFileUnreadable) {
    Store("anna", 1.0f);
    const std::string longName(1000, 'n');
    std::ofstream(speakers_ / "long.spk", std::ios::binary) << longName << "\n1\n0\n12345678";
    // A file holding the first 999 characters of that name as its own marker must not
    // pick up the long file.
    std::ofstream(speakers_ / "short.spk", std::ios::binary) << longName.substr(0, 999) << " x";
    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 1);
    EXPECT_EQ(CountUserFiles(speakers_, longName), 0);
    EXPECT_EQ(CountUserFiles(speakers_, longName.substr(0, 999)), 1);
    EXPECT_EQ(DeleteUserFiles(speakers_, longName).deleted, 0);
    EXPECT_TRUE(fs::exists(speakers_ / "long.spk"));
    // short.spk is not a speaker file: reported, not loaded.
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"Can not load file: " +
                                                          PathText(speakers_ / "short.spk")}));
}

TEST_F(SpeakerStoreTest, StoringNeverReplacesALoadableFile) {
    Store("anna", 1.0f);
    // The same user again (another enrolment of the name stored meanwhile): kept.
    const Result<fs::path> again = StoreSpeakerFile(speakers_, "anna", Enrolment(2.0f), 2.25f);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code(), SpeakerError::AlreadyStored);
    EXPECT_EQ(again.error().path(), SpeakerFilePath(speakers_, "anna"));
    SilentNotifier silent;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, silent), 1);
    EXPECT_EQ(users.Find("anna")->threshold, 1.25f);

    // bob.spk holds anna (renamed on disk): storing bob must not destroy it.
    fs::rename(speakers_ / "anna.spk", speakers_ / "bob.spk");
    const std::string before = ReadText(speakers_ / "bob.spk");
    RecordingNotifier notifier;
    EXPECT_EQ(StoreUserFiles(speakers_, "bob", Enrolment(3.0f), 1.0f, notifier), -1);
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"Unable to save users (speakers) file"}));
    EXPECT_EQ(ReadText(speakers_ / "bob.spk"), before);
    EXPECT_EQ(FileNames(speakers_), (std::vector<std::string>{"bob.spk"}));
}

// Both forms take the one store step: the user of either form is the user already, unless the
// form allows the other one to stay (protecting and unprotecting); a damaged file of the path is
// kept aside, another user's file is never replaced. Protected files are written with cheap
// costs here: they are only listed, never unlocked.
TEST_F(SpeakerStoreTest, OneNameHasOneModelInEitherForm) {
    constexpr KdfParameters kCheap{1, 64, 2};
    const std::string passphrase = "pass";
    const auto protectedForm = [&](bool beside) {
        StoreForm form;
        form.passphrase = std::span<const char>(passphrase);
        form.kdf = kCheap;
        form.besideOtherForm = beside;
        return form;
    };
    StoreForm plainBeside;
    plainBeside.besideOtherForm = true;
    enum class There { Nothing, Plain, Protected, DamagedProtected, OthersProtected };
    const struct {
        const char* what;
        There there;
        StoreForm form;
        std::optional<SpeakerError> refusal;  // none: stored
        std::vector<std::string> files;       // the folder afterwards
    } cases[] = {
        {"plain", There::Nothing, StoreForm{}, std::nullopt, {"anna.spk"}},
        {"protected", There::Nothing, protectedForm(false), std::nullopt, {"anna.qvlock"}},
        {"protected over plain",
         There::Plain,
         protectedForm(false),
         SpeakerError::AlreadyStored,
         {"anna.spk"}},
        {"plain over protected",
         There::Protected,
         StoreForm{},
         SpeakerError::AlreadyStored,
         {"anna.qvlock"}},
        {"protecting",
         There::Plain,
         protectedForm(true),
         std::nullopt,
         {"anna.qvlock", "anna.spk"}},
        {"unprotecting", There::Protected, plainBeside, std::nullopt, {"anna.qvlock", "anna.spk"}},
        {"protected again",
         There::Protected,
         protectedForm(true),
         SpeakerError::AlreadyStored,
         {"anna.qvlock"}},
        {"over a damaged one",
         There::DamagedProtected,
         protectedForm(false),
         std::nullopt,
         {"anna.qvlock", "anna.qvlock.kept-1"}},
        {"over another user's",
         There::OthersProtected,
         protectedForm(false),
         SpeakerError::OtherUsersFile,
         {"anna.qvlock"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::ScratchFolder scratch;
        const fs::path folder = scratch.Path();
        const fs::path qvlock = ProtectedFilePath(folder, "anna");
        switch (c.there) {
            case There::Nothing:
                break;
            case There::Plain:
                ASSERT_TRUE(StoreSpeakerFile(folder, "anna", Enrolment(1.0f), 1.0f));
                break;
            case There::Protected:
                ASSERT_TRUE(StoreUser(folder, "anna", Enrolment(1.0f), 1.0f, protectedForm(false)));
                break;
            case There::DamagedProtected:
                std::ofstream(qvlock, std::ios::binary) << "qvlock1:damaged\n1\n0\n";
                break;
            case There::OthersProtected:
                ASSERT_TRUE(WriteProtectedFile(qvlock, "bob", Enrolment(1.0f), 1.0f, passphrase,
                                               kCheap, OutputMode::NoReplace));
                break;
        }
        const std::string before = ReadText(qvlock);
        std::vector<fs::path> keptAside;
        StoreForm form = c.form;
        form.keptAside = [&keptAside](const fs::path& kept) { keptAside.push_back(kept); };
        const Result<fs::path> stored = StoreUser(folder, "anna", Enrolment(2.0f), 2.0f, form);
        const fs::path path = c.form.passphrase ? qvlock : SpeakerFilePath(folder, "anna");
        if (c.refusal) {
            ASSERT_FALSE(stored);
            EXPECT_EQ(stored.error().code(), MakeError(*c.refusal));
            EXPECT_EQ(stored.error().path(), path);
        } else {
            ASSERT_TRUE(stored) << stored.error().Reason();
            EXPECT_EQ(*stored, path);
        }
        EXPECT_EQ(FileNames(folder), c.files);
        EXPECT_EQ(keptAside, c.there == There::DamagedProtected
                                 ? std::vector<fs::path>{folder / "anna.qvlock.kept-1"}
                                 : std::vector<fs::path>{});
        if (c.refusal && c.form.passphrase) {
            EXPECT_EQ(ReadText(qvlock), before);
        }
    }
}

TEST_F(SpeakerStoreTest, SpeakerFileNameIsTheNamePlusExtension) {
    EXPECT_EQ(SpeakerFilePath(speakers_, "j.smith"), speakers_ / "j.smith.spk");
    Store("\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0", 1.0f);  // non-ASCII names are kept as typed
    SilentNotifier silent;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, silent), 1);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"\xD0\x90\xD0\xBD\xD0\xBD\xD0\xB0"}));
}

// One flipped bit in the header, the cipher data or the trailer: the file is refused with its
// path instead of loading wrong models. A file of earlier versions, without trailer, loads.
TEST_F(SpeakerStoreTest, AFlippedBitIsRefusedAtLoadingButOldFilesLoad) {
    Store("anna", 1.0f);
    const fs::path path = speakers_ / "anna.spk";
    const std::vector<std::uint8_t> whole = testing::ReadBytes(path);
    const std::size_t data = std::string("anna\n").size() +
                             std::to_string((whole.size() - kTrailerBytes) / 8).size() + 3;
    const std::size_t end = whole.size();
    for (const std::size_t pos :
         {std::size_t{1}, std::size_t{5}, data, data + 100, end - kTrailerBytes - 1,
          end - kTrailerBytes, end - kTrailerBytes + 8, end - 32, end - 1}) {
        std::vector<std::uint8_t> flipped = whole;
        flipped[pos] ^= 0x10;
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(flipped.data()),
                   static_cast<std::streamsize>(flipped.size()));
        RecordingNotifier notifier;
        UserList users;
        EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 0) << pos;
        EXPECT_EQ(notifier.Texts(),
                  std::vector<std::string>{"Can not load file: " + PathText(path)})
            << pos;
    }

    const std::vector<std::uint8_t> model = SerialiseModelFile(Enrolment(1.0f), 1.25f);
    std::ofstream(root_ / "model", std::ios::binary)
        .write(reinterpret_cast<const char*>(model.data()),
               static_cast<std::streamsize>(model.size()));
    ASSERT_TRUE(
        EncodeFileWithoutTrailer(root_ / "model", path, "anna", StoreKey, StoreSubstitutionTable));
    RecordingNotifier notifier;
    UserList users;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, users, notifier), 1);
    EXPECT_TRUE(notifier.Texts().empty());
    EXPECT_EQ(users.Find("anna")->threshold, 1.25f);
}

#ifdef __linux__
// Under umask 022 the Speakers folder is rwx------ and speaker files rw-------, replaced or new.
TEST_F(SpeakerStoreTest, FolderAndSpeakerFilesAreOwnerOnly) {
    const mode_t oldMask = ::umask(022);
    const fs::path folder = root_ / "program" / "Speakers";
    const Status created = CreateSpeakersFolder(folder);
    ASSERT_TRUE(created) << created.error().Reason();
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_TRUE(CreateSpeakersFolder(folder));  // already there
    std::ofstream(root_ / "file") << "in the way";
    const Status inTheWay = CreateSpeakersFolder(root_ / "file");
    ASSERT_FALSE(inTheWay);
    EXPECT_EQ(inTheWay.error().code(), std::errc::file_exists);

    SilentNotifier silent;
    for (int round = 0; round < 2; ++round) {  // new, then over a damaged one kept aside
        if (round == 1) {
            std::ofstream(folder / "anna.spk", std::ios::binary) << "anna\n1\n0\n";
        }
        ASSERT_EQ(StoreUserFiles(folder, "anna", Enrolment(1.0f), 1.0f, silent), 1);
        EXPECT_EQ(fs::status(folder / "anna.spk").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    ::umask(oldMask);
}
#endif

}  // namespace
}  // namespace quorvane
