// The resume record in the registry store: the exact values, types and sizes
// written, the load with its skipped values, marking and deleting.
#include "checks/resume_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/pc_registry.h"
#include "test_environment.h"
#include "wizard/wizard_state.h"

namespace {

using wizard::Wizard;

struct StoredValue {
  long result = -1;
  std::uint32_t type = 0;
  std::string bytes;
};

StoredValue Stored(const char* name) {
  StoredValue value;
  pcreg::Key* key = nullptr;
  value.result = pcreg::OpenKey(pcreg::Root::CurrentUser, "Software\\Veltrom", false, key);
  if (value.result != pcreg::kSuccess) return value;
  char data[1024];
  std::uint32_t size = sizeof data;
  value.result = pcreg::QueryValue(key, name, value.type, data, size);
  if (value.result == pcreg::kSuccess) value.bytes.assign(data, size);
  pcreg::CloseKey(key);
  return value;
}

std::string Block(const char* text, std::size_t size) {
  std::string block(size, '\0');
  block.replace(0, std::strlen(text), text);
  return block;
}

std::string Dword(std::uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

void Put(const char* name, std::uint32_t type, const std::string& bytes) {
  pcreg::Key* key = nullptr;
  ASSERT_EQ(pcreg::CreateKey(pcreg::Root::CurrentUser, "Software\\Veltrom", key), pcreg::kSuccess);
  ASSERT_EQ(pcreg::SetValue(key, name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
            pcreg::kSuccess);
  pcreg::CloseKey(key);
}

class ResumeRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wizard::ResetWizardState();
    std::strcpy(Wizard.DeviceInfo.ModelID, "LUMO58001");
    std::strcpy(Wizard.DeviceInfo.Version, "1.32");
    std::strcpy(Wizard.DeviceInfo.Lang, "ENG");
    std::strcpy(Wizard.DeviceInfo.Language, "English");
    std::strcpy(Wizard.FlashFile, "/home/user/rom/English/lumo5800.nbf");
    Wizard.ConnectionType = wizard::Connection::Usb;
  }
  void TearDown() override { wizard::ResetWizardState(); }
  f3test::ScopedRegistry registry_;
};

TEST_F(ResumeRecordTest, SaveWritesEachValueWithItsTypeAndSize) {
  wizard::SaveUpgradeState();
  EXPECT_EQ(Stored("Flash").type, pcreg::kTypeDword);
  EXPECT_EQ(Stored("Flash").bytes, Dword(1));
  EXPECT_EQ(Stored("Language").type, pcreg::kTypeString);
  EXPECT_EQ(Stored("Language").bytes, Block("English", 20));
  EXPECT_EQ(Stored("ModelID").bytes, Block("LUMO58001", 15));
  EXPECT_EQ(Stored("Lang").bytes, Block("ENG", 10));
  EXPECT_EQ(Stored("Version").bytes, Block("1.32", 20));
  EXPECT_EQ(Stored("USB").type, pcreg::kTypeDword);
  EXPECT_EQ(Stored("USB").bytes, Dword(1));
  EXPECT_EQ(Stored("FlashFile").type, pcreg::kTypeString);
  EXPECT_EQ(Stored("FlashFile").bytes, std::string(Wizard.FlashFile) + '\0');
  EXPECT_EQ(Stored("Critical").result, pcreg::kFileNotFound);

  // The values appear in the order they are written.
  const char* order[] = {"Flash", "Language", "ModelID", "Lang", "Version", "USB", "FlashFile"};
  pcreg::Key* key = nullptr;
  ASSERT_EQ(pcreg::OpenKey(pcreg::Root::CurrentUser, "Software\\Veltrom", false, key), pcreg::kSuccess);
  for (std::uint32_t i = 0; i < 7; ++i) {
    char name[100];
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(pcreg::EnumValue(key, i, name, sizeof name, type, nullptr, size), pcreg::kSuccess);
    EXPECT_STREQ(name, order[i]);
  }
  pcreg::CloseKey(key);

  Wizard.ConnectionType = wizard::Connection::Serial;
  wizard::SaveUpgradeState();
  EXPECT_EQ(Stored("USB").bytes, Dword(0));
}

TEST_F(ResumeRecordTest, SaveThenLoadRestoresTheRun) {
  wizard::SaveUpgradeState();
  wizard::MarkCriticalState();
  EXPECT_EQ(Stored("Critical").bytes, Dword(1));
  wizard::ResetWizardState();
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_TRUE(Wizard.ResumePending);
  EXPECT_TRUE(Wizard.Critical);
  EXPECT_EQ(Wizard.ConnectionType, wizard::Connection::Usb);
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO58001");
  EXPECT_STREQ(Wizard.DeviceInfo.Version, "1.32");
  EXPECT_STREQ(Wizard.DeviceInfo.Lang, "ENG");
  EXPECT_STREQ(Wizard.DeviceInfo.Language, "English");
  EXPECT_STREQ(Wizard.FlashFile, "/home/user/rom/English/lumo5800.nbf");
}

TEST_F(ResumeRecordTest, NoKeyChangesNothing) {
  Wizard.ResumePending = true;
  Wizard.Critical = true;
  EXPECT_FALSE(wizard::LoadUpgradeState());
  EXPECT_TRUE(Wizard.Critical);
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO58001");
}

TEST_F(ResumeRecordTest, FlashZeroIsNotPendingButTheOtherValuesLoad) {
  Put("flash", pcreg::kTypeDword, Dword(0));
  Put("MODELID", pcreg::kTypeString, Block("LUMO53002", 15));
  Put("usb", pcreg::kTypeDword, Dword(0));
  EXPECT_FALSE(wizard::LoadUpgradeState());
  EXPECT_FALSE(Wizard.ResumePending);
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO53002");
  EXPECT_EQ(Wizard.ConnectionType, wizard::Connection::Serial);
}

TEST_F(ResumeRecordTest, DwordsAreTestedByTheirLowByte) {
  Put("Flash", pcreg::kTypeDword, Dword(0x0101));
  Put("Critical", pcreg::kTypeDword, Dword(0x0100));
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_FALSE(Wizard.Critical);
}

TEST_F(ResumeRecordTest, ValuesTooLargeForTheirFieldsAreSkipped) {
  Put("Flash", pcreg::kTypeDword, Dword(1));
  Put("ModelID", pcreg::kTypeString, std::string("LUMO58001X") + '\0');  // 10 characters: no room
  Put("Version", pcreg::kTypeString, "1.41");                            // no NUL, fits
  Put("Lang", pcreg::kTypeString, std::string(10, 'E'));                 // 10 bytes, no NUL
  Put("Language", pcreg::kTypeString, Block("German", 20));
  Put("FlashFile", pcreg::kTypeString, std::string(400, 'p') + '\0');    // beyond the 260-byte buffer
  Put("Critical", pcreg::kTypeDword, Dword(1));                          // read after the skipped ones
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_STREQ(Wizard.DeviceInfo.ModelID, "LUMO58001");
  EXPECT_STREQ(Wizard.DeviceInfo.Version, "1.41");
  EXPECT_STREQ(Wizard.DeviceInfo.Lang, "ENG");
  EXPECT_STREQ(Wizard.DeviceInfo.Language, "German");
  EXPECT_STREQ(Wizard.FlashFile, "/home/user/rom/English/lumo5800.nbf");
  EXPECT_TRUE(Wizard.Critical);
}

TEST_F(ResumeRecordTest, SavedBlocksNeverReadPastAField) {
  // A field that lost its terminator is cut at its capacity, not read beyond.
  std::memset(Wizard.DeviceInfo.ModelID, 'M', sizeof Wizard.DeviceInfo.ModelID);
  std::memset(Wizard.DeviceInfo.Language, 'L', sizeof Wizard.DeviceInfo.Language);
  wizard::SaveUpgradeState();
  EXPECT_EQ(Stored("ModelID").bytes, Block("MMMMMMMMM", 15));
  EXPECT_EQ(Stored("Language").bytes, Block(std::string(15, 'L').c_str(), 20));
}

TEST_F(ResumeRecordTest, DeleteRemovesTheKeyAndForgetClearsCritical) {
  wizard::SaveUpgradeState();
  wizard::MarkCriticalState();
  ASSERT_TRUE(wizard::LoadUpgradeState());
  ASSERT_TRUE(Wizard.Critical);
  wizard::DeleteUpgradeState();
  EXPECT_EQ(Stored("Flash").result, pcreg::kFileNotFound);
  EXPECT_TRUE(Wizard.Critical);  // deleting alone keeps the flag of this run

  wizard::SaveUpgradeState();
  wizard::MarkCriticalState();
  wizard::ForgetUpgradeStateAfterConnect();
  EXPECT_EQ(Stored("Flash").result, pcreg::kFileNotFound);
  EXPECT_FALSE(Wizard.Critical);
  wizard::DeleteUpgradeState();  // nothing left to delete: silent
  EXPECT_FALSE(wizard::LoadUpgradeState());
}

TEST_F(ResumeRecordTest, CriticalIsNeverWrittenAsZero) {
  Wizard.Critical = false;
  wizard::SaveUpgradeState();
  EXPECT_EQ(Stored("Critical").result, pcreg::kFileNotFound);
  wizard::MarkCriticalState();
  wizard::SaveUpgradeState();  // a later save leaves the mark alone
  EXPECT_EQ(Stored("Critical").bytes, Dword(1));
  EXPECT_EQ(registry_.Text().find("\"Critical\"=dword:00000000"), std::string::npos);
}

}  // namespace
