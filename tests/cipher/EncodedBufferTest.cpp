#include "cipher/EncodedBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

const GostKey kKey = {0x01234567u, 0x89ABCDEFu, 0xFFFFFFFFu, 0x00000001u,
                      0x80000000u, 0x7FFFFFFFu, 0xDEADBEEFu, 0x0BADF00Du};
constexpr std::string_view kMarker = "anna";

// 21 plain bytes: a header of "anna\n3\n3\n" (9 bytes), 24 cipher bytes, the 72-byte trailer.
const Bytes kPlain = {'t', 'w', 'e', 'n', 't', 'y', '-', 'o', 'n', 'e', ' ',
                      'p', 'l', 'a', 'i', 'n', ' ', 'b', 'y', 't', 'e'};
constexpr std::size_t kHeaderBytes = 9;
constexpr std::size_t kFileBytes = kHeaderBytes + 24 + kTrailerBytes;

Bytes Encoded(const Bytes& plain) {
    const testing::ScratchFolder folder;
    const auto path = folder.Path() / "f.crp";
    EXPECT_TRUE(EncodeBufferChecked(plain, path, kMarker, kKey, FileSubstitutionTable,
                                    OutputMode::Replace, FilePrivacy::OwnerOnly));
    return testing::ReadBytes(path);
}

Result<DecodedBuffer<SecretBytes>> Decode(const Bytes& file, const GostKey& key = kKey,
                                          BufferDecodeOptions options = {1 << 20, false}) {
    return DecodeEncodedBuffer(file, kMarker, key, FileSubstitutionTable, options);
}

TEST(EncodedBuffer, DecodesWhatWasEncodedIntoWipedMemory) {
    for (const Bytes& plain : {Bytes{}, kPlain, Bytes((std::size_t{5} << 20) / 2 + 3, 0x5A)}) {
        const auto decoded = Decode(Encoded(plain), kKey, {plain.size(), false});
        ASSERT_TRUE(decoded) << decoded.error().Reason();
        EXPECT_TRUE(
            std::equal(decoded->plain.begin(), decoded->plain.end(), plain.begin(), plain.end()));
        EXPECT_TRUE(decoded->tagVerified);
    }
    // Ordinary memory when the caller asks for it.
    const auto plainVector = DecodeEncodedBuffer<Bytes>(Encoded(kPlain), kMarker, kKey,
                                                        FileSubstitutionTable, {kPlain.size()});
    ASSERT_TRUE(plainVector);
    EXPECT_EQ(plainVector->plain, kPlain);
}

// Each way a file is refused, with the reason a caller can act on.
TEST(EncodedBuffer, RefusalsTellWrongKeyFromDamage) {
    const Bytes good = Encoded(kPlain);
    ASSERT_EQ(good.size(), kFileBytes);
    const auto flip = [&](std::size_t at, std::uint8_t bits = 0x01) {
        Bytes file = good;
        file[at] ^= bits;
        return file;
    };
    GostKey otherKey = kKey;
    otherKey[7] ^= 1;
    const Bytes untagged(good.begin(), good.end() - kTrailerBytes);
    const Bytes shortTrailer(good.begin(), good.end() - 1);
    const Bytes cutData(good.begin(), good.begin() + kHeaderBytes + 16);
    Bytes otherOwner = good;
    otherOwner[0] = 'A';
    const std::size_t trailer = kHeaderBytes + 24;
    struct Case {
        const char* what;
        Bytes file;
        GostKey key;
        BufferDecodeOptions options;
        std::error_code expected;
    };
    const std::vector<Case> cases = {
        {"wrong key", good, otherKey, {64}, MakeError(CipherError::WrongKey)},
        {"key check changed",
         flip(trailer + kTrailerMagicBytes),
         kKey,
         {64},
         MakeError(CipherError::WrongKey)},
        {"cipher byte changed",
         flip(kHeaderBytes + 5),
         kKey,
         {64},
         MakeError(CipherError::Damaged)},
        {"file tag changed", flip(kFileBytes - 1), kKey, {64}, MakeError(CipherError::Damaged)},
        {"magic changed", flip(trailer), kKey, {64}, MakeError(CipherError::Damaged)},
        {"trailer cut", shortTrailer, kKey, {64}, MakeError(CipherError::Damaged)},
        {"cipher data cut", cutData, kKey, {64}, MakeError(CipherError::Truncated)},
        {"another owner", otherOwner, kKey, {64}, MakeError(CipherError::NotEncoded)},
        {"block count not a number",
         flip(5, 0x40),
         kKey,
         {64},
         MakeError(HeaderError::BadBlockCount)},
        {"no trailer", untagged, kKey, {64}, MakeError(CipherError::Unverified)},
        {"over the limit", good, kKey, {kPlain.size() - 1}, MakeError(CipherError::TooLarge)},
    };
    for (const Case& c : cases) {
        const auto decoded = Decode(c.file, c.key, c.options);
        ASSERT_FALSE(decoded) << c.what;
        EXPECT_EQ(decoded.error().code(), c.expected) << c.what;
    }
    // A damaged header of this owner is one way of not being its encoded file.
    EXPECT_EQ(Decode(flip(5, 0x40)).error().code(), CipherError::NotEncoded);
}

TEST(EncodedBuffer, UntaggedFilesDecodeOnlyWhenAllowedAndSayTheyAreUnverified) {
    const Bytes good = Encoded(kPlain);
    const Bytes untagged(good.begin(), good.end() - kTrailerBytes);
    const auto decoded = Decode(untagged, kKey, {kPlain.size(), true});
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->tagVerified);
    EXPECT_TRUE(
        std::equal(decoded->plain.begin(), decoded->plain.end(), kPlain.begin(), kPlain.end()));
}

// Plain data deciphered before the file tag refused them do not stay in the caller's memory.
TEST(EncodedBuffer, AFailedTagLeavesTheReceivingMemoryWiped) {
    Bytes file = Encoded(kPlain);
    file.back() ^= 0x01;
    Bytes target;
    const auto result =
        DecodeBufferInto(file, kMarker, kKey, FileSubstitutionTable, {64}, [&](std::size_t size) {
            target.assign(size, 0xEE);
            return std::span<std::uint8_t>(target);
        });
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code(), CipherError::Damaged);
    ASSERT_EQ(target.size(), kPlain.size());
    EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace quorvane
