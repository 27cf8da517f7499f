// Registered users: the list, the security key derived from the codebooks, and the key
// file.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "speaker/KeyFile.h"
#include "speaker/ModelFile.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

// A codebook of `count` filled codewords; component j of codeword i is value(i, j).
template <typename ValueFn>
VoiceCodebook MakeCodebook(int count, ValueFn value) {
    return testing::FilledCodebook(count, value, [](int i) { return 1 + i; });
}

VoiceCodebook Constant(int count, float value) {
    return MakeCodebook(count, [value](int, int) { return value; });
}

std::array<VoiceCodebook, 3> ThreeOf(const VoiceCodebook& codebook) {
    return {codebook, codebook, codebook};
}

std::vector<std::int32_t> Signed(const GostKey& key) {
    std::vector<std::int32_t> words;
    for (const std::uint32_t w : key) {
        words.push_back(static_cast<std::int32_t>(w));
    }
    return words;
}

using testing::ReadText;
using testing::ScratchFolder;

// ---- The list ----

TEST(UserListOrder, AppendKeepsOrderAndCopiesOnlyFilledCodewords) {
    UserList users;
    std::array<VoiceCodebook, 3> enrolment = ThreeOf(Constant(10, 2.0f));
    (*enrolment[1].codewords)[3].memberCount = 0;
    const std::array<VoiceCodebook, 3> untouched = enrolment;
    EXPECT_EQ(AppendUser(users, enrolment, "zed", 0.5f), 1);
    EXPECT_EQ(AppendUser(users, enrolment, "amy", 0.25f), 2);
    EXPECT_EQ(AppendUser(users, enrolment, "Zed", 0.75f), 3);
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"zed", "amy", "Zed"}));
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(ExportCodewords(enrolment[c]), ExportCodewords(untouched[c]));
        EXPECT_EQ(enrolment[c].codewordCount, 10);
    }
    const UserRecord* amy = users.Find("amy");
    ASSERT_NE(amy, nullptr);
    EXPECT_EQ(amy->threshold, 0.25f);
    EXPECT_EQ(amy->codebooks[0].codewordCount, 10);
    EXPECT_EQ(amy->codebooks[1].codewordCount, 9);
    EXPECT_EQ(CountFilledCodewords(amy->codebooks[1]), 9);
    EXPECT_EQ(users.Find("AMY"), nullptr);
    EXPECT_EQ(users.Find("am"), nullptr);
}

TEST(UserListOrder, RemoveTakesOutExactlyTheNamedRecord) {
    UserList users;
    for (const char* name : {"a", "b", "c"}) {
        AppendUser(users, ThreeOf(Constant(8, 1.0f)), name, 1.0f);
    }
    const UserRecord* c = users.Find("c");
    EXPECT_FALSE(users.Remove("B"));
    EXPECT_TRUE(users.Remove("b"));
    EXPECT_EQ(users.Names(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(users.Find("c"), c);  // other records stay where they were
    EXPECT_TRUE(users.Remove("a"));
    EXPECT_TRUE(users.Remove("c"));
    EXPECT_TRUE(users.empty());
    EXPECT_FALSE(users.Remove("c"));
}

// ---- The security key ----
// Expected words are worked out independently: exact rational arithmetic for the
// product, IEEE single rounding for each step of the running sum.

TEST(SecurityKey, WholeSumsGiveTheHandWorkedWords) {
    // Every component 4: each codebook adds 21 * 2 = 42, so s[k] = 126 for every k.
    // Word 0: (7919 + 104729) * 126 = 14193648 = 0x00D893F0, rotated left by 14
    // = 0x24FC0036 = 620494902.
    const GostKey key = DeriveUserKey(ThreeOf(Constant(8, 4.0f)));
    EXPECT_EQ(Signed(key),
              (std::vector<std::int32_t>{620494902, -211517383, -1043529667, -1875541951,
                                         1587413061, 755400777, -76611508, -908623792}));
}

TEST(SecurityKey, EachOfTheFirstEightRowsFeedsItsOwnWord) {
    // One codebook counts: row r holds (r + 1)^2, so s[r] = 21 (r + 1). Word 5 equals
    // word 5 of the test above (6 * 21 = 126).
    std::array<VoiceCodebook, 3> books = {
        MakeCodebook(12, [](int i, int) { return static_cast<float>((i + 1) * (i + 1)); }),
        Constant(7, 100.0f), Constant(0, 0.0f)};
    EXPECT_EQ(Signed(DeriveUserKey(books)),
              (std::vector<std::int32_t>{103415817, 1361149971, -521764834, -1250361301, -824639431,
                                         755400777, -805207975, -1211498389}));
}

TEST(SecurityKey, RoundedSumsAreKeptInSinglePrecision) {
    // Component 2: 63 additions of sqrt(2) (a double) with the sum rounded to float32 after
    // each, giving 89.09550476074219 (0x1.6461ccp+6), then multiplied exactly.
    const GostKey key = DeriveUserKey(ThreeOf(Constant(9, 2.0f)));
    EXPECT_EQ(Signed(key),
              (std::vector<std::int32_t>{1228111910, -97107928, -1422311381, 1547436078, 222216241,
                                         -1103003597, 1866760246, 541540409}));
}

TEST(SecurityKey, EveryComponentIsRootedInDoublePrecision) {
    // Component i of row r of codebook b is 0.1f * (100 b + 22 r + i + 1). The words were
    // computed independently in exact arithmetic; rooting in float32 instead changes
    // words 1, 3 and 6.
    std::array<VoiceCodebook, 3> books;
    for (int b = 0; b < 3; ++b) {
        books[static_cast<std::size_t>(b)] = MakeCodebook(
            8, [b](int r, int i) { return 0.1f * static_cast<float>(100 * b + 22 * r + i + 1); });
    }
    EXPECT_EQ(Signed(DeriveUserKey(books)),
              (std::vector<std::int32_t>{-2130116528, 1297760355, -1761509260, -982450043,
                                         631160983, -709902168, -474349382, 1456062669}));
}

TEST(SecurityKey, ProductsBeyond32BitsAreExactBeforeTruncation) {
    // Component 9000001: s = 189000.015625 (float32), and (7919 + 104729) * s =
    // 21290473760.125, which truncates to 21290473760; only its low 32 bits are kept.
    const GostKey key = DeriveUserKey(ThreeOf(Constant(8, 9000001.0f)));
    EXPECT_EQ(Signed(key),
              (std::vector<std::int32_t>{-1236779712, 582275982, -1893602853, -74530776, 1744557686,
                                         -731337533, 1087734545, -1388144290}));
}

TEST(SecurityKey, OnlyTheFirstEightFilledRowsAndTwentyOneComponentsCount) {
    const GostKey plain = DeriveUserKey(ThreeOf(Constant(8, 4.0f)));
    // Component 21 and rows after the eighth do not enter the key; negative values
    // enter by their absolute value.
    VoiceCodebook extra = MakeCodebook(20, [](int i, int j) {
        if (j == 21 || i >= 8) {
            return 12345.0f;
        }
        return (i + j) % 2 == 0 ? 4.0f : -4.0f;
    });
    EXPECT_EQ(DeriveUserKey(ThreeOf(extra)), plain);
    // An empty codeword is skipped: the next filled one takes its place.
    VoiceCodebook gap = Constant(9, 4.0f);
    (*gap.codewords)[2].memberCount = 0;
    (*gap.codewords)[2].values.assign(kCepstrumOrder, 999.0f);
    EXPECT_EQ(DeriveUserKey(ThreeOf(gap)), plain);
}

TEST(SecurityKey, CodebooksWithFewerThanEightFilledRowsAddNothing) {
    EXPECT_EQ(DeriveUserKey(ThreeOf(Constant(7, 4.0f))), GostKey{});
    std::array<VoiceCodebook, 3> books = {Constant(8, 4.0f), Constant(7, 4.0f), VoiceCodebook{}};
    // Only the first codebook counts: s = 42, word 0 = 112648 * 42 = 4731216 = 0x00483150,
    // rotated left by 14 = 0x0C540012.
    EXPECT_EQ(DeriveUserKey(books)[0], 0x0C540012u);
}

TEST(SecurityKey, RecordGivesTheSameKeyAsTheEnrolment) {
    std::array<VoiceCodebook, 3> enrolment = {
        MakeCodebook(64, [](int i, int j) { return std::sin(static_cast<float>(i * 22 + j)); }),
        MakeCodebook(64, [](int i, int j) { return std::cos(static_cast<float>(i * 7 + j)); }),
        MakeCodebook(40, [](int i, int j) { return 0.01f * static_cast<float>(i - j); })};
    (*enrolment[0].codewords)[0].memberCount = 0;
    (*enrolment[0].codewords)[5].memberCount = 0;
    (*enrolment[2].codewords)[1].memberCount = 0;
    UserList users;
    AppendUser(users, enrolment, "first", 1.0f);
    AppendUser(users, enrolment, "second", 1.0f);
    const GostKey key = DeriveUserKey(enrolment);
    EXPECT_NE(key, GostKey{});
    EXPECT_EQ(DeriveUserKey(users.Find("first")->codebooks), key);
    EXPECT_EQ(DeriveUserKey(users.Find("second")->codebooks), key);
}

// ---- The key file ----

#ifdef _WIN32
constexpr const char* kEol = "\r\n";
#else
constexpr const char* kEol = "\n";
#endif

TEST(KeyFile, LayoutHasSignedWordsAndPlatformLineEnds) {
    const GostKey key = {0u,          1u,         0xFFFFFFFFu, 0x80000000u,
                         0x7FFFFFFFu, 123456789u, 0xF0000000u, 10u};
    const std::string expected = std::string("Users name: anna") + kEol + "Your key:" + kEol + "0" +
                                 kEol + "1" + kEol + "-1" + kEol + "-2147483648" + kEol +
                                 "2147483647" + kEol + "123456789" + kEol + "-268435456" + kEol +
                                 "10" + kEol;
    EXPECT_EQ(FormatKeyFile("anna", key), expected);
}

TEST(KeyFile, WrittenFileReadsBackAndReplacesAnOldOne) {
    const ScratchFolder folder;
    const std::filesystem::path path = folder.Path() / "anna_key.txt";
    std::ofstream(path) << "old content that is longer than nothing";
    const GostKey key = DeriveUserKey(ThreeOf(Constant(8, 4.0f)));
    ASSERT_TRUE(WriteKeyFile(path, "anna", key));
    EXPECT_EQ(ReadText(path), FormatKeyFile("anna", key));
    std::string name;
    GostKey back{};
    ASSERT_TRUE(ReadKeyFile(path, name, back));
    EXPECT_EQ(name, "anna");
    EXPECT_EQ(back, key);
#ifndef _WIN32
    const auto perms = std::filesystem::status(path).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
#endif
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(KeyFile, UnwritablePlaceFailsWithoutLeavingAnything) {
    const ScratchFolder folder;
    EXPECT_FALSE(WriteKeyFile(folder.Path() / "missing" / "k.txt", "anna", GostKey{}));
    std::filesystem::create_directories(folder.Path() / "k.txt" / "x");
    EXPECT_FALSE(WriteKeyFile(folder.Path() / "k.txt", "anna", GostKey{}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(KeyFile, ParsingAcceptsBothLineEndsAndBareWords) {
    std::string name = "x";
    GostKey key{};
    ASSERT_TRUE(ParseKeyFile(
        "Users name: bo\r\nYour key:\r\n1\r\n-2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n", name, key));
    EXPECT_EQ(name, "bo");
    EXPECT_EQ(key, (GostKey{1u, 0xFFFFFFFEu, 3u, 4u, 5u, 6u, 7u, 8u}));
    // Just the eight numbers, as typed into the key dialog; lines after the eighth are ignored.
    ASSERT_TRUE(ParseKeyFile("8\n7\n6\n5\n4\n3\n2\n1\nanything\n", name, key));
    EXPECT_EQ(name, "");
    EXPECT_EQ(key, (GostKey{8u, 7u, 6u, 5u, 4u, 3u, 2u, 1u}));
    const GostKey before = key;
    EXPECT_FALSE(ParseKeyFile("Users name: bo\nYour key:\n1\n2\n3\n4\n5\n6\n7\n", name, key));
    EXPECT_FALSE(ParseKeyFile("1\n2\n3\nfour\n5\n6\n7\n8\n", name, key));
    EXPECT_FALSE(ParseKeyFile("1\n2\n3\n4\n5\n6\n7\n2147483648\n", name, key));
    EXPECT_EQ(key, before);
}

TEST(KeyFile, KeyWordsAreSigned32BitDecimals) {
    // Signed 32-bit decimals as the key file writes them; a sign, leading zeros and blanks
    // around (ASCII and Unicode, as pasted keys carry them) are forgiven.
    const struct {
        const char* text;
        std::uint32_t word;
    } good[] = {{"0", 0u},
                {"-2147483648", 0x80000000u},
                {" 2147483647 ", 0x7FFFFFFFu},
                {"-1", 0xFFFFFFFFu},
                {"  +17 ", 17u},
                {"007", 7u},
                {"00000000000000000007", 7u},
                {"\xC2\xA0"
                 "42\xE2\x80\xAF",
                 42u},
                {"\xE3\x80\x80-5\t", 0xFFFFFFFBu}};
    for (const auto& c : good) {
        std::uint32_t word = 1234;
        EXPECT_TRUE(ParseKeyWord(c.text, word)) << c.text;
        EXPECT_EQ(word, c.word) << c.text;
    }
    for (const char* bad : {"", " ", "-", "+", "2147483648", "-2147483649", "99999999999999999999",
                            "12a", "12x", "1 2", "0x10", "$10", "1e3", "1.0", "--1", "Your key:",
                            "4\xC2\xA0"
                            "2"}) {
        std::uint32_t word = 1234;
        EXPECT_FALSE(ParseKeyWord(bad, word)) << bad;
        EXPECT_EQ(word, 1234u) << bad;
    }
}

}  // namespace
}  // namespace quorvane
