// The pure parts of identification: the asset data fields, the module list
// and the checksum text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "checks/identify.h"

namespace {

using wizard::AssetFields;

// An asset file of `size` bytes with the two fields written as UTF-16 units;
// a "\0" in a text stands for a zero unit.
std::vector<std::uint8_t> Asset(const std::u16string& model, const std::u16string& version,
                                std::size_t size = 4096) {
  std::vector<std::uint8_t> data(size, 0xEE);  // not zero: stray bytes must not read as text
  auto put = [&](std::size_t offset, std::size_t units, const std::u16string& text) {
    for (std::size_t i = 0; i < units; ++i) {
      char16_t u = i < text.size() ? text[i] : 0;
      if (offset + 2 * i + 1 >= size) return;
      data[offset + 2 * i] = static_cast<std::uint8_t>(u & 0xFF);
      data[offset + 2 * i + 1] = static_cast<std::uint8_t>(u >> 8);
    }
  };
  put(wizard::kAssetModelOffset, wizard::kAssetModelUnits, model);
  put(wizard::kAssetVersionOffset, wizard::kAssetVersionUnits, version);
  return data;
}

AssetFields Parse(const std::vector<std::uint8_t>& data) {
  AssetFields fields;
  EXPECT_TRUE(wizard::ParseAssetData(data.data(), data.size(), fields));
  return fields;
}

TEST(AssetData, ReadsModelAndVersionFromTheirOffsets) {
  AssetFields fields = Parse(Asset(u"LUMO-5800", u"1.14.00 FRE"));
  EXPECT_STREQ(fields.ModelID, "LUMO-5800");
  EXPECT_STREQ(fields.VersionString, "1.14.00 FRE");
}

TEST(AssetData, AZeroUnitEndsTheModelAndShowsAsDotInTheVersion) {
  AssetFields fields = Parse(Asset(std::u16string(u"LUMO\0XYZW", 9), std::u16string(u"1.1\0.00 ENG", 11)));
  EXPECT_STREQ(fields.ModelID, "LUMO");
  EXPECT_STREQ(fields.VersionString, "1.1..00 ENG");
  // Only the low byte of a unit counts.
  fields = Parse(Asset(u"\u4C41B", u"1.14.00 ENG"));
  EXPECT_STREQ(fields.ModelID, "AB");
}

TEST(AssetData, RepairsTheKnownFaultyVersionsInAnyCase) {
  EXPECT_STREQ(Parse(Asset(u"M", std::u16string(u"1\0\0002.00 ENG", 11))).VersionString, "1.12.00 ENG");
  EXPECT_STREQ(Parse(Asset(u"M", u"1..2.00 jpn")).VersionString, "1.12.00 jpn");
  EXPECT_STREQ(Parse(Asset(u"M", u"1..2.00 FRE")).VersionString, "1..2.00 FRE");
}

TEST(AssetData, AFileTooShortForBothFieldsIsUnreadable) {
  AssetFields fields;
  std::vector<std::uint8_t> data = Asset(u"LUMO-5800", u"1.14.00 ENG", wizard::kAssetMinimumSize - 1);
  EXPECT_FALSE(wizard::ParseAssetData(data.data(), data.size(), fields));
  EXPECT_STREQ(fields.ModelID, "");
  data = Asset(u"LUMO-5800", u"1.14.00 ENG", wizard::kAssetMinimumSize);
  EXPECT_TRUE(wizard::ParseAssetData(data.data(), data.size(), fields));
  EXPECT_STREQ(fields.VersionString, "1.14.00 ENG");
  EXPECT_EQ(wizard::kAssetMinimumSize, 2578u);
}

std::vector<std::string> Modules(const std::string& text) {
  // An exact-size heap copy, so that a read past the end is caught by the sanitizers.
  std::vector<char> bytes(text.begin(), text.end());
  return wizard::ParseModuleList(bytes.data(), bytes.size());
}

using Names = std::vector<std::string>;

TEST(ModuleList, FirstLineAlwaysCountsAndTheEndMarkOnlyAfterIt) {
  EXPECT_EQ(Modules("$Odd.dll\r\nA.dll\r\nB.dll\r\n$\r\nC.dll\r\n"), (Names{"$Odd.dll", "A.dll", "B.dll"}));
  EXPECT_EQ(Modules("A.dll\r\n$end\r\n"), (Names{"A.dll"}));
}

TEST(ModuleList, OnlyLinesEndedByCrLfInsideTheFileCount) {
  EXPECT_EQ(Modules("A.dll\r\nB.dll"), (Names{"A.dll"}));
  EXPECT_EQ(Modules("A.dll\r\nB.dll\r"), (Names{"A.dll"}));
  EXPECT_EQ(Modules("A.dll"), Names{});
  EXPECT_EQ(Modules(""), Names{});
  EXPECT_EQ(Modules("A\nB\r\n"), (Names{"A\nB"}));  // a bare LF is part of the name
}

TEST(ModuleList, OverLongEmptyAndNulLinesAreSkippedNotCut) {
  std::string longest(wizard::kMaxModuleNameLength, 'x');
  std::string tooLong(wizard::kMaxModuleNameLength + 1, 'y');
  EXPECT_EQ(Modules(tooLong + "\r\n\r\n" + longest + "\r\n" + std::string("N\0L", 3) + "\r\nZ.dll\r\n$\r\n"),
            (Names{longest, "Z.dll"}));
  // "\Windows\" and the longest name still fit a handheld path.
  EXPECT_LT(std::strlen(wizard::kDeviceModuleFolder) + wizard::kMaxModuleNameLength, 260u);
}

TEST(ChecksumText, ReadsOneToFourHexDigitsInEitherCase) {
  std::uint16_t value = 0;
  ASSERT_TRUE(wizard::ParseHexWord("0a1F", value));
  EXPECT_EQ(value, 0x0A1F);
  ASSERT_TRUE(wizard::ParseHexWord("ffff", value));
  EXPECT_EQ(value, 0xFFFF);
  ASSERT_TRUE(wizard::ParseHexWord("7", value));
  EXPECT_EQ(value, 7);
}

TEST(ChecksumText, RefusesWhatIsNotAChecksum) {
  std::uint16_t value = 0x1234;
  EXPECT_FALSE(wizard::ParseHexWord("", value));
  EXPECT_FALSE(wizard::ParseHexWord("12345", value));
  EXPECT_FALSE(wizard::ParseHexWord("1g", value));
  EXPECT_FALSE(wizard::ParseHexWord("-12", value));
  EXPECT_EQ(value, 0x1234);
}

}  // namespace
