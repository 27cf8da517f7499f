#include "cipher/EncodedFile.h"
#include "tests/support/CodingWrappers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cipher/BlockPipeline.h"
#include "tests/cipher/VectorFile.h"
#include "tests/support/EarlierFormats.h"
#include "tests/support/TestFiles.h"

#include <future>
#include <thread>

#ifdef __linux__
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file as earlier versions wrote it: the trailer, checked to be there, taken off.
Bytes StripTrailer(const Bytes& file) {
    if (file.size() < kTrailerBytes ||
        !std::equal(kTrailerMagic.begin(), kTrailerMagic.end(),
                    file.end() - static_cast<std::ptrdiff_t>(kTrailerBytes))) {
        ADD_FAILURE() << "no trailer";
        return file;
    }
    return Bytes(file.begin(), file.end() - static_cast<std::ptrdiff_t>(kTrailerBytes));
}

using testing::CodeOf;

// Whether the file's check value refused the key or the data.
bool WrongKeyOrDamaged(const Result<Coded>& result) {
    return !result && (result.error().code() == CipherError::WrongKey ||
                       result.error().code() == CipherError::Damaged);
}

// Whether a coding succeeded with its trailer verified.
bool Verified(const Result<Coded>& result) {
    return result && result->tagVerified;
}

// The words of a failed coding of `input`; empty for a success.
template <typename T>
std::string Described(const Result<T>& result, const fs::path& input) {
    return result ? std::string() : DescribeFailure(result.error(), input);
}

Bytes RandomBytes(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    Bytes b(n);
    for (auto& v : b) {
        v = static_cast<std::uint8_t>(rng());
    }
    return b;
}

// The cipher data as the format describes it, block by block with the reference cipher.
Bytes ReferenceCipher(Bytes plain, const GostKey& key, const SubstitutionTable& table) {
    while (plain.size() % 8 != 0) {
        plain.push_back(0);
    }
    for (std::size_t i = 0; i < plain.size(); i += 8) {
        std::uint32_t w[2] = {0, 0};
        for (int b = 0; b < 8; ++b) {
            w[b / 4] |= std::uint32_t{plain[i + b]} << (8 * (b % 4));
        }
        for (int pass = 0; pass < 3; ++pass) {
            GostEncryptBlock(w, w, key, table);
        }
        for (int b = 0; b < 8; ++b) {
            plain[i + b] = static_cast<std::uint8_t>(w[b / 4] >> (8 * (b % 4)));
        }
    }
    return plain;
}

const GostKey kUserKey = {0x01234567u, 0x89ABCDEFu, 0xFFFFFFFFu, 0x00000001u,
                          0x80000000u, 0x7FFFFFFFu, 0xDEADBEEFu, 0x0BADF00Du};

class EncodedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("quorvane-cipher-test-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                std::to_string(counter++) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Names of the files in the test folder: a failed operation must leave no temporary file.
    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    fs::path dir_;
};

TEST_F(EncodedFileTest, HeaderAndCipherDataAreAsDocumented) {
    // 13 bytes for anna: "annacryptedfile" LF "2" LF "3" LF and 16 bytes of cipher data.
    const Bytes plain = ToBytes("Hello, world!");
    WriteBytes(dir_ / "in.txt", plain);
    ASSERT_EQ(EncodeFile(dir_ / "in.txt", dir_ / "in.txt.crp", "annacryptedfile", kUserKey,
                         FileSubstitutionTable),
              1);
    Bytes expected = ToBytes("annacryptedfile\n2\n3\n");
    const Bytes data = ReferenceCipher(plain, kUserKey, FileSubstitutionTable);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(StripTrailer(ReadBytes(dir_ / "in.txt.crp")), expected);

    struct Case {
        std::size_t length;
        const char* header;
    };
    for (const Case c : {Case{0, "m\n0\n0\n"}, Case{8, "m\n1\n0\n"}, Case{9, "m\n2\n7\n"},
                         Case{16, "m\n2\n0\n"}, Case{87, "m\n11\n1\n"}}) {
        const Bytes in = RandomBytes(c.length, c.length);
        WriteBytes(dir_ / "x", in);
        ASSERT_EQ(EncodeFile(dir_ / "x", dir_ / "x.crp", "m", StoreKey, StoreSubstitutionTable), 1);
        Bytes want = ToBytes(c.header);
        const Bytes cipher = ReferenceCipher(in, StoreKey, StoreSubstitutionTable);
        want.insert(want.end(), cipher.begin(), cipher.end());
        EXPECT_EQ(StripTrailer(ReadBytes(dir_ / "x.crp")), want) << c.length;
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"in.txt", "in.txt.crp", "x", "x.crp"}));
}

// Files computed by a second implementation of the format (tests/cipher/make_encoded_vectors.py):
// the program must keep writing and reading exactly these bytes. The script also reads every
// tagged file back with a reader that ignores the trailer, as earlier versions do.
TEST_F(EncodedFileTest, KnownAnswerFiles) {
    const auto records = test_vectors::ReadVectorFile("encoded_file.vec");
    ASSERT_EQ(records.size(), 5u);
    for (auto r : records) {
        const bool store = r["Table"] == "Store";
        const SubstitutionTable& table = store ? StoreSubstitutionTable : FileSubstitutionTable;
        GostKey key{};
        std::istringstream words(r["Key"]);
        for (auto& k : key) {
            std::string word;
            words >> word;
            k = static_cast<std::uint32_t>(test_vectors::Hex(word));
        }
        if (store) {
            EXPECT_EQ(key, StoreKey);
        }
        const std::string& marker = r["Marker"];
        if (r.count("Pattern") != 0) {
            // A file of two tag chunks: only its trailer is given.
            Bytes plain(std::stoul(r["Pattern"]));
            for (std::size_t i = 0; i < plain.size(); ++i) {
                plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
            }
            WriteBytes(dir_ / "plain", plain);
            ASSERT_EQ(EncodeFile(dir_ / "plain", dir_ / "long.enc", marker, key, table), 1);
            ASSERT_TRUE(EncodeFileWithTrailerVersion(dir_ / "plain", dir_ / "v1.enc", marker, key,
                                                     table, TrailerVersion::V1));
            for (const auto& [name, field] :
                 {std::pair{"long.enc", "Trailer"}, std::pair{"v1.enc", "TrailerV1"}}) {
                const Bytes file = ReadBytes(dir_ / name);
                EXPECT_EQ(
                    Bytes(file.end() - static_cast<std::ptrdiff_t>(kTrailerBytes), file.end()),
                    test_vectors::HexBytes(r[field]));
                EXPECT_TRUE(Verified(CheckEncodedFile(dir_ / name, marker, key, table)));
            }
            continue;
        }
        const Bytes plain = test_vectors::HexBytes(r["In"]);
        const Bytes old = test_vectors::HexBytes(r["Out"]);
        const Bytes file = test_vectors::HexBytes(r["Tagged"]);
        const Bytes fileV1 = test_vectors::HexBytes(r["TaggedV1"]);
        // Earlier readers see the same header and blocks: the trailer only follows them.
        ASSERT_GE(file.size(), old.size());
        EXPECT_TRUE(std::equal(old.begin(), old.end(), file.begin()));

        ASSERT_EQ(EncodeBuffer(plain, dir_ / "buffer.enc", marker, key, table), 1);
        EXPECT_EQ(ReadBytes(dir_ / "buffer.enc"), file) << marker << " " << r["In"];
        WriteBytes(dir_ / "plain", plain);
        ASSERT_EQ(EncodeFile(dir_ / "plain", dir_ / "file.enc", marker, key, table), 1);
        EXPECT_EQ(ReadBytes(dir_ / "file.enc"), file);
        ASSERT_TRUE(EncodeFileWithoutTrailer(dir_ / "plain", dir_ / "old.enc", marker, key, table));
        EXPECT_EQ(ReadBytes(dir_ / "old.enc"), old);
        ASSERT_TRUE(EncodeFileWithTrailerVersion(dir_ / "plain", dir_ / "v1.enc", marker, key,
                                                 table, TrailerVersion::V1));
        EXPECT_EQ(ReadBytes(dir_ / "v1.enc"), fileV1);

        // Every form decodes (the old one when allowed); only the tagged ones confirm the key.
        CodingOptions allowed;
        allowed.allowUnverified = true;
        for (const auto& [given, tagged] :
             {std::pair{file, true}, std::pair{fileV1, true}, std::pair{old, false}}) {
            WriteBytes(dir_ / "given.enc", given);
            const Result<Coded> result = DecodeFileChecked(dir_ / "given.enc", dir_ / "decoded",
                                                           marker, key, table, allowed);
            ASSERT_TRUE(result) << Described(result, dir_ / "given.enc");
            EXPECT_EQ(result->tagged, tagged);
            EXPECT_EQ(result->tagVerified, tagged);
            EXPECT_EQ(ReadBytes(dir_ / "decoded"), plain);
            std::vector<std::uint8_t> buffer;
            ASSERT_EQ(
                DecodeToBuffer(dir_ / "given.enc", marker, key, table, buffer, plain.size(), true),
                1);
            EXPECT_EQ(buffer, plain);
            const Result<Coded> checked = CheckEncodedFile(dir_ / "given.enc", marker, key, table);
            ASSERT_TRUE(checked);
            EXPECT_EQ(checked->tagVerified, tagged);
        }
    }
}

TEST_F(EncodedFileTest, RoundTripsEveryShortLengthAndLongFiles) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 17; ++n) {
        lengths.push_back(n);
    }
    // Several pipeline chunks, and a tail that is not a whole block.
    lengths.push_back((std::size_t{5} << 20) + 3);
    for (const std::size_t n : lengths) {
        const Bytes plain = RandomBytes(n, 100 + n);
        WriteBytes(dir_ / "plain", plain);
        ASSERT_EQ(EncodeFile(dir_ / "plain", dir_ / "enc", "bobcryptedfile", kUserKey,
                             FileSubstitutionTable),
                  1);
        ASSERT_EQ(DecodeFile(dir_ / "enc", dir_ / "dec", "bobcryptedfile", kUserKey,
                             FileSubstitutionTable),
                  1);
        EXPECT_EQ(ReadBytes(dir_ / "dec"), plain) << n;
        std::vector<std::uint8_t> buffer;
        ASSERT_EQ(DecodeToBuffer(dir_ / "enc", "bobcryptedfile", kUserKey, FileSubstitutionTable,
                                 buffer, n),
                  1);
        EXPECT_EQ(buffer, plain) << n;
        // The in-memory writer produces the same file.
        ASSERT_EQ(
            EncodeBuffer(plain, dir_ / "enc2", "bobcryptedfile", kUserKey, FileSubstitutionTable),
            1);
        EXPECT_EQ(ReadBytes(dir_ / "enc2"), ReadBytes(dir_ / "enc")) << n;
    }
    // The long file against the reference cipher, block by block.
    const Bytes plain = ReadBytes(dir_ / "plain");
    Bytes expected = ToBytes("bobcryptedfile\n655361\n5\n");
    const Bytes data = ReferenceCipher(plain, kUserKey, FileSubstitutionTable);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_TRUE(StripTrailer(ReadBytes(dir_ / "enc")) == expected);
    EXPECT_EQ(Files(), (std::set<std::string>{"plain", "enc", "enc2", "dec"}));
}

TEST_F(EncodedFileTest, EqualPlainBlocksGiveEqualCipherBlocks) {
    const Bytes plain = ToBytes("ABCDEFGHABCDEFGHxyz");
    WriteBytes(dir_ / "p", plain);
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "u", kUserKey, FileSubstitutionTable), 1);
    const Bytes file = ReadBytes(dir_ / "c");
    const std::size_t start = std::string("u\n3\n5\n").size();
    ASSERT_EQ(file.size(), start + 24 + kTrailerBytes);
    EXPECT_TRUE(
        std::equal(file.begin() + start, file.begin() + start + 8, file.begin() + start + 8));
    EXPECT_FALSE(
        std::equal(file.begin() + start, file.begin() + start + 8, file.begin() + start + 16));
}

TEST_F(EncodedFileTest, MarkerMustMatchExactlyAndWrongKeyIsToldOnlyByTheTrailer) {
    const Bytes plain = RandomBytes(40, 7);
    WriteBytes(dir_ / "p", plain);
    ASSERT_EQ(
        EncodeFile(dir_ / "p", dir_ / "c", "annacryptedfile", kUserKey, FileSubstitutionTable), 1);
    EXPECT_EQ(
        DecodeFile(dir_ / "c", dir_ / "o", "Annacryptedfile", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(DecodeFile(dir_ / "c", dir_ / "o", "anna", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(DecodeFile(dir_ / "c", dir_ / "o", "", kUserKey, FileSubstitutionTable), 0);
    EXPECT_FALSE(fs::exists(dir_ / "o"));

    // A wrong key or table is told by the key check at once: nothing written, nothing removed.
    GostKey wrong = kUserKey;
    wrong[3] ^= 1u;
    const Bytes encoded = ReadBytes(dir_ / "c");
    for (const auto& [key, table] :
         {std::pair{wrong, FileSubstitutionTable}, std::pair{kUserKey, StoreSubstitutionTable}}) {
        const Result<Coded> result =
            DecodeFileChecked(dir_ / "c", dir_ / "o", "annacryptedfile", key, table);
        EXPECT_EQ(CodeOf(result), MakeError(CipherError::WrongKey));
        EXPECT_EQ(result.error().path(), dir_ / "c");
        EXPECT_FALSE(fs::exists(dir_ / "o"));
        EXPECT_EQ(CodeOf(CheckEncodedFile(dir_ / "c", "annacryptedfile", key, table)),
                  MakeError(CipherError::WrongKey));
        std::vector<std::uint8_t> buffer;
        EXPECT_EQ(DecodeToBuffer(dir_ / "c", "annacryptedfile", key, table, buffer, 100), 0);
    }
    EXPECT_EQ(ReadBytes(dir_ / "c"), encoded);
    EXPECT_EQ(Described(DecodeFileChecked(dir_ / "c", dir_ / "o", "annacryptedfile", wrong,
                                          FileSubstitutionTable),
                        dir_ / "c"),
              "wrong key or damaged file");

    // A file of earlier versions has no trailer: a wrong key gives wrong data, unconfirmed.
    ASSERT_TRUE(EncodeFileWithoutTrailer(dir_ / "p", dir_ / "old", "annacryptedfile", kUserKey,
                                         FileSubstitutionTable));
    CodingOptions allowed;
    allowed.allowUnverified = true;
    const Result<Coded> unconfirmed = DecodeFileChecked(dir_ / "old", dir_ / "o", "annacryptedfile",
                                                        wrong, FileSubstitutionTable, allowed);
    ASSERT_TRUE(unconfirmed);
    EXPECT_FALSE(unconfirmed->tagged);
    EXPECT_FALSE(unconfirmed->tagVerified);
    const Bytes garbage = ReadBytes(dir_ / "o");
    EXPECT_EQ(garbage.size(), plain.size());
    EXPECT_NE(garbage, plain);
    const Result<Coded> unchecked =
        CheckEncodedFile(dir_ / "old", "annacryptedfile", kUserKey, FileSubstitutionTable);
    ASSERT_TRUE(unchecked);
    EXPECT_FALSE(unchecked->tagged);
}

TEST_F(EncodedFileTest, MarkersThatCannotBeReadBackAreRefused) {
    WriteBytes(dir_ / "p", ToBytes("data"));
    for (const std::string& bad :
         {std::string(), std::string("two words"), std::string("tab\there"), std::string("line\n"),
          std::string(1000, 'x'), std::string("nul\0x", 5)}) {
        EXPECT_EQ(EncodeFile(dir_ / "p", dir_ / "c", bad, kUserKey, FileSubstitutionTable), 0);
        EXPECT_EQ(EncodeBuffer(ToBytes("data"), dir_ / "c", bad, kUserKey, FileSubstitutionTable),
                  0);
    }
    EXPECT_EQ(Files(), std::set<std::string>{"p"});

    const std::string longest(999, 'y');
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", longest, kUserKey, FileSubstitutionTable), 1);
    std::string token;
    ASSERT_TRUE(ReadMarker(dir_ / "c", token));
    EXPECT_EQ(token, longest);
    ASSERT_EQ(DecodeFile(dir_ / "c", dir_ / "d", longest, kUserKey, FileSubstitutionTable), 1);
    EXPECT_EQ(ReadBytes(dir_ / "d"), ToBytes("data"));
}

TEST_F(EncodedFileTest, TruncationAtEveryPositionFailsAndKeepsTheOutput) {
    const Bytes plain = RandomBytes(21, 9);  // 3 blocks, 3 padding bytes
    WriteBytes(dir_ / "p", plain);
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "carl", kUserKey, FileSubstitutionTable), 1);
    const Bytes whole = ReadBytes(dir_ / "c");
    const std::size_t dataEnd = std::string("carl\n3\n3\n").size() + 24;
    ASSERT_EQ(whole.size(), dataEnd + kTrailerBytes);
    const Bytes kept = ToBytes("an existing file the user wants to keep");
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        if (cut == dataEnd) {
            continue;  // without any trailer byte it reads as a file of earlier versions (below)
        }
        WriteBytes(dir_ / "cut", Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        WriteBytes(dir_ / "out", kept);
        const Result<Coded> result =
            DecodeFileChecked(dir_ / "cut", dir_ / "out", "carl", kUserKey, FileSubstitutionTable);
        // Cut in the data: too short; cut in the trailer: a damaged trailer.
        if (cut < dataEnd) {
            const CipherError expected = cut < std::string("carl\n3\n3\n").size()
                                             ? CipherError::NotEncoded
                                             : CipherError::Truncated;
            EXPECT_TRUE(!result && result.error().code() == expected) << cut;
        } else {
            EXPECT_TRUE(WrongKeyOrDamaged(result)) << cut;
        }
        EXPECT_EQ(ReadBytes(dir_ / "out"), kept) << cut;
        std::vector<std::uint8_t> buffer{1, 2, 3};
        EXPECT_EQ(
            DecodeToBuffer(dir_ / "cut", "carl", kUserKey, FileSubstitutionTable, buffer, 1000), 0);
        EXPECT_TRUE(buffer.empty());
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "cut", "out"}));

    // The whole trailer cut off: a file as earlier versions wrote it, decoded unconfirmed when
    // allowed.
    WriteBytes(dir_ / "cut", Bytes(whole.begin(), whole.begin() + static_cast<long>(dataEnd)));
    CodingOptions allowed;
    allowed.allowUnverified = true;
    const Result<Coded> untagged = DecodeFileChecked(dir_ / "cut", dir_ / "out", "carl", kUserKey,
                                                     FileSubstitutionTable, allowed);
    ASSERT_TRUE(untagged);
    EXPECT_FALSE(untagged->tagVerified);
    EXPECT_EQ(ReadBytes(dir_ / "out"), plain);

    // Bytes after the last block of a file without trailer are ignored; bytes after a trailer
    // make it a damaged one.
    Bytes longer(whole.begin(), whole.begin() + static_cast<long>(dataEnd));
    longer.push_back('!');
    longer.push_back('\n');
    WriteBytes(dir_ / "longer", longer);
    ASSERT_EQ(DecodeFile(dir_ / "longer", dir_ / "out2", "carl", kUserKey, FileSubstitutionTable,
                         {}, true),
              1);
    EXPECT_EQ(ReadBytes(dir_ / "out2"), plain);
    Bytes extended = whole;
    extended.push_back('!');
    WriteBytes(dir_ / "longer", extended);
    EXPECT_TRUE(WrongKeyOrDamaged(DecodeFileChecked(dir_ / "longer", dir_ / "out3", "carl",
                                                    kUserKey, FileSubstitutionTable)));
    EXPECT_FALSE(fs::exists(dir_ / "out3"));
}

TEST_F(EncodedFileTest, DamagedHeadersFailWithNothingWritten) {
    const Bytes data(16, 0x5A);
    const std::vector<std::string> headers = {
        "",                                   // empty file
        "\n\n\n",                             // no token
        std::string(1000, 'a') + "\n2\n0\n",  // token too long
        "a\n-2\n0\n",                         // sign
        "a\n+2\n0\n",                         // sign
        "a\n2x\n0\n",                         // not a number
        "a\n\n0\n",                           // no digits
        "a\n 2\n0\n",                         // white space before the count
        "a\r\n2\r\n0\r\n",                    // other line ends
        "a\n2\n8\n",                          // padCount out of range
        "a\n2\n-1\n",                         // padCount negative
        "a\n2\n10\n",                         // padCount two digits
        "a\n2\nx\n",                          // padCount not a digit
        "a\n0\n3\n",                          // padding without blocks
        "a\n2\n0",                            // last separator missing
        "a\n99999999999999999999999\n0\n",    // overflow
        "a\n18446744073709551617\n0\n",       // overflow past 2^64
        "a 2 0 ",                             // blanks instead of line ends
    };
    for (const std::string& header : headers) {
        Bytes file = ToBytes(header);
        file.insert(file.end(), data.begin(), data.end());
        WriteBytes(dir_ / "bad", file);
        EXPECT_EQ(DecodeFile(dir_ / "bad", dir_ / "out", "a", kUserKey, FileSubstitutionTable), 0)
            << header;
        std::vector<std::uint8_t> buffer;
        EXPECT_EQ(DecodeToBuffer(dir_ / "bad", "a", kUserKey, FileSubstitutionTable, buffer, 1000),
                  0);
    }
    EXPECT_EQ(Files(), std::set<std::string>{"bad"});

    // The sound version of the same file decodes: the cases above fail for their header alone.
    Bytes good = ToBytes("a\n2\n0\n");
    good.insert(good.end(), data.begin(), data.end());
    WriteBytes(dir_ / "good", good);
    EXPECT_EQ(
        DecodeFile(dir_ / "good", dir_ / "out", "a", kUserKey, FileSubstitutionTable, {}, true), 1);
    EXPECT_EQ(ReadBytes(dir_ / "out").size(), 16u);
}

TEST_F(EncodedFileTest, UnreadableInputFailsAndCreatesNothing) {
    EXPECT_EQ(EncodeFile(dir_ / "missing", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(DecodeFile(dir_ / "missing", dir_ / "d", "a", kUserKey, FileSubstitutionTable), 0);
    fs::create_directory(dir_ / "folder");
    EXPECT_EQ(EncodeFile(dir_ / "folder", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(DecodeFile(dir_ / "folder", dir_ / "d", "a", kUserKey, FileSubstitutionTable), 0);
    std::vector<std::uint8_t> buffer;
    EXPECT_EQ(DecodeToBuffer(dir_ / "missing", "a", kUserKey, FileSubstitutionTable, buffer, 10),
              0);
    std::string token = "old";
    EXPECT_FALSE(ReadMarker(dir_ / "missing", token));
    EXPECT_TRUE(token.empty());
    EXPECT_EQ(Files(), std::set<std::string>{"folder"});
}

TEST_F(EncodedFileTest, UnwritableOutputFailsAndLeavesNoTrace) {
    WriteBytes(dir_ / "p", RandomBytes(100, 1));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    // Tests may run as root, for whom a read-only folder is no obstacle; these paths stop anyone.
    const std::vector<fs::path> outputs = {
        dir_ / "no-such-folder" / "out",  // missing folder
        dir_ / "p" / "out",               // parent is a regular file
        dir_,                             // a folder
    };
    for (const fs::path& out : outputs) {
        EXPECT_EQ(EncodeFile(dir_ / "p", out, "a", kUserKey, FileSubstitutionTable), 0) << out;
        EXPECT_EQ(EncodeBuffer(ToBytes("x"), out, "a", kUserKey, FileSubstitutionTable), 0) << out;
        EXPECT_EQ(DecodeFile(dir_ / "c", out, "a", kUserKey, FileSubstitutionTable), 0) << out;
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c"}));
}

#ifdef __linux__
// For users other than root a read-only folder stops the write too.
TEST_F(EncodedFileTest, ReadOnlyFolderFailsForOrdinaryUsers) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; covered by the other unwritable paths";
    }
    WriteBytes(dir_ / "p", ToBytes("data"));
    fs::create_directory(dir_ / "ro");
    WriteBytes(dir_ / "ro" / "out", ToBytes("kept"));
    fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(EncodeFile(dir_ / "p", dir_ / "ro" / "out", "a", kUserKey, FileSubstitutionTable), 0);
    fs::permissions(dir_ / "ro", fs::perms::owner_all);
    EXPECT_EQ(ReadBytes(dir_ / "ro" / "out"), ToBytes("kept"));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "ro")) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::set<std::string>{"out"});
}
#endif

#ifdef __linux__
// A disk that fills up in the middle of a file: the file size limit makes writes past 64 KiB
// fail as a full disk would. The existing output must survive and no temporary file remain.
TEST_F(EncodedFileTest, WriteFailureInTheMiddleKeepsTheExistingOutput) {
    const Bytes plain = RandomBytes(std::size_t{3} << 20, 3);
    WriteBytes(dir_ / "p", plain);
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    const Bytes kept = ToBytes("keep me");
    WriteBytes(dir_ / "out", kept);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int encoded = EncodeFile(dir_ / "p", dir_ / "out", "a", kUserKey, FileSubstitutionTable);
    const int decoded = DecodeFile(dir_ / "c", dir_ / "out", "a", kUserKey, FileSubstitutionTable);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(encoded, 0);
    EXPECT_EQ(decoded, 0);
    EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "out"}));
}
#endif

TEST_F(EncodedFileTest, ReplacesAnExistingOutputAndMayWorkInPlace) {
    const Bytes plain = RandomBytes(1234, 4);
    WriteBytes(dir_ / "p", plain);
    WriteBytes(dir_ / "c", ToBytes("old content, much longer than nothing at all"));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    WriteBytes(dir_ / "d", RandomBytes(5000, 5));
    ASSERT_EQ(DecodeFile(dir_ / "c", dir_ / "d", "a", kUserKey, FileSubstitutionTable), 1);
    EXPECT_EQ(ReadBytes(dir_ / "d"), plain);
    // Input and output the same file: refused, the file kept.
    EXPECT_EQ(EncodeFile(dir_ / "d", dir_ / "d", "a", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(DecodeFile(dir_ / "c", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 0);
    EXPECT_EQ(ReadBytes(dir_ / "d"), plain);
    // A name near the length limit still gets its temporary file.
    const std::string longName(250, 'n');
    ASSERT_EQ(DecodeFile(dir_ / "c", dir_ / longName, "a", kUserKey, FileSubstitutionTable), 1);
    EXPECT_EQ(ReadBytes(dir_ / longName), plain);
    fs::remove(dir_ / longName);
#ifdef _WIN32
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "d"}));
#else
    // Through a link: the file it points to is replaced, the link stays.
    fs::create_symlink(dir_ / "p", dir_ / "link");
    ASSERT_EQ(DecodeFile(dir_ / "c", dir_ / "link", "a", kUserKey, FileSubstitutionTable), 1);
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(ReadBytes(dir_ / "p"), plain);
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "d", "link"}));
#endif
}

TEST_F(EncodedFileTest, DecodeToBufferRefusesOversizedContent) {
    const Bytes plain = RandomBytes(13, 6);
    ASSERT_EQ(EncodeBuffer(plain, dir_ / "c", "sam", StoreKey, StoreSubstitutionTable), 1);
    std::vector<std::uint8_t> buffer;
    EXPECT_EQ(DecodeToBuffer(dir_ / "c", "sam", StoreKey, StoreSubstitutionTable, buffer, 12), 0);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(DecodeToBuffer(dir_ / "c", "sam", StoreKey, StoreSubstitutionTable, buffer, 13), 1);
    EXPECT_EQ(buffer, plain);
    // A header claiming far more than the file holds is refused before any allocation.
    Bytes huge = ToBytes("sam\n1152921504606846975\n0\n");
    WriteBytes(dir_ / "huge", huge);
    EXPECT_EQ(DecodeToBuffer(dir_ / "huge", "sam", StoreKey, StoreSubstitutionTable, buffer,
                             ~std::uint64_t{0}),
              0);
}

TEST_F(EncodedFileTest, ReadMarkerTakesTheFirstToken) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"annacryptedfile\n2\n3\n", "annacryptedfile"},
        {"  \t\nbob rest", "bob"},
        {"single", "single"},
        {std::string(999, 'q') + "\n", std::string(999, 'q')},
    };
    for (const auto& [content, token] : cases) {
        WriteBytes(dir_ / "f", ToBytes(content));
        std::string read;
        ASSERT_TRUE(ReadMarker(dir_ / "f", read)) << content;
        EXPECT_EQ(read, token);
    }
    for (const std::string& content :
         {std::string(), std::string(" \n\t "), std::string(1000, 'q')}) {
        WriteBytes(dir_ / "f", ToBytes(content));
        std::string read = "old";
        EXPECT_FALSE(ReadMarker(dir_ / "f", read)) << content.size();
        EXPECT_TRUE(read.empty());
    }
}

TEST_F(EncodedFileTest, ProgressReachesTheTotal) {
    const Bytes plain = RandomBytes((std::size_t{9} << 20) + 1, 8);
    WriteBytes(dir_ / "p", plain);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const ProgressFn record = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
    };
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable, record), 1);
    const std::uint64_t total = ((std::uint64_t{9} << 20) + 8);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back(), std::make_pair(total, total));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_GT(calls[i].first, calls[i - 1].first);
        EXPECT_EQ(calls[i].second, total);
    }
    calls.clear();
    ASSERT_EQ(DecodeFile(dir_ / "c", dir_ / "d", "a", kUserKey, FileSubstitutionTable, record), 1);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(total, total));

    // What a progress display throws reaches its caller as it was thrown, and nothing is left
    // over: no new output, an existing one untouched, no temporary file.
    const ProgressFn throwing = [](std::uint64_t, std::uint64_t) { throw std::domain_error("x"); };
    EXPECT_THROW(static_cast<void>(EncodeFile(dir_ / "p", dir_ / "e", "a", kUserKey,
                                              FileSubstitutionTable, throwing)),
                 std::domain_error);
    EXPECT_THROW(static_cast<void>(DecodeFile(dir_ / "c", dir_ / "d", "a", kUserKey,
                                              FileSubstitutionTable, throwing)),
                 std::domain_error);
    EXPECT_EQ(ReadBytes(dir_ / "d"), plain);
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "d"}));
}

// One flipped bit anywhere (header, every cipher byte, trailer), two swapped blocks or two
// swapped chunks: refused, nothing written, an existing output kept.
TEST_F(EncodedFileTest, EveryChangedOrMovedByteIsRefusedWithNothingWritten) {
    WriteBytes(dir_ / "p", RandomBytes(21, 10));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "carl", kUserKey, FileSubstitutionTable), 1);
    const Bytes whole = ReadBytes(dir_ / "c");
    const std::size_t data = std::string("carl\n3\n3\n").size();
    std::vector<Bytes> damaged;
    for (std::size_t pos = 0; pos < whole.size(); ++pos) {
        Bytes flipped = whole;
        flipped[pos] ^= static_cast<std::uint8_t>(1u << (pos % 8));
        damaged.push_back(flipped);
    }
    Bytes swapped = whole;
    std::swap_ranges(swapped.begin() + static_cast<long>(data),
                     swapped.begin() + static_cast<long>(data + 8),
                     swapped.begin() + static_cast<long>(data + 8));
    damaged.push_back(swapped);
    const Bytes kept = ToBytes("kept");
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        WriteBytes(dir_ / "bad", damaged[i]);
        WriteBytes(dir_ / "out", kept);
        EXPECT_FALSE(
            DecodeFileChecked(dir_ / "bad", dir_ / "out", "carl", kUserKey, FileSubstitutionTable))
            << "case " << i;
        EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
        EXPECT_FALSE(CheckEncodedFile(dir_ / "bad", "carl", kUserKey, FileSubstitutionTable));
        std::vector<std::uint8_t> buffer;
        EXPECT_EQ(DecodeToBuffer(dir_ / "bad", "carl", kUserKey, FileSubstitutionTable, buffer, 99),
                  0);
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "bad", "out"}));

    // Whole 1 MiB tag chunks swapped: each chunk's tag holds its place.
    const std::size_t chunk = kTagChunkBytes;
    WriteBytes(dir_ / "p", RandomBytes(2 * chunk + 8, 11));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "carl", kUserKey, FileSubstitutionTable), 1);
    Bytes chunks = ReadBytes(dir_ / "c");
    const std::size_t start = std::string("carl\n262145\n0\n").size();
    std::swap_ranges(chunks.begin() + static_cast<long>(start),
                     chunks.begin() + static_cast<long>(start + chunk),
                     chunks.begin() + static_cast<long>(start + chunk));
    WriteBytes(dir_ / "bad", chunks);
    EXPECT_TRUE(WrongKeyOrDamaged(
        DecodeFileChecked(dir_ / "bad", dir_ / "out", "carl", kUserKey, FileSubstitutionTable)));
    EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
}

// Both trailer versions verify; under either, a changed, swapped or removed chunk and a magic
// of the other version (the check values of one passed off as the other) are refused with
// nothing written. The cipher data is the same under both.
TEST_F(EncodedFileTest, BothTrailerVersionsVerifyAndRefuseDamage) {
    const std::size_t chunk = kTagChunkBytes;
    WriteBytes(dir_ / "p", RandomBytes(2 * chunk + 8, 21));
    const std::string header = "carl\n262145\n0\n";
    const std::size_t start = header.size();
    const Bytes kept = ToBytes("kept");
    std::vector<Bytes> cipherData;
    for (const TrailerVersion version : {TrailerVersion::V1, TrailerVersion::V2}) {
        SCOPED_TRACE(static_cast<int>(version));
        ASSERT_TRUE(EncodeFileWithTrailerVersion(dir_ / "p", dir_ / "c", "carl", kUserKey,
                                                 FileSubstitutionTable, version));
        const Bytes whole = ReadBytes(dir_ / "c");
        ASSERT_EQ(whole.size(), start + 2 * chunk + 8 + kTrailerBytes);
        const auto trailer = whole.end() - static_cast<std::ptrdiff_t>(kTrailerBytes);
        EXPECT_EQ(TrailerMagicVersion(Bytes(trailer, trailer + 8)), version);
        cipherData.emplace_back(whole.begin(), trailer);
        const Result<Coded> good =
            DecodeFileChecked(dir_ / "c", dir_ / "d", "carl", kUserKey, FileSubstitutionTable);
        EXPECT_TRUE(good && good->tagged && good->tagVerified);
        EXPECT_EQ(ReadBytes(dir_ / "d"), ReadBytes(dir_ / "p"));

        Bytes flipped = whole;
        flipped[start + chunk + 5] ^= 0x10;
        Bytes swapped = whole;
        std::swap_ranges(swapped.begin() + static_cast<long>(start),
                         swapped.begin() + static_cast<long>(start + chunk),
                         swapped.begin() + static_cast<long>(start + chunk));
        // The last chunk removed and the count in the header made to agree.
        Bytes cut = ToBytes("carl\n262144\n0\n");
        cut.insert(cut.end(), whole.begin() + static_cast<long>(start),
                   whole.begin() + static_cast<long>(start + 2 * chunk));
        cut.insert(cut.end(), trailer, whole.end());
        Bytes otherMagic = whole;
        const auto& other = version == TrailerVersion::V1 ? kTrailerMagic : kTrailerMagicV1;
        std::copy(other.begin(), other.end(), otherMagic.end() - kTrailerBytes);
        for (const Bytes& bad : {flipped, swapped, cut, otherMagic}) {
            WriteBytes(dir_ / "bad", bad);
            WriteBytes(dir_ / "out", kept);
            EXPECT_TRUE(WrongKeyOrDamaged(DecodeFileChecked(dir_ / "bad", dir_ / "out", "carl",
                                                            kUserKey, FileSubstitutionTable)));
            EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
        }
    }
    EXPECT_EQ(cipherData[0], cipherData[1]);
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "d", "bad", "out"}));
}

// A cancel request between chunks stops encoding and decoding with nothing of the file written
// and an existing output kept.
TEST_F(EncodedFileTest, CancelStopsBetweenChunksLeavingNothing) {
    WriteBytes(dir_ / "p", RandomBytes(3 * kTagChunkBytes, 22));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    const Bytes kept = ToBytes("kept");
    WriteBytes(dir_ / "out", kept);
    int asked = 0;
    CodingOptions options;
    options.cancelled = [&] { return ++asked > 1; };
    EXPECT_EQ(CodeOf(EncodeFileChecked(dir_ / "p", dir_ / "out", "a", kUserKey,
                                       FileSubstitutionTable, options)),
              MakeError(CipherError::Cancelled));
    EXPECT_EQ(asked, 2);
    asked = 0;
    EXPECT_EQ(CodeOf(DecodeFileChecked(dir_ / "c", dir_ / "out", "a", kUserKey,
                                       FileSubstitutionTable, options)),
              MakeError(CipherError::Cancelled));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "out"}));
}

// A failure a file operation can meet, thrown from below it (no memory; a failing system or
// library call), is its result with that very reason; nothing of the file is left.
TEST_F(EncodedFileTest, ThrownFailuresAreResultsWithTheirOwnReason) {
    WriteBytes(dir_ / "p", RandomBytes(3 * kTagChunkBytes, 23));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    const std::error_code ioError = std::make_error_code(std::errc::io_error);
    struct Case {
        std::function<void()> thrower;
        std::error_code reason;
    };
    const std::vector<Case> cases = {
        {[] { throw std::bad_alloc(); }, std::make_error_code(std::errc::not_enough_memory)},
        {[&] { throw std::system_error(ioError, "call"); }, ioError},
    };
    for (const Case& c : cases) {
        CodingOptions options;
        int asked = 0;
        options.cancelled = [&] {
            if (++asked == 2) {
                c.thrower();
            }
            return false;
        };
        const Status encoded = EncodeFileChecked(dir_ / "p", dir_ / "e", "a", kUserKey,
                                                 FileSubstitutionTable, options);
        EXPECT_EQ(CodeOf(encoded), c.reason);
        EXPECT_EQ(encoded.error().path(), dir_ / "e");
        asked = 0;
        const Result<Coded> decoded = DecodeFileChecked(dir_ / "c", dir_ / "d", "a", kUserKey,
                                                        FileSubstitutionTable, options);
        EXPECT_EQ(CodeOf(decoded), c.reason);
        EXPECT_EQ(decoded.error().path(), dir_ / "d");
        EXPECT_EQ(Files(), (std::set<std::string>{"p", "c"}));
    }
}

// An output that is the input under another name (a link, a hard link) is refused before
// anything is written, in both directions; both files stay as they were.
TEST_F(EncodedFileTest, OutputThatIsTheInputIsRefused) {
    WriteBytes(dir_ / "p", ToBytes("plain text"));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    const Bytes plain = ReadBytes(dir_ / "p");
    const Bytes encoded = ReadBytes(dir_ / "c");
    // Windows gives symbolic links to administrators only; hard links are aliases there too.
#ifdef _WIN32
    fs::create_hard_link(dir_ / "p", dir_ / "p-link");
    fs::create_hard_link(dir_ / "c", dir_ / "c-link");
#else
    fs::create_symlink(dir_ / "p", dir_ / "p-link");
    fs::create_symlink(dir_ / "c", dir_ / "c-link");
#endif
    fs::create_hard_link(dir_ / "c", dir_ / "c-hard");
    EXPECT_EQ(CodeOf(EncodeFileChecked(dir_ / "p", dir_ / "p-link", "a", kUserKey,
                                       FileSubstitutionTable)),
              MakeError(CipherError::SameFile));
    for (const char* alias : {"c-hard", "c-link"}) {
        EXPECT_EQ(CodeOf(DecodeFileChecked(dir_ / "c", dir_ / alias, "a", kUserKey,
                                           FileSubstitutionTable)),
                  MakeError(CipherError::SameFile));
    }
    EXPECT_EQ(ReadBytes(dir_ / "p"), plain);
    EXPECT_EQ(ReadBytes(dir_ / "c"), encoded);
    EXPECT_TRUE(fs::exists(dir_ / "p-link"));
}

// Failures name the system's reason; a folder, a missing file and a device are told apart.
TEST_F(EncodedFileTest, FailuresCarryTheSystemsReason) {
    WriteBytes(dir_ / "p", RandomBytes(100, 12));
    fs::create_directory(dir_ / "folder");
    CodingOptions noReplace;
    noReplace.mode = OutputMode::NoReplace;
    // Each failure names the file at fault, the input or the output, and is worded for it.
    struct Case {
        Status result;
        fs::path input;
        fs::path named;  // the file the failure names
        std::string text;
    };
    const auto decoded = [](const Result<Coded>& result) {
        return result ? Status() : Status(result.error());
    };
    std::vector<Case> cases = {
        {EncodeFileChecked(dir_ / "folder", dir_ / "c", "a", kUserKey, FileSubstitutionTable),
         dir_ / "folder", dir_ / "folder", "cannot read the input file: is a folder"},
        {EncodeFileChecked(dir_ / "missing", dir_ / "c", "a", kUserKey, FileSubstitutionTable),
         dir_ / "missing", dir_ / "missing",
         "cannot read the input file: no such file or directory"},
        {EncodeFileChecked(dir_ / "p", dir_ / "folder", "a", kUserKey, FileSubstitutionTable),
         dir_ / "p", dir_ / "folder", "cannot write the output file: is a folder"},
        {EncodeFileChecked(dir_ / "p", dir_ / "p2", "two words", kUserKey, FileSubstitutionTable),
         dir_ / "p", dir_ / "p2", "the owner's name cannot be written into the file header"},
        {EncodeFileChecked(dir_ / "p", dir_ / "folder" / ".." / "p", "a", kUserKey,
                           FileSubstitutionTable, noReplace),
         dir_ / "p", dir_ / "folder" / ".." / "p", "the output is the input file itself"},
        {decoded(DecodeFileChecked(dir_ / "p", dir_ / "d", "a", kUserKey, FileSubstitutionTable)),
         dir_ / "p", dir_ / "p", "not an encoded file of this owner, or its header is damaged"},
    };
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    cases.push_back(
        {EncodeFileChecked(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable, noReplace),
         dir_ / "p", dir_ / "c", "the output file exists already"});
    if (fs::is_character_file("/dev/full")) {
        cases.push_back({decoded(DecodeFileChecked(dir_ / "c", "/dev/full", "a", kUserKey,
                                                   FileSubstitutionTable)),
                         dir_ / "c", "/dev/full",
                         "cannot write the output file: is not a regular file"});
    }
    for (const Case& c : cases) {
        ASSERT_FALSE(c.result) << c.text;
        EXPECT_EQ(c.result.error().path(), c.named) << c.text;
        EXPECT_EQ(DescribeFailure(c.result.error(), c.input), c.text);
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "folder"}));
}

#ifdef __linux__
// A named pipe as input would make a plain open wait for a writer; it is refused at once.
TEST_F(EncodedFileTest, PipeAsInputIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    auto attempt = std::async(std::launch::async, [&] {
        return std::pair{
            EncodeFileChecked(dir_ / "fifo", dir_ / "c", "a", kUserKey, FileSubstitutionTable),
            DecodeFileChecked(dir_ / "fifo", dir_ / "d", "a", kUserKey, FileSubstitutionTable)};
    });
    if (attempt.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Release the blocked reader so the test can end.
        const int fd = ::open((dir_ / "fifo").c_str(), O_WRONLY);
        ::close(fd);
        FAIL() << "reading the pipe blocked";
    }
    const auto [encoded, decoded] = attempt.get();
    for (const Status& result : {encoded, decoded ? Status() : Status(decoded.error())}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(DescribeFailure(result.error(), dir_ / "fifo"),
                  "cannot read the input file: is not a regular file");
    }
    EXPECT_EQ(Files(), std::set<std::string>{"fifo"});
}
#endif

#ifdef __linux__
// A decoding, as an encoding, removes the temporary files of ended writers from the output's
// folder and tells each once.
TEST_F(EncodedFileTest, ADecodingTellsTheLeftoversItRemoved) {
    const pid_t ended = ::fork();
    ASSERT_GE(ended, 0);
    if (ended == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    WriteBytes(dir_ / "p", ToBytes("plain"));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    const fs::path leftover = dir_ / (".d." + std::to_string(ended) + ".0123456789abcdef.tmp");
    WriteBytes(leftover, ToBytes("half"));
    std::vector<fs::path> told;
    CodingOptions options;
    options.leftoverRemoved = [&told](const fs::path& removed) { told.push_back(removed); };
    ASSERT_TRUE(
        DecodeFileChecked(dir_ / "c", dir_ / "d", "a", kUserKey, FileSubstitutionTable, options));
    EXPECT_EQ(told, std::vector<fs::path>{leftover});
    EXPECT_FALSE(fs::exists(leftover));
}
#endif

// Two writers of one new name in no-replace mode: exactly one wins, the other is told.
TEST_F(EncodedFileTest, NoReplaceWritersOfOneNameExactlyOneWins) {
    const Bytes first = RandomBytes(std::size_t{3} << 20, 13);
    const Bytes second = RandomBytes(std::size_t{3} << 20, 14);
    WriteBytes(dir_ / "first", first);
    WriteBytes(dir_ / "second", second);
    CodingOptions noReplace;
    noReplace.mode = OutputMode::NoReplace;
    auto run = [&](const char* input) {
        return EncodeFileChecked(dir_ / input, dir_ / "out.crp", "a", kUserKey,
                                 FileSubstitutionTable, noReplace);
    };
    auto a = std::async(std::launch::async, run, "first");
    auto b = std::async(std::launch::async, run, "second");
    const Status ra = a.get();
    const Status rb = b.get();
    EXPECT_NE(static_cast<bool>(ra), static_cast<bool>(rb));
    EXPECT_EQ(CodeOf(ra ? rb : ra), std::errc::file_exists);
    ASSERT_EQ(DecodeFile(dir_ / "out.crp", dir_ / "back", "a", kUserKey, FileSubstitutionTable), 1);
    EXPECT_TRUE(ReadBytes(dir_ / "back") == (ra ? first : second));
    EXPECT_EQ(Files(), (std::set<std::string>{"first", "second", "out.crp", "back"}));
}

// A file without a check value cannot confirm the key: refused unless the caller allows it,
// with nothing written; the check reports it untagged as before.
TEST_F(EncodedFileTest, FilesWithoutACheckValueAreRefusedUnlessAllowed) {
    const Bytes plain = RandomBytes(40, 15);
    WriteBytes(dir_ / "p", plain);
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "dora", kUserKey, FileSubstitutionTable), 1);
    const Bytes stripped = StripTrailer(ReadBytes(dir_ / "c"));
    Bytes otherBytes = stripped;  // bytes after the data that are no trailer are ignored
    otherBytes.push_back('\n');
    const Bytes kept = ToBytes("kept");
    CodingOptions allowed;
    allowed.allowUnverified = true;
    for (const Bytes& file : {stripped, otherBytes}) {
        WriteBytes(dir_ / "old", file);
        WriteBytes(dir_ / "out", kept);
        const Result<Coded> refused =
            DecodeFileChecked(dir_ / "old", dir_ / "out", "dora", kUserKey, FileSubstitutionTable);
        EXPECT_EQ(CodeOf(refused), MakeError(CipherError::Unverified));
        EXPECT_EQ(Described(refused, dir_ / "old"),
                  "carries no check value (written by an earlier version, or the value was "
                  "removed): the key cannot be confirmed");
        EXPECT_EQ(ReadBytes(dir_ / "out"), kept);
        EXPECT_EQ(CodeOf(DecodeToBufferChecked(dir_ / "old", "dora", kUserKey,
                                               FileSubstitutionTable, 100)),
                  MakeError(CipherError::Unverified));
        const Result<Coded> checked =
            CheckEncodedFile(dir_ / "old", "dora", kUserKey, FileSubstitutionTable);
        ASSERT_TRUE(checked);
        EXPECT_FALSE(checked->tagged);

        const Result<Coded> decoded = DecodeFileChecked(dir_ / "old", dir_ / "out", "dora",
                                                        kUserKey, FileSubstitutionTable, allowed);
        ASSERT_TRUE(decoded) << Described(decoded, dir_ / "old");
        EXPECT_FALSE(decoded->tagVerified);
        EXPECT_EQ(ReadBytes(dir_ / "out"), plain);
        const auto buffer = DecodeToBufferChecked(dir_ / "old", "dora", kUserKey,
                                                  FileSubstitutionTable, 100, allowed);
        ASSERT_TRUE(buffer);
        EXPECT_EQ(buffer->plain, plain);
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c", "old", "out"}));
}

// The trailer is looked for where the header says the data end, not at the end of the file:
// an old file whose last cipher bytes read like the magic is no damaged tagged file.
TEST_F(EncodedFileTest, TrailerMagicInsideTheLastCipherBytesOfAnOldFile) {
    // The plain block that enciphers to the magic, then eight blocks more: the last 72 bytes of
    // the old file begin with the magic.
    std::uint32_t block[2] = {0, 0};
    for (int b = 0; b < 8; ++b) {
        block[b / 4] |= std::uint32_t{kTrailerMagic[static_cast<std::size_t>(b)]} << (8 * (b % 4));
    }
    for (int pass = 0; pass < kEncryptionPasses; ++pass) {
        GostDecryptBlock(block, block, kUserKey, FileSubstitutionTable);
    }
    Bytes plain;
    for (int b = 0; b < 8; ++b) {
        plain.push_back(static_cast<std::uint8_t>(block[b / 4] >> (8 * (b % 4))));
    }
    const Bytes rest = RandomBytes(64, 16);
    plain.insert(plain.end(), rest.begin(), rest.end());
    WriteBytes(dir_ / "p", plain);
    ASSERT_TRUE(
        EncodeFileWithoutTrailer(dir_ / "p", dir_ / "old", "eve", kUserKey, FileSubstitutionTable));
    const Bytes old = ReadBytes(dir_ / "old");
    ASSERT_TRUE(std::equal(kTrailerMagic.begin(), kTrailerMagic.end(),
                           old.end() - static_cast<std::ptrdiff_t>(kTrailerBytes)));
    CodingOptions allowed;
    allowed.allowUnverified = true;
    const Result<Coded> decoded = DecodeFileChecked(dir_ / "old", dir_ / "out", "eve", kUserKey,
                                                    FileSubstitutionTable, allowed);
    ASSERT_TRUE(decoded) << Described(decoded, dir_ / "old");
    EXPECT_FALSE(decoded->tagged);
    EXPECT_EQ(ReadBytes(dir_ / "out"), plain);
}

// A header whose marker matches but whose fields do not parse names the field at fault.
TEST_F(EncodedFileTest, RefusedHeadersNameTheirReason) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\n99999999999999999999999\n0\n", "the header's block count is too large"},
        {"a\n1152921504606846975\n0\n", "the header's block count is too large"},
        {"a\n2x\n0\n", "the header's block count is not a number"},
        {"a\n\n0\n", "the header's block count is not a number"},
        {"a\n2\n8\n", "the header's pad count is damaged"},
        {"a\n0\n3\n", "the header's pad count is damaged"},
        {"a 2 0 ", "the header's line ends are damaged"},
        {"a\n2\n0", "the header's line ends are damaged"},
        {"b\n99999999999999999999999\n0\n",
         "not an encoded file of this owner, or its header is damaged"},
    };
    for (const auto& [header, reason] : cases) {
        Bytes file = ToBytes(header);
        file.resize(file.size() + 16, 0x5A);
        WriteBytes(dir_ / "bad", file);
        const Result<Coded> result =
            DecodeFileChecked(dir_ / "bad", dir_ / "out", "a", kUserKey, FileSubstitutionTable);
        EXPECT_TRUE(!result && result.error().code() == CipherError::NotEncoded) << header;
        EXPECT_EQ(Described(result, dir_ / "bad"), reason) << header;
    }
    EXPECT_EQ(Files(), std::set<std::string>{"bad"});
}

// The input is measured when opened and again after the last read: a file written meanwhile
// (grown, changed in place, shrunk) fails as changed and nothing is written. The change is made
// between two chunks, from the cancel question the encoder asks there.
TEST_F(EncodedFileTest, AnInputThatChangesWhileItIsReadFails) {
    const Bytes plain = RandomBytes(std::size_t{3} << 20, 17);
    const auto append = [](const fs::path& path) {
        std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    };
    const auto overwrite = [](const fs::path& path) {
        std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << "XY";
    };
    const auto shrink = [](const fs::path& path) { fs::resize_file(path, 1000); };
    const Bytes kept = ToBytes("kept");
    for (const auto& change : {std::function<void(const fs::path&)>(append),
                               std::function<void(const fs::path&)>(overwrite),
                               std::function<void(const fs::path&)>(shrink)}) {
        WriteBytes(dir_ / "p", plain);
        // An old time, so that the change's time differs whatever the clock's resolution.
        fs::last_write_time(dir_ / "p", fs::last_write_time(dir_ / "p") - std::chrono::hours(1));
        WriteBytes(dir_ / "c", kept);
        int asked = 0;
        CodingOptions options;
        options.cancelled = [&] {
            if (++asked == 2) {
                change(dir_ / "p");
            }
            return false;
        };
        const Status result = EncodeFileChecked(dir_ / "p", dir_ / "c", "a", kUserKey,
                                                FileSubstitutionTable, options);
        EXPECT_EQ(CodeOf(result), MakeError(FileError::Changed));
        EXPECT_EQ(Described(result, dir_ / "p"), "changed while it was read");
        EXPECT_EQ(ReadBytes(dir_ / "c"), kept);
        EXPECT_EQ(Files(), (std::set<std::string>{"p", "c"}));
    }
}

#ifdef __linux__
// A pseudo-file reports size 0 but has content: it is measured by reading, never encoded short.
TEST_F(EncodedFileTest, AnInputWhoseSizeIsNotItsContentIsMeasuredByReading) {
    const fs::path pseudo = "/proc/self/limits";
    ASSERT_EQ(fs::file_size(pseudo), 0u);
    ASSERT_TRUE(EncodeFileChecked(pseudo, dir_ / "c", "a", kUserKey, FileSubstitutionTable));
    const auto decoded =
        DecodeToBufferChecked(dir_ / "c", "a", kUserKey, FileSubstitutionTable, 1 << 20);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->plain, ReadBytes(pseudo));
}
#endif

// Cancelling between chunks stops the file with nothing of it written, both ways.
TEST_F(EncodedFileTest, CancellingLeavesNothing) {
    WriteBytes(dir_ / "p", RandomBytes(std::size_t{3} << 20, 18));
    ASSERT_EQ(EncodeFile(dir_ / "p", dir_ / "c", "a", kUserKey, FileSubstitutionTable), 1);
    int asked = 0;
    CodingOptions options;
    options.cancelled = [&] { return ++asked == 2; };
    EXPECT_EQ(CodeOf(EncodeFileChecked(dir_ / "p", dir_ / "e", "a", kUserKey, FileSubstitutionTable,
                                       options)),
              MakeError(CipherError::Cancelled));
    asked = 0;
    EXPECT_EQ(CodeOf(DecodeFileChecked(dir_ / "c", dir_ / "d", "a", kUserKey, FileSubstitutionTable,
                                       options)),
              MakeError(CipherError::Cancelled));
    EXPECT_EQ(Files(), (std::set<std::string>{"p", "c"}));
}

// The pipeline keeps chunk order with several workers and stops on the first failure.
TEST(BlockPipeline, KeepsOrderAndStopsOnFailure) {
    for (const int workers : {1, 2, 3}) {
        const std::uint64_t total = 1000;
        std::uint64_t nextIn = 0;
        std::vector<std::uint8_t> out;
        BlockPipeline pipeline;
        pipeline.chunkBytes = 16;
        pipeline.workers = workers;
        pipeline.read = [&](std::span<std::uint8_t> chunk) {
            for (auto& b : chunk) {
                b = static_cast<std::uint8_t>(nextIn++);
            }
            return true;
        };
        pipeline.sideBytes = 8;
        pipeline.transform = [](std::uint64_t index, std::span<std::uint8_t> chunk,
                                std::span<std::uint8_t> side) {
            for (auto& b : chunk) {
                b = static_cast<std::uint8_t>(b ^ 0xA5);
            }
            std::fill(side.begin(), side.end(), static_cast<std::uint8_t>(index));
        };
        std::uint64_t nextOut = 0;
        pipeline.write = [&](std::span<const std::uint8_t> chunk,
                             std::span<const std::uint8_t> side) {
            // Each chunk arrives with the side bytes its own transform left.
            EXPECT_EQ(side[0], static_cast<std::uint8_t>(nextOut++));
            out.insert(out.end(), chunk.begin(), chunk.end());
            return true;
        };
        ASSERT_TRUE(pipeline.Run(total));
        ASSERT_EQ(out.size(), total);
        for (std::uint64_t i = 0; i < total; ++i) {
            ASSERT_EQ(out[i], static_cast<std::uint8_t>(i ^ 0xA5)) << i;
        }

        // A failed read (on the reader thread) stops the run like a failed write; what a read
        // or a transform throws on a thread comes back from Run on the caller's.
        int reads = 0;
        nextOut = 0;
        pipeline.read = [&](std::span<std::uint8_t>) { return ++reads < 5; };
        EXPECT_FALSE(pipeline.Run(total));
        reads = 0;
        nextOut = 0;
        pipeline.read = [&](std::span<std::uint8_t>) {
            if (++reads == 3) {
                throw std::domain_error("read");
            }
            return true;
        };
        EXPECT_THROW(static_cast<void>(pipeline.Run(total)), std::domain_error);
        nextOut = 0;
        pipeline.read = [](std::span<std::uint8_t>) { return true; };
        const auto transform = pipeline.transform;
        pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                                 std::span<std::uint8_t> side) {
            if (index == 7) {
                throw std::length_error("transform");
            }
            transform(index, chunk, side);
        };
        EXPECT_THROW(static_cast<void>(pipeline.Run(total)), std::length_error);
        pipeline.transform = transform;
        int writes = 0;
        pipeline.read = [](std::span<std::uint8_t>) { return true; };
        pipeline.write = [&](std::span<const std::uint8_t>, std::span<const std::uint8_t>) {
            return ++writes < 3;
        };
        EXPECT_FALSE(pipeline.Run(total));
        EXPECT_EQ(writes, 3);
    }
}

}  // namespace
}  // namespace quorvane
