#include "package.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PackageHeader, EncodesEveryFieldLittleEndianAtItsOffset) {
  PackageHeader h = MakePackageHeader(3798, 38489, 12430, false);
  h.Reserved1 = 0x11223344;
  h.Reserved2 = -2;
  h.Reserved3 = 0x01020304;
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(h, bytes);
  EXPECT_EQ(0, std::memcmp(bytes, "$VELTRA$", 8));
  const uint8_t lang[4] = {0xD6, 0x0E, 0, 0};  // 3798
  EXPECT_EQ(0, std::memcmp(bytes + 8, lang, 4));
  const uint8_t r1[4] = {0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(0, std::memcmp(bytes + 12, r1, 4));
  const uint8_t lib[4] = {0x59, 0x96, 0, 0};  // 38489
  EXPECT_EQ(0, std::memcmp(bytes + 16, lib, 4));
  const uint8_t info[4] = {0x8E, 0x30, 0, 0};  // 12430
  EXPECT_EQ(0, std::memcmp(bytes + 20, info, 4));
  const uint8_t r2[4] = {0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(bytes + 24, r2, 4));
  EXPECT_EQ(0, bytes[28]);
  const uint8_t r3[4] = {0x04, 0x03, 0x02, 0x01};
  EXPECT_EQ(0, std::memcmp(bytes + 29, r3, 4));

  const PackageHeader back = DecodePackageHeader(bytes);
  EXPECT_TRUE(HasPackageMagic(back));
  EXPECT_EQ(3798, back.LangTextSize);
  EXPECT_EQ(38489, back.CabLibSize);
  EXPECT_EQ(12430, back.InfoCabSize);
  EXPECT_EQ(0x11223344, back.Reserved1);
  EXPECT_EQ(-2, back.Reserved2);
  EXPECT_EQ(0x01020304, back.Reserved3);
  EXPECT_EQ(0, back.PasswordProtected);
}

TEST(PackageHeader, NewHeadersHaveZeroReservedFieldsAndAPasswordByte) {
  uint8_t bytes[kPackageHeaderSize];
  EncodePackageHeader(MakePackageHeader(1, 2, 3, true), bytes);
  EXPECT_EQ(1, bytes[28]);
  for (int i : {12, 13, 14, 15, 24, 25, 26, 27, 29, 30, 31, 32}) EXPECT_EQ(0, bytes[i]) << i;
}

TEST(PackageHeader, MagicMustMatchExactly) {
  uint8_t bytes[kPackageHeaderSize] = {};
  EXPECT_FALSE(HasPackageMagic(DecodePackageHeader(bytes)));  // unread header
  std::memcpy(bytes, "$veltra$", 8);
  EXPECT_FALSE(HasPackageMagic(DecodePackageHeader(bytes)));
  std::memcpy(bytes, "$VELTRA\0", 8);
  EXPECT_FALSE(HasPackageMagic(DecodePackageHeader(bytes)));
  std::memcpy(bytes, "$VELTRA$", 8);
  EXPECT_TRUE(HasPackageMagic(DecodePackageHeader(bytes)));
}

TEST(PackageBlocks, FollowEachOtherWithoutPadding) {
  // The sample layout: header at 72704 and the three block lengths.
  const PackageBlocks b = ComputePackageBlocks(72704, MakePackageHeader(3798, 38489, 12430, false));
  EXPECT_EQ(72704 + 33, b.LangText);
  EXPECT_EQ(72704 + 33 + 3798, b.CabLib);
  EXPECT_EQ(72704 + 33 + 3798 + 38489, b.InfoCab);
  EXPECT_EQ(72704 + 33 + 3798 + 38489 + 12430, b.Payload);
  EXPECT_EQ(1308133 - 1180679, b.Payload);  // the payload is the rest of the file
}

TEST(PackageBlocks, OffsetsWrapIn32BitsLikeTheStub) {
  const PackageBlocks b = ComputePackageBlocks(0x7FFFFFF0, MakePackageHeader(0x20, 0, 0, false));
  EXPECT_EQ(int64_t(0x7FFFFFF0) + 33 - 0x100000000LL, b.LangText);
  EXPECT_LT(b.Payload, 0);
}

TEST(ScrambleKey, IsThePrefixThenThePassword) {
  EXPECT_EQ("RUVEKA", MakeScrambleKey(""));
  EXPECT_EQ("RUVEKAsecret", MakeScrambleKey("secret"));
}

TEST(PackageLayout, RefusesHeadersThatDoNotDescribeTheFile) {
  // A package at 1000: 33 header bytes, then the blocks, in a file of 5000 bytes.
  struct Case {
    const char* what;
    int32_t base, lang, lib, info;
    int64_t fileSize;
    PackageLayoutFault fault;
  };
  const Case cases[] = {
      {"sound, with a library", 1000, 300, 400, 200, 5000, PackageLayoutFault::None},
      {"sound, no library", 1000, 300, 0, 200, 5000, PackageLayoutFault::None},
      {"payload exactly a cabinet header", 1000, 300, 400, 200, 1933 + 36, PackageLayoutFault::None},
      {"PackageBase zero", 0, 300, 400, 200, 5000, PackageLayoutFault::NoHeader},
      {"PackageBase negative", -5, 300, 400, 200, 5000, PackageLayoutFault::NoHeader},
      {"header cut by the end", 4980, 1, 0, 36, 5000, PackageLayoutFault::NoHeader},
      {"language text negative", 1000, -1, 400, 200, 5000, PackageLayoutFault::NegativeSize},
      {"library negative", 1000, 300, -400, 200, 5000, PackageLayoutFault::NegativeSize},
      {"information cabinet negative", 1000, 300, 400, INT32_MIN, 5000, PackageLayoutFault::NegativeSize},
      {"language text zero", 1000, 0, 400, 200, 5000, PackageLayoutFault::NoLanguageText},
      {"information cabinet zero", 1000, 300, 400, 0, 5000, PackageLayoutFault::NoInfoCabinet},
      {"information cabinet under a header", 1000, 300, 400, 35, 5000, PackageLayoutFault::NoInfoCabinet},
      {"language text huge", 1000, INT32_MAX, 400, 200, 5000, PackageLayoutFault::PastEnd},
      {"sizes that wrap in 32 bits", 1000, INT32_MAX, INT32_MAX, INT32_MAX, 5000,
       PackageLayoutFault::PastEnd},
      {"information cabinet to the end", 1000, 300, 400, 3267, 5000, PackageLayoutFault::NoPayload},
      {"payload shorter than a cabinet header", 1000, 300, 400, 200, 1933 + 35,
       PackageLayoutFault::NoPayload},
      {"blocks beyond 2 GiB", 1000, INT32_MAX - 1000, 400, 200, int64_t(1) << 32,
       PackageLayoutFault::TooLarge},
  };
  for (const Case& c : cases) {
    const PackageHeader h = MakePackageHeader(c.lang, c.lib, c.info, false);
    EXPECT_EQ(c.fault, CheckPackageLayout(c.base, h, c.fileSize)) << c.what;
  }
}
