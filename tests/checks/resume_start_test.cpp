// A start with a pending resume record, through the driver's start-up: the
// record is loaded, the introductory screens are skipped and identification
// (which takes the resume path when the handheld is silent) comes next.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "checks/resume_record.h"
#include "platform/pc_registry.h"
#include "test_environment.h"
#include "flow/driver.h"
#include "wizard/wizard_state.h"

namespace {

using wizard::Wizard;

int identifyCalls = 0;
bool IdentifyStandIn() {
  ++identifyCalls;
  wizard::EndWizard();
  return false;
}

class ResumeStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::ResetWizardState();
    identifyCalls = 0;
    pcreg::Key* key = nullptr;
    ASSERT_EQ(pcreg::CreateKey(pcreg::Root::LocalMachine, "SOFTWARE\\Microsoft\\Windows CE Services", key),
              pcreg::kSuccess);
    std::uint32_t major = 3, minor = 5;
    pcreg::SetValue(key, "MajorVersion", pcreg::kTypeDword, &major, 4);
    pcreg::SetValue(key, "MinorVersion", pcreg::kTypeDword, &minor, 4);
    pcreg::SetValue(key, "SerialPort", pcreg::kTypeString, "COM2", 5);
    pcreg::CloseKey(key);
    saved_ = wizard::Ops;
    wizard::Ops = wizard::DefaultOperations();
    wizard::Ops.IdentifyDevice = IdentifyStandIn;
  }
  void TearDown() override {
    wizard::Ops = saved_;
    wizard::ResetWizardState();
  }
  bool Shown(int id) const {
    return std::find(frontEnd_.shown.begin(), frontEnd_.shown.end(), id) != frontEnd_.shown.end();
  }
  f3test::ScopedRegistry registry_;
  f3test::RecordingFrontEnd frontEnd_;
  wizard::Operations saved_{};
};

TEST_F(ResumeStartTest, PendingRecordSkipsTheIntroduction) {
  std::strcpy(Wizard.DeviceInfo.ModelID, "LUMO58001");
  std::strcpy(Wizard.FlashFile, "/roms/English/lumo.nbf");
  Wizard.ConnectionType = wizard::Connection::Usb;
  wizard::SaveUpgradeState();
  wizard::MarkCriticalState();
  wizard::ResetWizardState();

  wizard::RunWizard();
  for (int intro : {166, 103, 121, 161}) EXPECT_FALSE(Shown(intro)) << intro;
  EXPECT_EQ(identifyCalls, 1);
  EXPECT_TRUE(Wizard.ResumePending);
  EXPECT_TRUE(Wizard.Critical);
  EXPECT_EQ(Wizard.ConnectionType, wizard::Connection::Usb);
  EXPECT_STREQ(Wizard.FlashFile, "/roms/English/lumo.nbf");
  EXPECT_EQ(frontEnd_.closed, 1);
}

TEST_F(ResumeStartTest, FreshStartShowsTheWarningFirstAndReadsThePort) {
  wizard::RunWizard();
  ASSERT_FALSE(frontEnd_.shown.empty());
  EXPECT_EQ(frontEnd_.shown.front(), 166);
  EXPECT_FALSE(Wizard.ResumePending);
  EXPECT_STREQ(Wizard.SerialPortName, "COM2:");
  EXPECT_EQ(identifyCalls, 0);  // the recording front-end cancels screen 166
}

}  // namespace
