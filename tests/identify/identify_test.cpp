// Identification against the simulated handheld: the connection wait and
// the resume road, the connection type, the asset data, the image search.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "checks/identify.h"
#include "flow/resume_path.h"
#include "checks/resume_record.h"
#include "platform/pc_files.h"
#include "sim_fixture.h"
#include "image/image_file.h"
#include "wizard/wizard_state.h"

namespace {

using identifytest::ProgramOverride;
using identifytest::SimWorld;
using identifytest::WriteHostFile;
using wizard::Wizard;
namespace fs = std::filesystem;

constexpr int kUsbRadio = 1150, kSerialRadio = 1151, kNext = 1, kCancel = 2;
using Walk = std::vector<int>;

// What the replaced asset program writes.
std::vector<std::uint8_t> gAssetBytes;
std::uint32_t WriteGivenAsset(const handheld::ProgramStart& start) {
  start.handheld.WriteDeviceFile(u"\\Windows\\nrvAssetData.dat", gAssetBytes);
  return 0;
}

class Identify : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    Connect();
  }
  void ChooseSerial() { ui->Answer(wizard::kConnectionTypeScreen, {{kSerialRadio, true}}, kNext); }
  std::string Expected(const std::string& lang, const std::string& name) const {
    return dist.Path() + "\\" + lang + "\\" + name;
  }
  void KeepRecord() {
    std::snprintf(Wizard.DeviceInfo.Language, sizeof Wizard.DeviceInfo.Language, "English");
    std::snprintf(Wizard.FlashFile, sizeof Wizard.FlashFile, "%s", imagePath.c_str());
    Wizard.ConnectionType = wizard::Connection::Usb;
    wizard::SaveUpgradeState();
  }
};

TEST_F(Identify, FillsTheHandheldRecordAndFindsTheImage) {
  ui->Answer(wizard::kConnectionTypeScreen, {{kUsbRadio, true}}, kNext);
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 158, 122}));
  EXPECT_FALSE(Wizard.WizardEnded);
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO-5800");
  EXPECT_STREQ(Wizard.DeviceInfo.Version, "1.14");
  EXPECT_STREQ(Wizard.DeviceInfo.Lang, "ENG");
  EXPECT_STREQ(Wizard.DeviceInfo.Language, "English");
  EXPECT_EQ(Wizard.ConnectionType, wizard::Connection::Usb);
  const std::string image = handheld::ImageFileName({"LUMO-5800", "1.20.00", "ENG"});
  EXPECT_EQ(std::string(Wizard.FlashFile), Expected("English", image));
  EXPECT_EQ(std::string(Wizard.FolderImagePath), Wizard.FlashFile);
  EXPECT_EQ(Wizard.ImageSizeKB, fs::file_size(imagePath) >> 10);
  EXPECT_STREQ(wizard::ImageHeader.ImageModelID, "LUMO-5800");
  EXPECT_STREQ(wizard::ImageHeader.ImageLang, "ENG");
  EXPECT_STREQ(wizard::ImageHeader.ImageVersion, "1.20");
}

TEST_F(Identify, AnsweringThroughActiveSyncForgetsTheResumeRecord) {
  KeepRecord();
  wizard::MarkCriticalState();
  Wizard.Critical = true;
  ChooseSerial();
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_FALSE(wizard::LoadUpgradeState());
  EXPECT_FALSE(Wizard.Critical);  // cleared in memory too
  EXPECT_EQ(Wizard.ConnectionType, wizard::Connection::Serial);
}

TEST_F(Identify, CancelOnTheConnectionTypeEndsBeforeTheRecordIsTouched) {
  KeepRecord();
  ui->Answer(wizard::kConnectionTypeScreen, kCancel);
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 158}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_EQ(ui->MainWindowClosed(), 1);
  EXPECT_TRUE(wizard::LoadUpgradeState());
}

TEST_F(Identify, NoAnswerWithin3000MsAndNoRecordIsAConnectionError) {
  ui->Answer(wizard::kConnectionErrorScreen, kCancel);
  Change([](handheld::HandheldState& s) { s.faults.noAnswer = true; });
  StartConnecting();  // the identification's own wait runs out
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 138}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_FALSE(Wizard.ResumePending);
}

TEST_F(Identify, AFailedConnectionAttemptTakesTheSameRoadAsATimeOut) {
  ui->Answer(wizard::kConnectionErrorScreen, kCancel);
  Change([](handheld::HandheldState& s) { s.faults.initFails = true; });
  Connect();
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 138}));
  EXPECT_TRUE(Wizard.WizardEnded);
}

TEST_F(Identify, AnAssetProgramThatDoesNotStartIsError106) {
  Change([](handheld::HandheldState& s) { s.faults.noStart.insert("createassetfile.exe"); });
  ChooseSerial();
  ui->Answer(wizard::kProgramFailureScreen, kCancel);
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 158, 122, 144}));
  EXPECT_TRUE(Wizard.WizardEnded);
}

TEST_F(Identify, AnAssetFileTooShortForBothFieldsIsError106) {
  gAssetBytes = handheld::MakeAssetData("LUMO-5800", "1.14.00 ENG");
  gAssetBytes.resize(wizard::kAssetMinimumSize - 1);
  ProgramOverride program("CreateAssetFile.exe", WriteGivenAsset);
  ChooseSerial();
  ui->Answer(wizard::kProgramFailureScreen, kCancel);
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 158, 122, 144}));
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "");
}

TEST_F(Identify, TheRepairedVersionAndALowerCaseCodeFindTheirFolder) {
  Distribute(DistributionFor("JPN"));
  gAssetBytes = handheld::MakeAssetData("LUMO", std::string("1\0\0002.00 jpn", 11));
  ProgramOverride program("CreateAssetFile.exe", WriteGivenAsset);
  ChooseSerial();
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO");
  EXPECT_STREQ(Wizard.DeviceInfo.Version, "1.12");
  EXPECT_STREQ(Wizard.DeviceInfo.Lang, "jpn");
  EXPECT_STREQ(Wizard.DeviceInfo.Language, "Japanese");
  EXPECT_EQ(std::string(Wizard.FlashFile).rfind(dist.Path() + "\\Japanese\\", 0), 0u);
}

TEST_F(Identify, AnUnknownCodeKeepsLanguageAndImageSize) {
  std::snprintf(Wizard.DeviceInfo.Language, sizeof Wizard.DeviceInfo.Language, "English");
  Wizard.ImageSizeKB = 7;
  gAssetBytes = handheld::MakeAssetData("LUMO-5800", "1.14.00 XYZ");
  ProgramOverride program("CreateAssetFile.exe", WriteGivenAsset);
  ChooseSerial();
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_STREQ(Wizard.DeviceInfo.Lang, "XYZ");
  EXPECT_STREQ(Wizard.DeviceInfo.Language, "English");
  EXPECT_EQ(Wizard.ImageSizeKB, 7u);
  EXPECT_EQ(std::string(Wizard.FlashFile).rfind(dist.Path() + "\\English\\", 0), 0u);
}

TEST_F(Identify, TheImageIsTheFirstFileEndingInNbfNotAFolder) {
  fs::rename(imagePath, LanguageFolder() + "/old.NBF");
  fs::create_directories(LanguageFolder() + "/x.nbf");
  WriteHostFile(LanguageFolder() + "/readme.nbf.txt", "not an image");
  WriteHostFile(LanguageFolder() + "/bf", "short name");
  ChooseSerial();
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(std::string(Wizard.FlashFile), Expected("English", "old.NBF"));
  EXPECT_EQ(wizard::FindLanguageImageSize(""), fs::file_size(LanguageFolder() + "/old.NBF"));
}

TEST_F(Identify, OfTwoImagesTheFirstListedIsChosen) {
  fs::copy_file(imagePath, LanguageFolder() + "/second.nbf");
  std::vector<pc::DirEntry> entries;
  ASSERT_TRUE(pc::ListFolder(LanguageFolder().c_str(), entries));
  std::string first;
  for (const pc::DirEntry& entry : entries) {
    if (entry.name.size() > 4 && entry.name.substr(entry.name.size() - 4) == ".nbf") {
      first = entry.name;
      break;
    }
  }
  ChooseSerial();
  ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(std::string(Wizard.FlashFile), Expected("English", first));
}

TEST_F(Identify, NoImageInTheLanguageFolderIsError103) {
  fs::remove(imagePath);
  fs::create_directories(LanguageFolder() + "/y.nbf");
  ChooseSerial();
  ui->Answer(wizard::kImageNotFoundScreen, kCancel);
  EXPECT_FALSE(wizard::IdentifyDevice(wizard::RunResumePath));
  EXPECT_EQ(ui->Walk(), (Walk{122, 158, 122, 140}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_EQ(wizard::FindLanguageImageSize(""), 0u);
}

TEST_F(Identify, LanguageImageSizeLooksInTheNamedSubFolder) {
  std::snprintf(Wizard.DeviceInfo.Language, sizeof Wizard.DeviceInfo.Language, "English");
  WriteHostFile(LanguageFolder() + "/Backup/saved.nbf", std::string(3000, 'b'));
  EXPECT_EQ(wizard::FindLanguageImageSize("Backup"), 3000u);
  EXPECT_EQ(wizard::FindLanguageImageSize("Missing"), 0u);
  EXPECT_EQ(wizard::FindLanguageImageSize(""), fs::file_size(imagePath));
}

}  // namespace
