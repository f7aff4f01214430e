// The handheld file operations against the simulated handheld.
#include <gtest/gtest.h>

#include <string>

#include "platform/remote_api.h"
#include "handheld_files/device_files.h"
#include "sim_fixture.h"
#include "wizard/wizard_state.h"

namespace {

using identifytest::SimWorld;
using identifytest::WriteHostFile;

class DeviceFiles : public SimWorld {
 protected:
  void SetUp() override {
    SimWorld::SetUp();
    Connect();
    ASSERT_TRUE(rapi::WaitForConnection(wizard::Wizard.RapiInit, 3000) && wizard::Wizard.RapiInit.result == 0);
  }
  std::string PcFile(const std::string& name, const std::string& bytes) {
    std::string path = dist / name;
    WriteHostFile(path, bytes);
    return path;
  }
};

TEST_F(DeviceFiles, StagingCreatesAHiddenCopyAgainAfterADelete) {
  std::string source = PcFile("probe.exe", std::string(10000, 'p'));  // more than one piece
  ASSERT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Temp\\probe.exe", "probe.exe"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\probe.exe"), std::string(10000, 'p'));
  EXPECT_TRUE(DeviceAttributes(u"\\Temp\\probe.exe") & handheld::kAttrHidden);

  ASSERT_EQ(wizard::DeleteDeviceFile("\\Temp\\probe.exe"), 1);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\probe.exe"));
  ASSERT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Temp\\probe.exe", "probe.exe"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\probe.exe"), std::string(10000, 'p'));
  EXPECT_TRUE(DeviceAttributes(u"\\Temp\\probe.exe") & handheld::kAttrHidden);
}

TEST_F(DeviceFiles, StagingOverAnExistingTargetMovesItAside) {
  PutDeviceFile(u"\\Windows\\tool.exe", "old");
  std::string source = PcFile("tool.exe", "new contents");
  ASSERT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Windows\\tool.exe", "tool.exe"), 1);
  EXPECT_EQ(DeviceFile(u"\\Windows\\tool.exe"), "new contents");
  EXPECT_EQ(DeviceFile(u"\\Temp\\tool.exe"), "old");
  EXPECT_TRUE(DeviceAttributes(u"\\Windows\\tool.exe") & handheld::kAttrHidden);
}

TEST_F(DeviceFiles, StagingOverATargetThatCannotBeMovedFailsAndKeepsIt) {
  PutDeviceFile(u"\\Windows\\tool.exe", "old");
  Change([](handheld::HandheldState& s) { s.faults.failCalls.insert("CeMoveFile"); });
  std::string source = PcFile("tool.exe", "new contents");
  EXPECT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Windows\\tool.exe", "tool.exe"), 0);
  EXPECT_EQ(DeviceFile(u"\\Windows\\tool.exe"), "old");
}

// Every real caller stages into "\Temp\" + name, so the side path is the
// target itself: the target is replaced whole, or left as it was.
TEST_F(DeviceFiles, StagingOverAnExistingTempFileReplacesItWholeOrNotAtAll) {
  PutDeviceFile(u"\\Temp\\backup.exe", "old");
  std::string source = PcFile("backup.exe", std::string(9000, 'n'));
  ASSERT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Temp\\backup.exe", "backup.exe"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\backup.exe"), std::string(9000, 'n'));
  EXPECT_TRUE(DeviceAttributes(u"\\Temp\\backup.exe") & handheld::kAttrHidden);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe.new~"));
  EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe.old~"));

  std::string other = PcFile("other.exe", "newer");
  Change([](handheld::HandheldState& s) { s.faults.failCalls.insert("CeMoveFile"); });
  EXPECT_EQ(wizard::StageFileOnDevice(other.c_str(), "\\Temp\\backup.exe", "backup.exe"), 0);
  EXPECT_EQ(DeviceFile(u"\\Temp\\backup.exe"), std::string(9000, 'n'));
  EXPECT_FALSE(DeviceHas(u"\\Temp\\backup.exe.new~"));
}

TEST_F(DeviceFiles, AnEmptyFileStagesAndAMissingOneDoesNot) {
  std::string empty = PcFile("empty.bin", "");
  ASSERT_EQ(wizard::StageFileOnDevice(empty.c_str(), "\\Temp\\empty.bin", "empty.bin"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\empty.bin"), "");
  EXPECT_TRUE(DeviceAttributes(u"\\Temp\\empty.bin") & handheld::kAttrHidden);
  EXPECT_EQ(wizard::StageFileOnDevice((dist / "absent.bin").c_str(), "\\Temp\\absent.bin", "absent.bin"), 0);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\absent.bin"));
}

TEST_F(DeviceFiles, HandheldPathsAreConvertedFromTheAnsiCodePage) {
  std::string source = PcFile("x.txt", "x");
  ASSERT_EQ(wizard::StageFileOnDevice(source.c_str(), "\\Temp\\caf\xE9.txt", "caf\xE9.txt"), 1);
  EXPECT_TRUE(DeviceHas(u"\\Temp\\caf\u00E9.txt"));
  ASSERT_EQ(wizard::WriteDeviceTextFile("\\Temp\\\x80uro.txt", "e"), 1);  // 0x80 is the euro sign
  EXPECT_EQ(DeviceFile(u"\\Temp\\\u20ACuro.txt"), "e");
}

TEST_F(DeviceFiles, PathsThatDoNotFitAreRefusedNotCut) {
  std::string longName(300, 'n');
  std::string source = PcFile("x.txt", "x");
  EXPECT_EQ(wizard::StageFileOnDevice(source.c_str(), ("\\Temp\\" + longName).c_str(), longName.c_str()), 0);
  EXPECT_EQ(wizard::WriteDeviceTextFile(("\\Temp\\" + longName).c_str(), "t"), 0);
  EXPECT_EQ(wizard::DeleteFileInDeviceFolder(u"\\Temp\\", longName.c_str()), 0);
}

TEST_F(DeviceFiles, DeleteInFolderOnlyDeletesWhatExists) {
  EXPECT_EQ(wizard::DeleteFileInDeviceFolder(u"\\Temp\\", "none.txt"), 0);
  PutDeviceFile(u"\\Temp\\some.txt", "s");
  EXPECT_EQ(wizard::DeleteFileInDeviceFolder(u"\\Temp\\", "some.txt"), 1);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\some.txt"));
  EXPECT_EQ(wizard::DeleteDeviceFile("\\Temp\\some.txt"), 0);
}

TEST_F(DeviceFiles, FoldersAreCreatedAndRemovedWithTheirFiles) {
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\Box"), 1);
  EXPECT_EQ(wizard::CreateDeviceFolder("\\Temp\\Box"), 0);
  PutDeviceFile(u"\\Temp\\Box\\a.txt", "a");
  PutDeviceFile(u"\\Temp\\Box\\b.lnk", "b");
  ASSERT_EQ(wizard::RemoveDeviceFolder("\\Temp\\Box"), 1);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\Box"));
  // An empty folder goes too.
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\Empty"), 1);
  EXPECT_EQ(wizard::RemoveDeviceFolder("\\Temp\\Empty"), 1);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\Empty"));
}

TEST_F(DeviceFiles, RemovingAFolderWithASubFolderRemovesItsFilesThenFails) {
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\Box"), 1);
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\Box\\Inner"), 1);
  PutDeviceFile(u"\\Temp\\Box\\a.txt", "a");
  PutDeviceFile(u"\\Temp\\Box\\Inner\\keep.txt", "k");
  EXPECT_EQ(wizard::RemoveDeviceFolder("\\Temp\\Box"), 0);
  EXPECT_FALSE(DeviceHas(u"\\Temp\\Box\\a.txt"));
  EXPECT_EQ(DeviceFile(u"\\Temp\\Box\\Inner\\keep.txt"), "k");
}

TEST_F(DeviceFiles, ShortcutsAreCopiedWithoutReplacingExistingOnes) {
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\From"), 1);
  ASSERT_EQ(wizard::CreateDeviceFolder("\\Temp\\To"), 1);
  EXPECT_EQ(wizard::CopyDeviceShortcuts("\\Temp\\From", "\\Temp\\To"), -1);
  PutDeviceFile(u"\\Temp\\From\\note.txt", "not a shortcut");
  EXPECT_EQ(wizard::CopyDeviceShortcuts("\\Temp\\From", "\\Temp\\To"), -1);

  PutDeviceFile(u"\\Temp\\From\\a.lnk", "#a");
  PutDeviceFile(u"\\Temp\\From\\b.lnk", "#b new");
  PutDeviceFile(u"\\Temp\\To\\b.lnk", "#b old");
  EXPECT_NE(wizard::CopyDeviceShortcuts("\\Temp\\From", "\\Temp\\To"), 0);
  EXPECT_EQ(DeviceFile(u"\\Temp\\To\\a.lnk"), "#a");
  EXPECT_EQ(DeviceFile(u"\\Temp\\To\\b.lnk"), "#b old");
  EXPECT_FALSE(DeviceHas(u"\\Temp\\To\\note.txt"));
}

TEST_F(DeviceFiles, TextFilesAreCreatedAndReplaced) {
  ASSERT_EQ(wizard::WriteShortcutInDeviceFolder("\\Temp\\", "app.lnk", "22#\\Windows\\app.exe"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\app.lnk"), "22#\\Windows\\app.exe");
  ASSERT_EQ(wizard::WriteShortcutInDeviceFolder("\\Temp\\", "app.lnk", "1#x"), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\app.lnk"), "1#x");
  ASSERT_EQ(wizard::WriteDeviceTextFile("\\Temp\\t.txt", ""), 1);
  EXPECT_EQ(DeviceFile(u"\\Temp\\t.txt"), "");
  EXPECT_EQ(wizard::WriteDeviceTextFile("\\NoSuchFolder\\t.txt", "t"), 0);
}

}  // namespace
