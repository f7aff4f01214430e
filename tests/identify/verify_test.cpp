// Verification against the simulated handheld: module removal, the probe
// for the flash size and the image checksum; and a wizard run up to the
// choice screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "checks/identify.h"
#include "flow/resume_path.h"
#include "platform/pc_files.h"
#include "sim_fixture.h"
#include "image/image_file.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

using identifytest::ProgramOverride;
using identifytest::SimWorld;
using identifytest::WriteHostFile;
using wizard::Wizard;
namespace fs = std::filesystem;

constexpr int kSerialRadio = 1151, kNext = 1, kExit = 2;
using Walk = std::vector<int>;

std::uint32_t WriteOneByteResult(const handheld::ProgramStart& start) {
  start.handheld.WriteDeviceFile(u"\\temp\\type.dat", {1});
  return 0;
}

class Verify : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    Connect();
    ui->Answer(wizard::kConnectionTypeScreen, {{kSerialRadio, true}}, kNext);
    ASSERT_TRUE(wizard::IdentifyDevice(wizard::RunResumePath));
    shownBefore = ui->Walk().size();
  }
  // Screens shown by the verification itself.
  Walk Shown() const {
    Walk all = ui->Walk();
    return Walk(all.begin() + static_cast<std::ptrdiff_t>(shownBefore), all.end());
  }
  bool HasModule(const std::string& name) {
    return DeviceHas(u"\\Windows\\" + std::u16string(name.begin(), name.end()));
  }
  void ModuleList(const std::string& text) { WriteHostFile(LanguageFolder() + "/module.dat", text); }

  std::size_t shownBefore = 0;
};

TEST_F(Verify, RemovesTheListedModulesProbesTheFlashAndMatchesTheChecksum) {
  for (const std::string& module : handheld::CreateOptions::DefaultModules()) ASSERT_TRUE(HasModule(module));
  ASSERT_TRUE(wizard::VerifyImageAndDevice());
  for (const std::string& module : handheld::CreateOptions::DefaultModules()) EXPECT_FALSE(HasModule(module));
  EXPECT_EQ(Wizard.DeviceInfo.FlashSizeMB, 32);
  EXPECT_TRUE(DeviceHas(u"\\Temp\\GetType.exe"));  // stays on the handheld
  EXPECT_FALSE(DeviceHas(u"\\temp\\type.dat"));
  EXPECT_EQ(Shown(), (Walk{122}));
  EXPECT_FALSE(Wizard.WizardEnded);
}

TEST_F(Verify, TheFirstModuleLineCountsEvenWithADollar) {
  PutDeviceFile(u"\\Windows\\$Odd.dll", "m");
  ModuleList("$Odd.dll\r\nLumoKeys.dll\r\n$\r\nLumoBattery.dll\r\n");
  ASSERT_TRUE(wizard::VerifyImageAndDevice());
  EXPECT_FALSE(HasModule("$Odd.dll"));
  EXPECT_FALSE(HasModule("LumoKeys.dll"));
  EXPECT_TRUE(HasModule("LumoBattery.dll"));
  EXPECT_TRUE(HasModule("LumoToday.dll"));
}

TEST_F(Verify, AMissingModuleListGoesOnWithEnter) {
  fs::remove(LanguageFolder() + "/module.dat");
  ui->Answer(wizard::kModuleListScreen, 1);
  ASSERT_TRUE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{122, 146}));
  EXPECT_TRUE(HasModule("LumoToday.dll"));
  EXPECT_EQ(Wizard.DeviceInfo.FlashSizeMB, 32);
}

TEST_F(Verify, AMissingModuleListEndsWithExit) {
  fs::remove(LanguageFolder() + "/module.dat");
  ui->Answer(wizard::kModuleListScreen, 2);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{122, 146}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_EQ(Wizard.DeviceInfo.FlashSizeMB, 0);  // the probe did not run
}

TEST_F(Verify, ACorruptedImageFailsTheChecksumWithoutEndingTheWizard) {
  handheld::DistributionOptions options = DistributionFor();
  options.corruptImage = true;
  Distribute(options);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_FALSE(Wizard.WizardEnded);  // the driver shows "ERROR 102"
  EXPECT_EQ(Shown(), (Walk{122}));
}

TEST_F(Verify, AHeaderWithAnotherChecksumFails) {
  std::string path = Wizard.FlashFile;
  std::replace(path.begin(), path.end(), '\\', '/');  // as the PC files seam reads it
  std::string image = identifytest::ReadHostFile(path);
  ASSERT_GE(image.size(), wizard::kImageHeaderSize);
  image.replace(wizard::kChecksumOffset, 4, "0a1F");
  WriteHostFile(path, image);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_FALSE(Wizard.WizardEnded);
}

// An image with a right checksum whose payload is `payloadBytes` long.
std::string WriteSmallImage(const std::string& folder, std::size_t payloadBytes) {
  std::string path = folder + "/small.nbf";
  std::vector<std::uint8_t> payload(payloadBytes, 0xA5);
  pc::File* file = pc::OpenFile(path.c_str(), pc::OpenMode::CreateAlways);
  EXPECT_TRUE(file != nullptr);
  EXPECT_TRUE(pc::SeekFile(file, wizard::kImageHeaderSize));
  EXPECT_TRUE(pc::WriteFile(file, payload.data(), payload.size()));
  wizard::WriteImageHeader(file, Wizard.DeviceInfo.ModelID, Wizard.DeviceInfo.Lang, Wizard.DeviceInfo.Version,
                           wizard::AddToChecksum(0, payload.data(), payload.size()));
  pc::CloseFile(file);
  return path;
}

TEST_F(Verify, APayloadWithoutItsLoaderBlockIsRefusedLikeACorruptImage) {
  for (std::size_t payload : {std::size_t{0x80000} - 1, std::size_t{0x80000}}) {
    std::string path = WriteSmallImage(LanguageFolder(), payload);
    std::snprintf(Wizard.FlashFile, sizeof Wizard.FlashFile, "%s", path.c_str());
    ASSERT_NE(wizard::ReadImageHeader(Wizard.FlashFile), 0);
    // Only the 512 KB payload holds the boot block and the loader block.
    EXPECT_EQ(wizard::VerifyImageAndDevice(), payload == 0x80000) << payload;
    EXPECT_FALSE(Wizard.WizardEnded);  // the driver shows "ERROR 102"
  }
}

TEST_F(Verify, AStaleProbeResultIsDeletedBeforeTheProbe) {
  PutDeviceFile(u"\\temp\\type.dat", std::string("\x01\x63", 2));  // 99 MB from an earlier run
  ASSERT_TRUE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Wizard.DeviceInfo.FlashSizeMB, 32);
}

TEST_F(Verify, AProbeThatNeverWritesIsError106AfterTheBound) {
  PutDeviceFile(u"\\temp\\type.dat", std::string("\x01\x63", 2));
  Change([](handheld::HandheldState& s) { s.faults.probeSilent = true; });
  ui->Answer(wizard::kProgramFailureScreen, kExit);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{122, 144}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_EQ(Wizard.DeviceInfo.FlashSizeMB, 0);
}

TEST_F(Verify, AProbeThatCannotStartIsError106) {
  Change([](handheld::HandheldState& s) { s.faults.noStart.insert("gettype.exe"); });
  ui->Answer(wizard::kProgramFailureScreen, kExit);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{122, 144}));
  EXPECT_TRUE(Wizard.WizardEnded);
}

TEST_F(Verify, AProbeResultOfOneByteIsError106AndIsDeleted) {
  ProgramOverride program("GetType.exe", WriteOneByteResult);
  ui->Answer(wizard::kProgramFailureScreen, kExit);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{122, 144}));
  EXPECT_FALSE(DeviceHas(u"\\temp\\type.dat"));
}

TEST_F(Verify, AnImageThatCannotBeOpenedIsError104) {
  std::snprintf(Wizard.FlashFile, sizeof Wizard.FlashFile, "%s", (dist / "gone.nbf").c_str());
  ui->Answer(wizard::kCannotOpenImageScreen, kExit);
  EXPECT_FALSE(wizard::VerifyImageAndDevice());
  EXPECT_EQ(Shown(), (Walk{141}));
  EXPECT_TRUE(Wizard.WizardEnded);
  EXPECT_TRUE(HasModule("LumoToday.dll"));
}

// The driver with the real bindings, from the first screen to the choice.
std::string gStartFolder;

class WizardRun : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    // The wizard starts from the distribution folder.
    gStartFolder = dist.Path();
    wizard::Ops.CurrentFolder = [] { return gStartFolder; };
    wizard::Ops.CeRapiInitEx = testsupport::StartRemoteApiAndWait;
  }
};

TEST_F(WizardRun, ReachesTheChoiceScreenWithTheHandheldsIdentity) {
  ui->Answer(166, 1181);
  ui->Answer(103, kNext);
  ui->Answer(121, kNext);
  ui->Answer(161, kNext);
  ui->Answer(wizard::kConnectionTypeScreen, {{kSerialRadio, true}}, kNext);
  ui->Answer(109, 2);
  wizard::RunWizard();
  EXPECT_EQ(ui->Walk(), (Walk{166, 103, 121, 161, 122, 158, 122, 122, 109}));
  const testsupport::Snapshot& choice = ui->Last(109).Opened();
  EXPECT_NE(choice.Text(1066).find("LUMO-5800"), std::string::npos);
  EXPECT_NE(choice.Text(1067).find("1.14"), std::string::npos);
  EXPECT_NE(choice.Text(1068).find("English"), std::string::npos);
  EXPECT_EQ(ui->MainWindowClosed(), 1);
  EXPECT_EQ(ui->UnusedSteps(), 0u);
}

}  // namespace
