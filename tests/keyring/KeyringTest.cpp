#include "keyring/Keyring.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files/PathText.h"
#include "tests/support/TestFiles.h"

#ifndef _WIN32
#include <libsecret/secret.h>
#endif

// The keyring backends against the real thing: on Linux the Secret Service of a
// gnome-keyring-daemon in a private D-Bus session (with-keyring.sh), on Windows DPAPI with the
// data folder pointed at a scratch folder. The speaker files need not exist: the keyring only
// knows their paths.

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
    // A speaker file's path, different in every test (the keyring outlives the test).
    std::filesystem::path SpeakerFile(const std::string& name) const {
        return scratch_.Path() / "Speakers" / name;
    }
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
        const std::filesystem::path file = SpeakerFile("user" + std::to_string(i) + ".spk");
        ASSERT_EQ(RememberPassphrase(file, "anna", passphrases[i]), KeyringStatus::Done) << i;
        SecretText recalled;
        ASSERT_EQ(RecallPassphrase(file, recalled), KeyringStatus::Done) << i;
        EXPECT_EQ(Text(recalled), passphrases[i]) << i;
    }
}

TEST_F(KeyringTest, UnknownFileIsNotFound) {
    SecretText recalled = {'o', 'l', 'd'};
    EXPECT_EQ(RecallPassphrase(SpeakerFile("never.spk"), recalled), KeyringStatus::NotFound);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(ForgetPassphrase(SpeakerFile("never.spk")), KeyringStatus::NotFound);
}

TEST_F(KeyringTest, ForgottenPassphraseIsNotFound) {
    const std::filesystem::path file = SpeakerFile("anna.spk");
    ASSERT_EQ(RememberPassphrase(file, "anna", std::string("secret")), KeyringStatus::Done);
    EXPECT_EQ(ForgetPassphrase(file), KeyringStatus::Done);
    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(file, recalled), KeyringStatus::NotFound);
    EXPECT_EQ(ForgetPassphrase(file), KeyringStatus::NotFound);
}

TEST_F(KeyringTest, RememberingAgainReplacesThePassphrase) {
    const std::filesystem::path file = SpeakerFile("anna.spk");
    ASSERT_EQ(RememberPassphrase(file, "anna", std::string("first")), KeyringStatus::Done);
    ASSERT_EQ(RememberPassphrase(file, "anna", std::string("second")), KeyringStatus::Done);
    SecretText recalled;
    ASSERT_EQ(RecallPassphrase(file, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "second");
}

TEST_F(KeyringTest, TwoSpeakerFilesAreTwoItems) {
    const std::filesystem::path anna = SpeakerFile("anna.spk");
    const std::filesystem::path boris = SpeakerFile("boris.spk");
    ASSERT_EQ(RememberPassphrase(anna, "anna", std::string("anna's")), KeyringStatus::Done);
    ASSERT_EQ(RememberPassphrase(boris, "boris", std::string("boris's")), KeyringStatus::Done);
    SecretText recalled;
    ASSERT_EQ(RecallPassphrase(anna, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "anna's");
    ASSERT_EQ(RecallPassphrase(boris, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "boris's");

    ASSERT_EQ(ForgetPassphrase(anna), KeyringStatus::Done);
    EXPECT_EQ(RecallPassphrase(anna, recalled), KeyringStatus::NotFound);
    ASSERT_EQ(RecallPassphrase(boris, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "boris's");
}

TEST_F(KeyringTest, EverySpellingOfAPathFindsTheSameItem) {
    std::filesystem::create_directories(SpeakerFile("sub"));
    const std::filesystem::path file = SpeakerFile("anna.spk");
    const std::filesystem::path roundabout = SpeakerFile("sub") / ".." / "." / "anna.spk";
    ASSERT_EQ(RememberPassphrase(roundabout, "anna", std::string("secret")), KeyringStatus::Done);
    SecretText recalled;
    ASSERT_EQ(RecallPassphrase(file, recalled), KeyringStatus::Done);
    EXPECT_EQ(Text(recalled), "secret");
}

#ifdef _WIN32

TEST_F(KeyringTest, ItemIsAProtectedFileInTheDataFolder) {
    const std::string passphrase = "plainly visible passphrase";
    ASSERT_EQ(RememberPassphrase(SpeakerFile("anna.spk"), "anna", passphrase), KeyringStatus::Done);
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
    ASSERT_EQ(RememberPassphrase(SpeakerFile("anna.spk"), "anna", std::string("anna's")),
              KeyringStatus::Done);
    const std::filesystem::path annaItem = std::filesystem::directory_iterator(folder)->path();
    ASSERT_EQ(RememberPassphrase(SpeakerFile("boris.spk"), "boris", std::string("boris's")),
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
    EXPECT_EQ(RecallPassphrase(SpeakerFile("boris.spk"), recalled), KeyringStatus::Failed);
    EXPECT_TRUE(recalled.empty());
}

#else

// The item as another program sees it in the Secret Service: its schema, path and label.
TEST_F(KeyringTest, ItemIsLabelledWithTheUserAndTheFolder) {
    const std::filesystem::path file = SpeakerFile("anna.spk");
    ASSERT_EQ(RememberPassphrase(file, "anna", std::string("secret")), KeyringStatus::Done);

    SecretService* const service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    GHashTable* const attributes = g_hash_table_new(g_str_hash, g_str_equal);
    const std::string path = PathText(file);
    g_hash_table_insert(attributes, const_cast<char*>("xdg:schema"),
                        const_cast<char*>("org.quorvane.Quorvane.Passphrase"));
    g_hash_table_insert(attributes, const_cast<char*>("path"), const_cast<char*>(path.c_str()));
    GList* const items = secret_service_search_sync(service, nullptr, attributes, SECRET_SEARCH_ALL,
                                                    nullptr, nullptr);
    ASSERT_EQ(g_list_length(items), 1u);
    gchar* const label = secret_item_get_label(static_cast<SecretItem*>(items->data));
    EXPECT_EQ(std::string(label),
              "Quorvane passphrase of anna (" + PathText(scratch_.Path() / "Speakers") + ")");
    g_free(label);
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
}

// A locked keyring that cannot be unlocked (no display for its prompt) gives nothing away and
// says it is unavailable, not that nothing is remembered. Run by its own CTest entry, with a
// keyring of its own: the daemon cannot be unlocked again from outside.
class KeyringLocked : public KeyringTest {};

TEST_F(KeyringLocked, LockedKeyringIsUnavailable) {
    const std::filesystem::path file = SpeakerFile("anna.spk");
    ASSERT_EQ(RememberPassphrase(file, "anna", std::string("secret")), KeyringStatus::Done);

    SecretService* const service =
        secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    GList* const collections = secret_service_get_collections(service);
    EXPECT_GT(secret_service_lock_sync(service, collections, nullptr, nullptr, nullptr), 0);
    g_list_free_full(collections, g_object_unref);
    g_object_unref(service);

    SecretText recalled;
    EXPECT_EQ(RecallPassphrase(file, recalled), KeyringStatus::Unavailable);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(RememberPassphrase(SpeakerFile("boris.spk"), "boris", std::string("secret")),
              KeyringStatus::Unavailable);
    EXPECT_EQ(ForgetPassphrase(file), KeyringStatus::Unavailable);
}

// Run by two CTest entries: one without any session bus (no DBUS_SESSION_BUS_ADDRESS, no
// XDG_RUNTIME_DIR), one on a bus where no Secret Service answers or can be started. Every call
// answers that the keyring is unavailable (and the entries' timeouts catch a hang).
TEST(KeyringUnreachable, EveryCallIsUnavailable) {
    ASSERT_STREQ(std::getenv("QUORVANE_TEST_KEYRING"), "unreachable")
        << "run by CTest, which takes the keyring away";
    const std::filesystem::path file = "/nowhere/anna.spk";
    EXPECT_EQ(RememberPassphrase(file, "anna", std::string("secret")), KeyringStatus::Unavailable);
    SecretText recalled = {'o', 'l', 'd'};
    EXPECT_EQ(RecallPassphrase(file, recalled), KeyringStatus::Unavailable);
    EXPECT_TRUE(recalled.empty());
    EXPECT_EQ(ForgetPassphrase(file), KeyringStatus::Unavailable);
}

#endif

}  // namespace
}  // namespace quorvane
