#include "keyring/Keyring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "files/PathText.h"
#include "speaker/ProtectedFile.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"
#include "workflow/Users.h"

#ifndef _WIN32
#include <libsecret/secret.h>
#endif

// The keyring backends against the real thing: on Linux the Secret Service of a
// gnome-keyring-daemon in a private D-Bus session (with-keyring.sh), on Windows DPAPI with the
// data folder pointed at a scratch folder. The protected files need not exist: the keyring only
// knows their entries (path, user, salt).

namespace quorvane {
namespace {

std::string Text(const SecretText& text) {
    return {text.begin(), text.end()};
}

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        // The items go to %APPDATA%\Quorvane\Keyring: a scratch folder's, not the user's.
        ASSERT_EQ(_wputenv_s(L"APPDATA", scratch_.Path().c_str()), 0);
#else
        ASSERT_STREQ(std::getenv("QUORVANE_TEST_KEYRING"), "private")
            << "run through tests/keyring/with-keyring.sh, which gives the tests a keyring of "
               "their own";
#endif
    }
    // A protected file's path, different in every test (the keyring outlives the test).
    std::filesystem::path SpeakerFile(const std::string& name) const {
        return scratch_.Path() / "Speakers" / name;
    }
    // The entry of a protected file of anna under the test's first salt.
    KeyringEntry Entry(const std::string& leaf, const std::string& user = "anna",
                       const std::string& salt = kSalt) const {
        return {SpeakerFile(leaf), user, salt};
    }
    static constexpr const char* kSalt = "00112233445566778899aabbccddeeff";
    testing::ScratchFolder scratch_;
};

TEST_F(KeyringTest, RecallGivesTheRememberedBytes) {
    const std::vector<std::string> passphrases = {
        "a",
        "correct horse battery staple",
        "\xd0\xbf\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c \xe5\xaf\x86\xe7\xa0\x81",  // UTF-8
        " leading and trailing spaces ",
        std::string(500, 'x') + "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~",
    };
    for (std::size_t i = 0; i < passphrases.size(); ++i) {
        const KeyringEntry entry = Entry("user" + std::to_string(i) + ".qvlock");
        ASSERT_EQ(RememberPassphrase(entry, passphrases[i]), KeyringStatus::Done) << i;
        SecretText recalled;
        ASSERT_EQ(RecallPassphrase(entry, recalled), KeyringStatus::Done) << i;
        EXPECT_EQ(Text(recalled), passphrases[i]) << i;
    }
}

TEST_F(KeyringTest, UnknownFileIsNotFound) {
    SecretText recalled = {'o', 'l', 'd'};
    EXPECT_EQ(RecallPassphrase(Entry("never.qvlock"), recalled), KeyringStatus::NotFound);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(ForgetPassphrase(Entry("never.qvlock")), KeyringStatus::NotFound);
}

TEST_F(KeyringTest, ForgottenPassphraseIsNotFound) {
    const KeyringEntry entry = Entry("anna.qvlock");
    ASSERT_EQ(RememberPassphrase(entry, std::string("secret")), KeyringStatus::Done);
    EXPECT_EQ(ForgetPassphrase(entry), KeyringStatus::Done);
    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(entry, recalled), KeyringStatus::NotFound);
    EXPECT_EQ(ForgetPassphrase(entry), KeyringStatus::NotFound);
}

TEST_F(KeyringTest, RememberingAgainReplacesThePassphrase) {
    const KeyringEntry entry = Entry("anna.qvlock");
    ASSERT_EQ(RememberPassphrase(entry, std::string("first")), KeyringStatus::Done);
    ASSERT_EQ(RememberPassphrase(entry, std::string("second")), KeyringStatus::Done);
    SecretText recalled;
    ASSERT_EQ(RecallPassphrase(entry, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "second");
}

// An entry finds only the passphrase remembered for exactly its file, user and salt: a file
// written anew (another salt), another user's file at the same path, or another file never gets
// it.
TEST_F(KeyringTest, AnEntryFindsOnlyItsOwnPassphrase) {
    ASSERT_EQ(RememberPassphrase(Entry("anna.qvlock"), std::string("anna's")), KeyringStatus::Done);
    const struct {
        KeyringEntry entry;
        KeyringStatus status;
    } cases[] = {
        {Entry("anna.qvlock"), KeyringStatus::Done},
        {Entry("anna.qvlock", "anna", "ffeeddccbbaa99887766554433221100"), KeyringStatus::NotFound},
        {Entry("anna.qvlock", "bob"), KeyringStatus::NotFound},
        {Entry("bob.qvlock"), KeyringStatus::NotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.user + " " + c.entry.salt + " " + PathText(c.entry.file));
        SecretText recalled;
        EXPECT_EQ(RecallPassphrase(c.entry, recalled), c.status);
        EXPECT_EQ(Text(recalled), c.status == KeyringStatus::Done ? "anna's" : "");
    }
    ASSERT_EQ(ForgetPassphrase(Entry("anna.qvlock", "bob")), KeyringStatus::NotFound);
    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(Entry("anna.qvlock"), recalled), KeyringStatus::Done);
}

TEST_F(KeyringTest, EverySpellingOfAPathFindsTheSameItem) {
    std::filesystem::create_directories(SpeakerFile("sub"));
    const KeyringEntry roundabout{SpeakerFile("sub") / ".." / "." / "anna.qvlock", "anna", kSalt};
    ASSERT_EQ(RememberPassphrase(roundabout, std::string("secret")), KeyringStatus::Done);
    SecretText recalled;
    ASSERT_EQ(RecallPassphrase(Entry("anna.qvlock"), recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "secret");
}

// The items of one folder whose files are gone or written anew are forgotten when asked; the
// current ones, and every item of another folder, stay.
TEST_F(KeyringTest, StaleItemsOfAFolderAreForgotten) {
    const KeyringEntry current = Entry("anna.qvlock");
    const KeyringEntry rewritten = Entry("bob.qvlock", "bob");
    const KeyringEntry gone = Entry("carl.qvlock", "carl");
    const KeyringEntry elsewhere{scratch_.Path() / "Other" / "dora.qvlock", "dora", kSalt};
    for (const KeyringEntry& entry : {current, rewritten, gone, elsewhere}) {
        ASSERT_EQ(RememberPassphrase(entry, std::string("secret")), KeyringStatus::Done);
    }
    std::vector<std::string> judged;
    EXPECT_EQ(ForgetStalePassphrases(SpeakerFile(""),
                                     [&](const KeyringEntry& entry) {
                                         judged.push_back(entry.user);
                                         return entry == current;
                                     }),
              KeyringStatus::Done);
    std::sort(judged.begin(), judged.end());
    EXPECT_EQ(judged, (std::vector<std::string>{"anna", "bob", "carl"}));
    const struct {
        KeyringEntry entry;
        KeyringStatus status;
    } cases[] = {{current, KeyringStatus::Done},
                 {rewritten, KeyringStatus::NotFound},
                 {gone, KeyringStatus::NotFound},
                 {elsewhere, KeyringStatus::Done}};
    for (const auto& c : cases) {
        SecretText recalled;
        EXPECT_EQ(RecallPassphrase(c.entry, recalled), c.status) << c.entry.user;
    }
    EXPECT_TRUE(KeyringAvailable());
}

// Through the users' workflows: a passphrase remembered at enrolment unlocks without asking;
// once the file is written anew in its place (another salt), listing the users forgets the
// remembered passphrase, which never applied to the new file.
TEST_F(KeyringTest, ListingTheUsersForgetsThePassphraseOfAFileWrittenAnew) {
    const std::filesystem::path speakers = SpeakerFile("");
    const std::filesystem::path file = speakers / "anna.qvlock";
    Enrolment enrolment;
    enrolment.MutablePhraseCodebooks() = testing::Phrases(1.0f);
    enrolment.SetThreshold(0.5f);
    const auto typed = [](const std::string& text, bool remember) {
        PassphraseAnswer answer;
        answer.given = true;
        answer.passphrase.assign(text.begin(), text.end());
        answer.remember = remember;
        return answer;
    };
    testing::ScriptedFrontEnd front;
    front.passphrases = {typed("open sesame", true)};
    {
        Users users(speakers);
        ASSERT_TRUE(users
                        .Add("anna", enrolment, front,
                             {.keyFile = std::nullopt, .protection = ProtectionOffer::Required})
                        .done);
    }
    ProtectedHeader first;
    ASSERT_TRUE(ReadProtectedHeader(file, first));
    {
        Users users(speakers);
        users.Load(front);
        ASSERT_TRUE(UnlockUser(users, "anna", front).done);
        EXPECT_EQ(front.passphraseConfirms, std::vector<bool>{true});  // nothing asked
    }
    std::filesystem::remove(file);
    ASSERT_TRUE(WriteProtectedFile(file, "anna", enrolment.PhraseCodebooks(), 0.5f,
                                   std::string("another"), kProtectionKdf, OutputMode::NoReplace));
    Users users(speakers);
    users.Load(front);
    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(EntryOf(file, first), recalled), KeyringStatus::NotFound);
    front.passphrases = {typed("another", false)};
    ASSERT_TRUE(UnlockUser(users, "anna", front).done);
    EXPECT_EQ(front.passphraseConfirms, (std::vector<bool>{true, false}));
    // The keyring answered throughout: nothing to say about it.
    EXPECT_EQ(front.shown, std::vector<std::string>{std::string(kSecurityKeyQuestion)});
}

#ifdef _WIN32

TEST_F(KeyringTest, ItemIsAProtectedFileInTheDataFolder) {
    const std::string passphrase = "plainly visible passphrase";
    ASSERT_EQ(RememberPassphrase(Entry("anna.qvlock"), passphrase), KeyringStatus::Done);
    std::vector<std::filesystem::path> items;
    for (const auto& entry :
         std::filesystem::directory_iterator(scratch_.Path() / "Quorvane" / "Keyring")) {
        items.push_back(entry.path());
    }
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].filename().string().size(), 64u + std::string(".dpapi").size());
    const std::string stored = testing::ReadText(items[0]);
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored.find(passphrase), std::string::npos);
}

// The protection is bound to the speaker file's path: an item copied over another file's item
// does not unprotect for that file.
TEST_F(KeyringTest, ItemOfAnotherFileDoesNotUnprotect) {
    const std::filesystem::path folder = scratch_.Path() / "Quorvane" / "Keyring";
    ASSERT_EQ(RememberPassphrase(Entry("anna.qvlock"), std::string("anna's")), KeyringStatus::Done);
    const std::filesystem::path annaItem = std::filesystem::directory_iterator(folder)->path();
    ASSERT_EQ(RememberPassphrase(Entry("boris.qvlock", "boris"), std::string("boris's")),
              KeyringStatus::Done);
    std::filesystem::path borisItem;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path() != annaItem) {
            borisItem = entry.path();
        }
    }
    ASSERT_TRUE(std::filesystem::remove(borisItem));
    std::filesystem::copy_file(annaItem, borisItem);
    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(Entry("boris.qvlock", "boris"), recalled), KeyringStatus::Failed);
    EXPECT_TRUE(recalled.empty());
}

#else

// The item as another program sees it in the Secret Service: its schema, its attributes (the
// program's id, the path, the user, the salt) and its label.
TEST_F(KeyringTest, ItemCarriesItsEntryAndIsLabelledWithTheUserAndTheFolder) {
    ASSERT_EQ(RememberPassphrase(Entry("anna.qvlock"), std::string("secret")), KeyringStatus::Done);

    SecretService* const service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    GHashTable* const attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const std::string path = PathText(SpeakerFile("anna.qvlock"));
    g_hash_table_insert(attributes, const_cast<char*>("xdg:schema"),
                        const_cast<char*>("org.quorvane.Quorvane.Passphrase"));
    g_hash_table_insert(attributes, const_cast<char*>("path"), const_cast<char*>(path.c_str()));
    GList* const items = secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL,
                                                    nullptr, nullptr);
    ASSERT_EQ(g_list_length(items), 1u);
    auto* const item = static_cast<SecretItem*>(items->data);
    gchar* const label = secret_item_get_label(item);
    EXPECT_EQ(std::string(label),
              "Quorvane passphrase of anna (" + PathText(scratch_.Path() / "Speakers") + ")");
    g_free(label);
    GHashTable* const stored = secret_item_get_attributes(item);
    const auto attribute = [stored](const char* name) {
        const auto* value = static_cast<const char*>(g_hash_table_lookup(stored, name));
        return value != nullptr ? std::string(value) : std::string("(none)");
    };
    EXPECT_EQ(attribute("application"), "org.quorvane.Quorvane");
    EXPECT_EQ(attribute("user"), "anna");
    EXPECT_EQ(attribute("salt"), kSalt);
    g_hash_table_unref(stored);
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
}

// A locked keyring that cannot be unlocked (no display for its prompt) gives nothing away and
// says it is unavailable, not that nothing is remembered. Run by its own CTest entry, with a
// keyring of its own: the daemon cannot be unlocked again from outside.
class KeyringLocked : public KeyringTest {};

TEST_F(KeyringLocked, LockedKeyringIsUnavailable) {
    const KeyringEntry entry = Entry("anna.qvlock");
    ASSERT_EQ(RememberPassphrase(entry, std::string("secret")), KeyringStatus::Done);

    SecretService* const service =
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    GList* const collections = secret_service_get_collections(service);
    EXPECT_GT(secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr), 0);
    g_list_free_full(collections, g_object_unref);
    g_object_unref(service);

    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(entry, recalled), KeyringStatus::Unavailable);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(RememberPassphrase(Entry("boris.qvlock", "boris"), std::string("secret")),
              KeyringStatus::Unavailable);
    EXPECT_EQ(ForgetPassphrase(entry), KeyringStatus::Unavailable);
}

// Run by two CTest entries: one without any session bus (no DBUS_SESSION_BUS_ADDRESS, no
// XDG_RUNTIME_DIR), one on a bus where no Secret Service answers or can be started. Every call
// answers that the keyring is unavailable (and the entries' timeouts catch a hang).
TEST(KeyringUnreachable, EveryCallIsUnavailable) {
    ASSERT_STREQ(std::getenv("QUORVANE_TEST_KEYRING"), "unreachable")
        << "run by CTest, which takes the keyring away";
    const KeyringEntry entry{"/nowhere/anna.qvlock", "anna", "00112233445566778899aabbccddeeff"};
    EXPECT_EQ(RememberPassphrase(entry, std::string("secret")), KeyringStatus::Unavailable);
    SecretText recalled = {'o', 'l', 'd'};
    EXPECT_EQ(RecallPassphrase(entry, recalled), KeyringStatus::Unavailable);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(ForgetPassphrase(entry), KeyringStatus::Unavailable);
    EXPECT_FALSE(KeyringAvailable());
    EXPECT_EQ(ForgetStalePassphrases("/nowhere", [](const KeyringEntry&) { return false; }),
              KeyringStatus::Unavailable);
}

#endif

}  // namespace
}  // namespace quorvane
