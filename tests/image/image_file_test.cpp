// The ROM image file: header parsing and its checksum text, the version
// number, the language table, short and missing files, and the header writer
// read back by the parser.
#include "image/image_file.h"
#include "image/image_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/pc_files.h"
#include "rapi_double.h"
#include "test_environment.h"
#include "wizard/screen_table.h"
#include "wizard/wizard_state.h"

namespace {

using wizard::ImageHeader;

constexpr int kCannotOpenImageScreen = 141;

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::ResetWizardState();
    wizard::ResetImageHeader();
    rapidouble::Reset();
  }
  void TearDown() override { wizard::ResetWizardState(); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = folder_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  int Read(const std::string& header, const std::string& payload = std::string(64, '\x5a')) {
    return wizard::ReadImageHeader(WriteFile("image.nbf", header + payload).c_str());
  }

  f3test::TempFolder folder_;
  f3test::RecordingFrontEnd frontEnd_;
};

TEST_F(ImageFileTest, ParsesTheFixedFields) {
  ASSERT_EQ(Read("LUMO58001-eNg-1.41-3f2a---------"), 1);
  EXPECT_STREQ(ImageHeader.ImageModelID, "LUMO58001");
  EXPECT_STREQ(ImageHeader.ImageLang, "eNg");
  EXPECT_STREQ(ImageHeader.ImageVersion, "1.41");
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "3f2a");
  EXPECT_STREQ(ImageHeader.ImageLanguage, "English");
  EXPECT_TRUE(frontEnd_.shown.empty());
  EXPECT_EQ(frontEnd_.closed, 0);
}

TEST_F(ImageFileTest, ChecksumTextRules) {
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-7------------"), 1);
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "7");
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-ABCD---------"), 1);
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "ABCD");
  // A fifth character that is not "-" is not taken.
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-12345--------"), 1);
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "1234");
  // A shorter text after a longer one leaves none of the older digits.
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-9a-----------"), 1);
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "9a");
  // The first character is always taken, even a "-": such a text never
  // passes the checksum test.
  ASSERT_EQ(Read("LUMO58001-ENG-1.41--------------"), 1);
  EXPECT_STREQ(ImageHeader.ImageChecksumText, "-");
  EXPECT_FALSE(wizard::ChecksumMatches(ImageHeader.ImageChecksumText, 0));
}

TEST_F(ImageFileTest, ChecksumTextValidation) {
  std::uint16_t value = 0;
  EXPECT_TRUE(wizard::ParseChecksumText("0a1F", value));
  EXPECT_EQ(value, 0x0A1F);
  EXPECT_TRUE(wizard::ParseChecksumText("7", value));
  EXPECT_EQ(value, 7);
  EXPECT_FALSE(wizard::ParseChecksumText("", value));
  EXPECT_FALSE(wizard::ParseChecksumText("12g4", value));
  EXPECT_FALSE(wizard::ParseChecksumText("1 2", value));
  EXPECT_FALSE(wizard::ParseChecksumText("12345", value));
  EXPECT_TRUE(wizard::ChecksumMatches("FFFF", 0xFFFF));
  EXPECT_FALSE(wizard::ChecksumMatches("fffe", 0xFFFF));
  EXPECT_FALSE(wizard::ChecksumMatches("zz", 0));
  // A zero sum still has one digit, which the reader always takes.
  EXPECT_EQ(wizard::ChecksumText(0), "0");
  const std::uint8_t bytes[] = {0xFF, 0xFF, 0x02};
  EXPECT_EQ(wizard::AddToChecksum(0xFFFF, bytes, 3), 0x01FF);  // modulo 65536
}

TEST_F(ImageFileTest, VersionNumbers) {
  ASSERT_EQ(Read("LUMO58001-ENG-1.40-1------------"), 1);
  EXPECT_EQ(ImageHeader.ImageVersionNumber, 1.4f);
  EXPECT_LE(ImageHeader.ImageVersionNumber, 1.4f);
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-1------------"), 1);
  EXPECT_GE(ImageHeader.ImageVersionNumber, 1.41f);
  EXPECT_GT(ImageHeader.ImageVersionNumber, 1.4f);
  ASSERT_EQ(Read("LUMO58001-ENG-2.00-1------------"), 1);
  EXPECT_GE(ImageHeader.ImageVersionNumber, 1.6f);

  EXPECT_EQ(wizard::VersionNumber(" 1.5"), 1.5f);   // leading blanks skipped
  EXPECT_EQ(wizard::VersionNumber("1.4a"), 1.4f);   // stops at a letter
  EXPECT_EQ(wizard::VersionNumber("V1.4"), 0.0f);   // nothing to read
  EXPECT_EQ(wizard::VersionNumber("+2."), 2.0f);
  EXPECT_EQ(wizard::VersionNumber("-1"), -1.0f);
  EXPECT_EQ(wizard::VersionNumber("--14"), 0.0f);   // two signs: no number, as strtod reads it
  EXPECT_EQ(wizard::VersionNumber("+-1"), 0.0f);
  EXPECT_EQ(wizard::VersionNumber("9e99"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(wizard::VersionNumber("1e-9"), 1e-9f);
}

TEST_F(ImageFileTest, LanguageTable) {
  EXPECT_STREQ(wizard::LanguageForCode("eng"), "English");
  EXPECT_STREQ(wizard::LanguageForCode("CHT"), "TChinese");
  EXPECT_STREQ(wizard::LanguageForCode("chs"), "SChinese");
  EXPECT_STREQ(wizard::LanguageForCode("Jpn"), "Japanese");
  EXPECT_EQ(wizard::LanguageForCode("EN"), nullptr);
  EXPECT_EQ(wizard::LanguageForCode("ENGL"), nullptr);

  ASSERT_EQ(Read("LUMO58001-GER-1.41-1------------"), 1);
  EXPECT_STREQ(ImageHeader.ImageLanguage, "German");
  // A code that is not in the table keeps the previous name.
  ASSERT_EQ(Read("LUMO58001-XYZ-1.41-1------------"), 1);
  EXPECT_STREQ(ImageHeader.ImageLang, "XYZ");
  EXPECT_STREQ(ImageHeader.ImageLanguage, "German");
}

TEST_F(ImageFileTest, ShortFilesAreRefusedAndLeaveNothingBehind) {
  ASSERT_EQ(Read("LUMO58001-ENG-1.41-3f2a---------"), 1);
  for (std::size_t size : {std::size_t{0}, std::size_t{19}, std::size_t{31}}) {
    SCOPED_TRACE(size);
    frontEnd_.shown.clear();
    wizard::Wizard.WizardEnded = false;
    std::string path = WriteFile("short.nbf", std::string("LUMO58001-ENG-1.41-7------------").substr(0, size));
    EXPECT_EQ(wizard::ReadImageHeader(path.c_str()), 0);
    EXPECT_EQ(frontEnd_.shown, std::vector<int>{kCannotOpenImageScreen});
    EXPECT_TRUE(wizard::Wizard.WizardEnded);
    EXPECT_STREQ(ImageHeader.ImageModelID, "");
    EXPECT_STREQ(ImageHeader.ImageVersion, "");
    EXPECT_STREQ(ImageHeader.ImageChecksumText, "");
    EXPECT_EQ(ImageHeader.ImageVersionNumber, 0.0f);
  }
  // Exactly a header and no payload is still a readable header.
  wizard::Wizard.WizardEnded = false;
  EXPECT_EQ(Read("LUMO58001-ENG-1.41-0------------", ""), 1);
}

TEST_F(ImageFileTest, MissingFileShowsError104AndCollapsesTheProgressScreen) {
  screens::ScreenSession progress(*screens::FindScreen(102));
  f3test::RecordingView view;
  progress.AttachView(&view);
  wizard::ProgressScreen = &progress;
  EXPECT_EQ(wizard::ReadImageHeader((folder_ / "absent.nbf").c_str()), 0);
  EXPECT_TRUE(view.collapsed);
  EXPECT_EQ(frontEnd_.shown, std::vector<int>{kCannotOpenImageScreen});
  EXPECT_EQ(frontEnd_.closed, 1);
  wizard::ProgressScreen = nullptr;
}

TEST_F(ImageFileTest, FileSize) {
  std::string path = WriteFile("sized.nbf", std::string(32 + 1000, 'x'));
  EXPECT_EQ(wizard::GetImageFileSize(path.c_str()), 1032u);
  EXPECT_EQ(rapidouble::Handheld().uninitCalls, 0);
  EXPECT_TRUE(frontEnd_.shown.empty());

  EXPECT_EQ(wizard::GetImageFileSize((folder_ / "absent.nbf").c_str()), 0u);
  EXPECT_EQ(rapidouble::Handheld().uninitCalls, 1);
  EXPECT_EQ(frontEnd_.shown, std::vector<int>{kCannotOpenImageScreen});
  EXPECT_EQ(frontEnd_.closed, 1);
}

// A backup's header, written after its payload, reads back to the same
// fields and a checksum that matches the whole file as the verifier sums it.
TEST_F(ImageFileTest, WrittenHeaderReadsBackAndMatchesItsChecksum) {
  std::string path = folder_ / "backup.nbf";
  std::string payload;
  for (int i = 0; i < 4096; ++i) payload += static_cast<char>((i * 7) & 0xFF);
  pc::File* file = pc::OpenFile(path.c_str(), pc::OpenMode::CreateAlways);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(pc::SeekFile(file, wizard::kImageHeaderSize));
  ASSERT_TRUE(pc::WriteFile(file, payload.data(), payload.size()));
  std::uint16_t payloadSum = wizard::AddToChecksum(0, payload.data(), payload.size());
  std::string header = wizard::WriteImageHeader(file, "LUMO53002", "FRE", "1.60", payloadSum);
  pc::CloseFile(file);
  EXPECT_EQ(header.size(), wizard::kImageHeaderSize);

  ASSERT_EQ(wizard::ReadImageHeader(path.c_str()), 1);
  EXPECT_STREQ(ImageHeader.ImageModelID, "LUMO53002");
  EXPECT_STREQ(ImageHeader.ImageLang, "FRE");
  EXPECT_STREQ(ImageHeader.ImageVersion, "1.60");
  EXPECT_STREQ(ImageHeader.ImageLanguage, "French");

  std::ifstream in(path, std::ios::binary);
  std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(whole.size(), 32 + payload.size());
  EXPECT_EQ(whole.substr(0, 32), header);
  EXPECT_EQ(whole.substr(32), payload);  // the header did not touch the payload
  std::uint16_t sum = wizard::AddToChecksum(0, whole.data(), wizard::kSummedHeaderBytes);
  sum = wizard::AddToChecksum(sum, whole.data() + 32, whole.size() - 32);
  EXPECT_TRUE(wizard::ChecksumMatches(ImageHeader.ImageChecksumText, sum));
  std::string digits = ImageHeader.ImageChecksumText;
  EXPECT_EQ(header, "LUMO53002-FRE-1.60-" + digits + std::string(13 - digits.size(), '-'));
}

TEST_F(ImageFileTest, HeaderFieldsOfUnusualLengthStayInTheirPlaces) {
  std::string shortFields = wizard::FormatImageHeader("LUMO", "EN", "1.4", 0);
  ASSERT_EQ(shortFields.size(), 32u);
  EXPECT_EQ(shortFields.substr(0, 19), std::string("LUMO\0\0\0\0\0-EN\0-1.4\0-", 19));
  // The reader takes the padded fields back as the short texts.
  std::uint8_t bytes[wizard::kImageHeaderSize];
  std::memcpy(bytes, shortFields.data(), sizeof bytes);
  wizard::ImageHeaderRecord read;
  wizard::ParseImageHeader(bytes, read);
  EXPECT_STREQ(read.ImageModelID, "LUMO");
  EXPECT_STREQ(read.ImageLang, "EN");
  EXPECT_STREQ(read.ImageVersion, "1.4");
  std::string longFields = wizard::FormatImageHeader("LUMO58001XYZ", "ENGL", "1.411", 0);
  ASSERT_EQ(longFields.size(), 32u);
  EXPECT_EQ(longFields.substr(0, 19), "LUMO58001-ENG-1.41-");
  // Whatever the fields, the checksum text covers what the reader sums.
  std::uint16_t sum = wizard::AddToChecksum(0, shortFields.data(), wizard::kSummedHeaderBytes);
  std::string text = shortFields.substr(19, shortFields.find('-', 19) - 19);
  EXPECT_TRUE(wizard::ChecksumMatches(text.c_str(), sum));
}

}  // namespace

namespace {

// A running sum of 0x00A7 over header bytes 0..17 and the payload is written
// as "a7" and eleven "-".
TEST(ImageHeaderText, SumA7IsTwoDigitsAndElevenDashes) {
  std::string bare = wizard::FormatImageHeader("LUMO-5800", "ENG", "1.41", 0);
  std::uint16_t headerSum = wizard::AddToChecksum(0, bare.data(), wizard::kSummedHeaderBytes);
  std::uint16_t payloadSum = static_cast<std::uint16_t>(0x00A7 - headerSum);
  std::string header = wizard::FormatImageHeader("LUMO-5800", "ENG", "1.41", payloadSum);
  EXPECT_EQ(header, "LUMO-5800-ENG-1.41-a7-----------");
}

class ImageCheckTest : public ::testing::Test {
 protected:
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // A sound image of `blocks` 256 KB blocks.
  std::string WriteImage(std::uint32_t blocks, const char* model = "LUMO-5800") {
    std::string payload(blocks * wizard::kImageBlockBytes, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 31 + (i >> 12));
    std::string header = wizard::FormatImageHeader(
        model, "ENG", "1.41", wizard::AddToChecksum(0, payload.data(), payload.size()));
    std::string path = folder_ / "image.nbf";
    std::ofstream(path, std::ios::binary) << header << payload;
    return path;
  }
  f3test::TempFolder folder_;
};

TEST_F(ImageCheckTest, ASoundImageAndEachWayItCanBeWrong) {
  std::string path = WriteImage(2);
  wizard::ImageCheck check = wizard::CheckImageFile(path.c_str());
  EXPECT_TRUE(check.Sound());
  EXPECT_EQ(check.payloadBytes, 2u * wizard::kImageBlockBytes);
  EXPECT_EQ(check.stored, check.computed);
  EXPECT_STREQ(check.header.ImageModelID, "LUMO-5800");

  // One payload byte changed after the header was written.
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(32 + 70000);
  file.put('\x7f');
  file.close();
  check = wizard::CheckImageFile(path.c_str());
  EXPECT_FALSE(check.Sound());
  ASSERT_EQ(check.problems.size(), 1u);
  EXPECT_NE(check.problems[0].find("does not match"), std::string::npos);

  // A payload that is too small is refused; one that is not whole blocks
  // only noted, as the wizard sends it padded.
  EXPECT_FALSE(wizard::CheckImageFile(WriteImage(1).c_str()).Sound());
  std::string path2 = WriteImage(2);
  std::string bytes = ReadAll(path2);
  bytes += 'x';
  bytes.replace(wizard::kChecksumOffset, 13, wizard::FormatImageHeader("LUMO-5800", "ENG", "1.41",
      wizard::AddToChecksum(0, bytes.data() + 32, bytes.size() - 32)).substr(wizard::kChecksumOffset));
  std::ofstream(path2, std::ios::binary | std::ios::trunc) << bytes;
  check = wizard::CheckImageFile(path2.c_str());
  EXPECT_TRUE(check.Sound());
  ASSERT_EQ(check.notes.size(), 1u);
  EXPECT_NE(check.notes[0].find("not a whole number"), std::string::npos);

  // A header never written (zeros) is refused, and its fields noted.
  std::string zeros = folder_ / "zeros.nbf";
  std::ofstream(zeros, std::ios::binary) << std::string(32 + 2 * wizard::kImageBlockBytes, '\0');
  check = wizard::CheckImageFile(zeros.c_str());
  EXPECT_FALSE(check.Sound());
  EXPECT_FALSE(wizard::ImageFileChecksumHolds(zeros.c_str()));
  EXPECT_GE(check.notes.size(), 3u);

  // The header a failed backup leaves is refused by every check.
  std::string voided = WriteImage(2);
  std::string data = ReadAll(voided);
  data.replace(0, 32, wizard::FormatVoidImageHeader("LUMO-5800", "ENG", "1.41"));
  std::ofstream(voided, std::ios::binary | std::ios::trunc) << data;
  EXPECT_FALSE(wizard::CheckImageFile(voided.c_str()).Sound());
  EXPECT_FALSE(wizard::ImageFileChecksumHolds(voided.c_str()));
  EXPECT_EQ(wizard::ReadImageHeader(voided.c_str()), 1);
  std::uint16_t value = 0;
  EXPECT_FALSE(wizard::ParseChecksumText(wizard::ImageHeader.ImageChecksumText, value));

  // A short model, NUL-padded by the writer, is sound.
  EXPECT_TRUE(wizard::CheckImageFile(WriteImage(2, "LUMO").c_str()).Sound());
  EXPECT_FALSE(wizard::CheckImageFile((folder_ / "absent.nbf").c_str()).opened);
}

}  // namespace
