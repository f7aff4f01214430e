// The whole agent from its command line: Windows phase on the hosted OS,
// takeover on the simulated SoC, ending with the reset.
#include <gtest/gtest.h>

#include <cstring>

#include "agent_rig.h"
#include "loader/install.h"
#include "resources/agent_strings.h"
#include "platform/services.h"
#include "startup/windows_phase.h"

namespace {

const char16_t kUsbCommand[] = {2, u' ', u'U', 0};
const char16_t kSerialCommand[] = {1, u' ', u'U', 0};

class AgentRun : public ::testing::Test {
 protected:
  void Start(const soc::Board& board, const std::u16string& oem) {
    rig.reset();
    rig = std::make_unique<AgentRig>(board);
    rig->handheld.oemInfo = oem;
    rig->handheld.halLanguage = u"ENGLISH";
    std::copy(board.halInfo.begin(), board.halInfo.end(), rig->handheld.halInformation.begin());
    usb = Pattern(100000, 11);
    serial = Pattern(30000, 77);
    hosted::AddFile(rig->handheld, u"\\temp\\flash_usb.nb", usb);
    hosted::AddFile(rig->handheld, u"\\temp\\flash_serial.nb", serial);
    hosted::AddFile(rig->handheld, u"\\temp\\Devflash.exe", {1, 2, 3});
    before = rig->soc.Flash().Contents();
  }
  void Start5800() { Start(soc::Board5800(), u"Lumo Pocket PC 5800"); }
  void Start5300() { Start(soc::Board5300(), u"Lumo Pocket PC 5300"); }

  // Runs the agent; true when it ended in the handheld's reset.
  bool Run(const char16_t* commandLine) {
    try {
      returned = DevflashMain(reinterpret_cast<void*>(0x10000), commandLine);
      return false;
    } catch (const soc::DeviceReset&) {
      return true;
    }
  }

  std::string System() const { return hosted::DebugText(rig->handheld); }
  std::string Port() const { return rig->soc.DebugText(); }
  bool FlashUntouched() const { return rig->soc.Flash().Contents() == before; }
  std::u16string Text(uint32_t id) const { return FindAgentString(id)->text; }
  uint64_t BusAccesses() const { return rig->soc.Stats().reads + rig->soc.Stats().writes; }

  std::unique_ptr<AgentRig> rig;
  std::vector<uint8_t> usb, serial, before;
  int returned = -1;
};

// The handheld's HAL refuses requests with an unknown code or the wrong
// sizes, and says which; the agent's own requests pass (see below).
TEST_F(AgentRun, HalRefusesMalformedRequests) {
  Start5800();
  uint8_t record[84];
  const uint16_t selector = 0x1000;
  const uint32_t zero = 0;
  char16_t name[64];
  EXPECT_FALSE(devos::KernelIoControl(kIoctlHalInformation, &selector, sizeof selector, record, 80));
  EXPECT_FALSE(devos::KernelIoControl(kIoctlHalInformation, &zero, sizeof zero, record, sizeof record));
  EXPECT_FALSE(devos::KernelIoControl(kIoctlStopInterrupts, &zero, 2, nullptr, 0));
  EXPECT_FALSE(devos::KernelIoControl(kIoctlStopInterrupts, &zero, sizeof zero, record, sizeof record));
  EXPECT_FALSE(devos::KernelIoControl(kIoctlHalLanguageName, &zero, sizeof zero, name, sizeof name));
  EXPECT_FALSE(devos::KernelIoControl(kIoctlHalLanguageName, nullptr, 0, name, 4));
  EXPECT_FALSE(devos::KernelIoControl(0x01010199, nullptr, 0, nullptr, 0));
  EXPECT_EQ(rig->handheld.violations.size(), 7u);
  EXPECT_FALSE(rig->handheld.interruptsStopped);
  EXPECT_TRUE(devos::KernelIoControl(kIoctlHalInformation, &selector, sizeof selector, record, sizeof record));
  EXPECT_EQ(rig->handheld.violations.size(), 7u);
}

TEST_F(AgentRun, UsbUpgradeOnModel5800) {
  Start5800();
  ASSERT_TRUE(Run(kUsbCommand));
  // Only flash_usb.nb, cut at 64 KiB.
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes),
            std::vector<uint8_t>(usb.begin(), usb.begin() + kLoaderImageBytes));
  EXPECT_EQ(rig->FlashBytes(kLoaderRecordOffset, 8),
            (std::vector<uint8_t>{0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00}));
  const auto& after = rig->soc.Flash().Contents();
  const uint32_t unit = rig->soc.Flash().UnitBlockBytes();
  for (uint32_t i = 0; i < after.size(); ++i) {
    if (i / unit == 0x40000 / unit || i / unit == 0x60000 / unit) continue;
    ASSERT_EQ(after[i], before[i]) << std::hex << i;
  }
  EXPECT_EQ(rig->soc.ResetCount(), 1);
  EXPECT_TRUE(rig->handheld.interruptsStopped);
  EXPECT_EQ(rig->handheld.openHandles, 0);
  EXPECT_EQ(System(), "2 Program start\n\nPetrel 5800\nClose Ras\n");
  EXPECT_EQ(Port(), "Begin \r\nGet ABX OK!!\r\ninterrupts off\r\n");
  // Nothing a handheld would refuse: HAL requests, flash command sequences.
  EXPECT_EQ(rig->handheld.violations, std::vector<std::string>{});
  EXPECT_EQ(rig->soc.Violations(), std::vector<std::string>{});
}

TEST_F(AgentRun, UsbNoticeFillsTheScreen) {
  Start5800();
  ASSERT_TRUE(Run(kUsbCommand));
  ASSERT_EQ(rig->handheld.dialogs.size(), 1u);
  const hosted::DialogRecord& d = rig->handheld.dialogs[0];
  EXPECT_EQ(d.templateId, 107u);
  EXPECT_EQ(d.messageText, Text(3102));
  ASSERT_EQ(d.moves.size(), 2u);
  EXPECT_EQ(d.moves[0].x, (240 - 225) / 2);
  EXPECT_EQ(d.moves[0].y, (320 - 273) / 2);
  EXPECT_EQ(d.moves[0].width, 225);
  EXPECT_FALSE(d.moves[0].repaint);
  EXPECT_EQ(d.moves[1].x, 0);
  EXPECT_EQ(d.moves[1].width, 240);
  EXPECT_EQ(d.moves[1].height, 320);
  EXPECT_TRUE(d.moves[1].repaint);
  EXPECT_TRUE(d.fullScreen);
  EXPECT_EQ(d.fullScreenFlags, 0x2Au);
  EXPECT_EQ(rig->handheld.sleptMs, 100u);
}

TEST_F(AgentRun, SerialUpgradeOnModel5300) {
  Start5300();
  ASSERT_TRUE(Run(kSerialCommand));
  ASSERT_EQ(rig->handheld.dialogs.size(), 1u);
  EXPECT_EQ(rig->handheld.dialogs[0].templateId, 103u);
  EXPECT_EQ(rig->handheld.dialogs[0].messageText, Text(3101));
  // 30,000 bytes of flash_serial.nb, then zeros up to 64 KiB.
  std::vector<uint8_t> expected = serial;
  expected.resize(kLoaderImageBytes, 0);
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes), expected);
  const uint32_t address = soc::Board5300().halInfo[3] | 0xA0000000;
  uint32_t record[2];
  std::memcpy(record, rig->FlashBytes(kLoaderRecordOffset, 8).data(), 8);
  EXPECT_EQ(record[0], address);
  EXPECT_EQ(record[1], 32u);
  EXPECT_EQ(Agent.halInformation[3], address);
}

TEST_F(AgentRun, ShortLoaderIsPaddedWithZeros) {
  Start5800();
  usb = Pattern(40000, 3);
  hosted::AddFile(rig->handheld, u"\\temp\\flash_usb.nb", usb);
  ASSERT_TRUE(Run(kUsbCommand));
  const auto programmed = rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes);
  EXPECT_TRUE(std::equal(usb.begin(), usb.end(), programmed.begin()));
  EXPECT_EQ(std::count(programmed.begin() + 40000, programmed.end(), 0), 25536);
}

TEST_F(AgentRun, MissingLoaderKeepsWindowsRunning) {
  Start5800();
  rig->handheld.files.erase(u"\\temp\\flash_usb.nb");
  EXPECT_FALSE(Run(kUsbCommand));
  EXPECT_EQ(returned, 0);
  EXPECT_EQ(Port(), "Begin \r\nCan't open file\r\n");
  EXPECT_TRUE(FlashUntouched());
  EXPECT_FALSE(rig->handheld.interruptsStopped);
  EXPECT_EQ(rig->soc.ResetCount(), 0);
}

TEST_F(AgentRun, UnreadableLoaderIsNotProgrammed) {
  Start5800();
  rig->handheld.files[u"\\temp\\flash_usb.nb"].readFails = true;
  EXPECT_FALSE(Run(kUsbCommand));
  EXPECT_EQ(returned, 0);
  EXPECT_TRUE(FlashUntouched());
  EXPECT_FALSE(rig->handheld.interruptsStopped);
  EXPECT_EQ(rig->handheld.openHandles, 0);

  Start5800();
  rig->handheld.files[u"\\temp\\flash_usb.nb"].bytes.clear();
  EXPECT_FALSE(Run(kUsbCommand));
  EXPECT_TRUE(FlashUntouched());

  Start5800();
  rig->handheld.files[u"\\temp\\flash_usb.nb"].sizeFails = true;
  EXPECT_FALSE(Run(kUsbCommand));
  EXPECT_EQ(Port(), "Begin \r\nGet file size error \r\n");
}

TEST_F(AgentRun, CommandLineMustEndInU) {
  const char16_t other[] = {2, u' ', u'X', 0};
  const char16_t two[] = {2, u'U', 0};
  for (const char16_t* line : {other, two, u"", static_cast<const char16_t*>(nullptr)}) {
    Start5800();
    EXPECT_FALSE(Run(line));
    EXPECT_EQ(returned, 0);
    EXPECT_EQ(System(), "No Argument\n");
    EXPECT_TRUE(rig->handheld.dialogs.empty());
    EXPECT_TRUE(rig->handheld.ioctlCodes.empty());
    EXPECT_EQ(BusAccesses(), 0u);
  }
}

TEST_F(AgentRun, UnknownModelStopsBeforeAnyHardware) {
  Start(soc::Board5800(), u"Some other handheld");
  EXPECT_FALSE(Run(kUsbCommand));
  EXPECT_EQ(returned, 0);
  EXPECT_EQ(System(), "2 Program start\nPhysicalToVirtual Fail!\n");
  EXPECT_EQ(Agent.usbText, Text(3102));  // texts were loaded first
  EXPECT_TRUE(rig->handheld.dialogs.empty());
  EXPECT_EQ(BusAccesses(), 0u);
}

TEST_F(AgentRun, Model5800WinsWhenBothNumbersAppear) {
  Start(soc::Board5800(), u"5300/5800");
  ASSERT_TRUE(Run(kSerialCommand));
  EXPECT_EQ(Agent.modelCode, kModel5800);
  EXPECT_EQ(rig->handheld.dialogs[0].templateId, 105u);
}

TEST_F(AgentRun, Model5300WithoutHalAddressStopsBeforeTheBuffer) {
  for (bool requestFails : {true, false}) {
    soc::Board board = soc::Board5300();
    Start(board, u"5300");
    const uint32_t buffer = board.halInfo[3] | 0xA0000000;
    std::memset(rig->soc.RamPointer(buffer), 0xA5, 0x20000);
    if (requestFails) {
      rig->handheld.halInformationFails = true;
    } else {
      rig->handheld.halInformation[3] = 0;
    }
    EXPECT_FALSE(Run(kSerialCommand));
    EXPECT_EQ(returned, 0);
    EXPECT_NE(System().find("PhysicalToVirtual Fail!\n"), std::string::npos);
    EXPECT_EQ(static_cast<uint8_t*>(rig->soc.RamPointer(buffer))[0], 0xA5);
    EXPECT_EQ(BusAccesses(), 0u);
  }
}

TEST_F(AgentRun, LanguageNamesChooseTheTexts) {
  struct Row { std::u16string name; uint32_t serial, usb; };
  for (const Row& row : {Row{u"FRANCAIS", 3201, 3202}, Row{u"FRENCH", 3201, 3202},
                         Row{u"DEUTSCH", 3301, 3302}, Row{u"ITALIAN", 3401, 3402},
                         Row{u"SPANISH", 3501, 3502}, Row{u"JAPANESE", 3103, 3104},
                         Row{u"SIMPLE CHINESE", 3103, 3104}, Row{u"TRADITIONAL CHINESE", 3103, 3104},
                         Row{u"KLINGON", 3101, 3102}, Row{u"", 3101, 3102},
                         Row{u"FRANCAIS ", 3101, 3102}}) {
    Start5800();
    rig->handheld.halLanguage = row.name;
    ResetAgentState();
    SelectLanguageTexts();
    EXPECT_EQ(std::u16string(Agent.serialText), Text(row.serial));
    EXPECT_EQ(std::u16string(Agent.usbText), Text(row.usb));
  }
  Start5800();
  rig->handheld.halLanguage = u"FRANCAIS";
  rig->handheld.halLanguageFails = true;
  SelectLanguageTexts();
  EXPECT_EQ(std::u16string(Agent.serialText), Text(3101));
}

TEST_F(AgentRun, OtherConnectionCodeShowsNothingAndLoadsNothing) {
  Start5800();
  const char16_t three[] = {3, u' ', u'U', 0};
  EXPECT_FALSE(Run(three));
  EXPECT_EQ(returned, 0);
  EXPECT_TRUE(rig->handheld.dialogs.empty());
  EXPECT_EQ(Port(), "Begin \r\nCan't open file\r\n");
  EXPECT_TRUE(FlashUntouched());
}

TEST_F(AgentRun, DialUpConnectionsAreHungUp) {
  Start5800();
  rig->handheld.rasConnections = {{0x51}, {0x52}};
  rig->handheld.files.erase(u"\\temp\\flash_usb.nb");
  Run(kUsbCommand);
  EXPECT_EQ(rig->handheld.hungUp, (std::vector<uint32_t>{0x51, 0x52}));

  Start5800();
  rig->handheld.rasConnections = {{0x51, 668}, {0x52}};
  EXPECT_EQ(CloseRasConnections(), 668u);  // the first failure ends the pass
  EXPECT_TRUE(rig->handheld.hungUp.empty());

  Start5800();
  rig->handheld.rasEnumError = 610;
  EXPECT_EQ(CloseRasConnections(), 610u);
  EXPECT_TRUE(Run(kUsbCommand));  // and the agent goes on
}

TEST_F(AgentRun, FailedInstallationStillResets) {
  soc::Board board = soc::Board5800();
  board.flash.manufacturer = 0x01;
  Start(board, u"5800");
  EXPECT_TRUE(Run(kUsbCommand));
  EXPECT_EQ(rig->soc.ResetCount(), 1);
  EXPECT_TRUE(FlashUntouched());
}

}  // namespace
