// Devflash.exe on a simulated handheld: the real agent writes the loader file
// of \Temp and the loader record into flash.bin and restarts the handheld
// into its loader, or gives up and leaves everything as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devflash_program.h"
#include "distribution.h"
#include "handheld.h"
#include "link_watcher.h"
#include "wire/rapi_protocol.h"
#include "sim_test_support.h"

namespace {

using handheld::AgentEnd;
using handheld::Mode;

constexpr std::uint32_t kLoaderOffset = 0x40000;
constexpr std::uint32_t kLoaderBytes = 0x10000;
constexpr std::uint32_t kRecordOffset = 0x60000;
constexpr std::uint32_t kLoaderBlockEnd = 0x80000;  // the identity block follows
const std::u16string kUsbCommand = {2, u' ', u'U'};
const std::u16string kSerialCommand = {1, u' ', u'U'};

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

Bytes Slice(const Bytes& bytes, std::uint32_t offset, std::uint32_t length) {
  return Bytes(bytes.begin() + offset, bytes.begin() + offset + length);
}

class DevflashProgram : public ::testing::Test {
 protected:
  // A handheld of `model` with `flashMb` of flash whose loader block holds a
  // pattern (so that the test sees which bytes the agent erased), and the
  // distribution's loader files and agent in \Temp.
  void MakeHandheld(int model, std::uint32_t flashMb, bool loaderFiles = true,
                    const std::string& modelId = "") {
    handheld::CreateOptions options = simtest::DefaultHandheld();
    options.identity.modelId = modelId.empty() ? handheld::ModelIdForModel(model) : modelId;
    options.flashMb = flashMb;
    simtest::MakeHandheld(folder->Path() + "/hh", options);
    hh = std::make_unique<handheld::Handheld>(folder->Path() + "/hh");

    Bytes flash = ReadFile(hh->FlashPath());
    for (std::uint32_t i = kLoaderOffset; i < kLoaderBlockEnd; ++i) flash[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::ofstream(hh->FlashPath(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    before = flash;

    handheld::DistributionOptions dist;
    dist.identity = options.identity;
    dist.identity.version = "1.41.00";
    dist.sizeMb = 1;
    ASSERT_EQ(handheld::WriteDistribution(folder->Path() + "/dist", dist), "");
    const std::string language = folder->Path() + "/dist/English/";
    usbLoader = simtest::ReadHostFile(language + "flash_usb.nb");
    serialLoader = simtest::ReadHostFile(language + "flash_serial.nb");
    ASSERT_GE(usbLoader.size(), kLoaderBytes);
    ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\Devflash.exe", simtest::ReadHostFile(language + "Devflash.exe")));
    if (loaderFiles) {
      ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\flash_usb.nb", usbLoader));
      ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\flash_serial.nb", serialLoader));
    }
  }

  Bytes Flash() const { return ReadFile(hh->FlashPath()); }

  // Every byte outside [from, to) is as before.
  void ExpectUnchangedOutside(const Bytes& flash, std::uint32_t from, std::uint32_t to) const {
    ASSERT_EQ(flash.size(), before.size());
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + from, before.begin()));
    EXPECT_TRUE(std::equal(flash.begin() + to, flash.end(), before.begin() + to));
  }

  void ExpectInstalled(const Bytes& flash, const Bytes& loader, const Bytes& record) const {
    EXPECT_EQ(Slice(flash, kLoaderOffset, kLoaderBytes), Slice(loader, 0, kLoaderBytes));
    EXPECT_EQ(Slice(flash, kRecordOffset, 8), record);
  }

  std::unique_ptr<simtest::ScratchFolder> folder = std::make_unique<simtest::ScratchFolder>();
  std::unique_ptr<handheld::Handheld> hh;
  Bytes before, usbLoader, serialLoader;
};

// Started as romwiz starts it: CeCreateProcess returns at once, the agent
// runs on and resets the handheld into the USB loader.
TEST_F(DevflashProgram, UsbUpgradeOn5800StartsTheUsbLoader) {
  MakeHandheld(5800, 16);
  handheld::RegisterDevflashProgram();
  handheld::Session session;
  handheld::ProcessIds ids;
  {
    std::lock_guard<std::mutex> guard(hh->Lock());
    ASSERT_EQ(hh->CreateProcess(session, u"\\Temp\\Devflash.exe", kUsbCommand, ids), 0u);
  }
  handheld::WaitForDevflash();
  hh->EndSession(session);

  const Bytes flash = Flash();
  ExpectInstalled(flash, usbLoader, {0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00});
  // Two chips with 128 KiB blocks: one 256 KiB unit block holds both.
  ExpectUnchangedOutside(flash, kLoaderOffset, kLoaderBlockEnd);
  EXPECT_EQ(Slice(flash, kLoaderOffset + kLoaderBytes, 0x10000), Bytes(0x10000, 0xFF));
  EXPECT_EQ(Slice(flash, kRecordOffset + 8, 0x100), Bytes(0x100, 0xFF));
  EXPECT_EQ(hh->State().mode, Mode::Loader);
  EXPECT_EQ(handheld::LoaderKindInFlash(hh->FlashPath()), 2);
  EXPECT_TRUE(hh->State().usbLink);
}

TEST_F(DevflashProgram, SerialUpgradeOn5300StartsTheSerialLoader) {
  MakeHandheld(5300, 8);
  const handheld::DevflashRun run = handheld::RunDevflash(*hh, kSerialCommand);
  ASSERT_EQ(run.end, AgentEnd::Reset) << run.error << run.debugPort;
  EXPECT_NE(run.debugPort.find("Get ABX OK!!"), std::string::npos) << run.debugPort;

  const Bytes flash = Flash();
  // The 5300's loader buffer: HAL word 3 (0x0C0C0000) in the kernel's window.
  ExpectInstalled(flash, serialLoader, {0x00, 0x00, 0x0C, 0xAC, 0x20, 0x00, 0x00, 0x00});
  // One chip with 128 KiB blocks: the unit blocks at 0x40000 and 0x60000.
  ExpectUnchangedOutside(flash, kLoaderOffset, kLoaderBlockEnd);
  EXPECT_EQ(Slice(flash, kLoaderOffset + kLoaderBytes, 0x10000), Bytes(0x10000, 0xFF));
  EXPECT_EQ(hh->State().mode, Mode::Loader);
  EXPECT_EQ(handheld::LoaderKindInFlash(hh->FlashPath()), 1);
  EXPECT_FALSE(hh->State().usbLink);
}

// 8 MiB on two chips: 4 MiB chips with 32 KiB blocks, so the agent erases two
// 64 KiB unit blocks and the 64 KiB between them keeps its contents.
TEST_F(DevflashProgram, SmallBlocksEraseOnlyTheTwoUnitBlocks) {
  MakeHandheld(5800, 8);
  ASSERT_EQ(handheld::RunDevflash(*hh, kUsbCommand).end, AgentEnd::Reset);
  const Bytes flash = Flash();
  ExpectInstalled(flash, usbLoader, {0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00});
  ExpectUnchangedOutside(flash, kLoaderOffset, kLoaderBlockEnd);
  EXPECT_EQ(Slice(flash, 0x50000, 0x10000), Slice(before, 0x50000, 0x10000));
  EXPECT_EQ(Slice(flash, 0x70000, 0x10000), Slice(before, 0x70000, 0x10000));
  EXPECT_EQ(Slice(flash, kRecordOffset + 8, 0x100), Bytes(0x100, 0xFF));
}

// The agent gives up before the takeover: Windows CE runs on, flash untouched.
TEST_F(DevflashProgram, GivingUpLeavesTheHandheldInWindowsCe) {
  struct Case {
    const char* what;
    int model;
    std::string modelId;
    bool loaderFiles;
    std::u16string command;
    bool onDebugPort;  // else on the system debug output
    const char* debug;
  };
  const Case cases[] = {
      {"no loader file", 5800, "", false, kUsbCommand, true, "Can't open file"},
      {"no loader file on a 5300", 5300, "", false, kSerialCommand, true, "Can't open file"},
      {"no model number in the OEM information", 5800, "LUMO-9999", true, kUsbCommand, false,
       "PhysicalToVirtual Fail!"},
      {"no U in the command line", 5800, "", true, {2, u' ', u'X'}, false, "No Argument"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    folder = std::make_unique<simtest::ScratchFolder>();
    MakeHandheld(c.model, 8, c.loaderFiles, c.modelId);
    const handheld::DevflashRun run = handheld::RunDevflash(*hh, c.command);
    EXPECT_EQ(run.end, AgentEnd::GaveUp);
    const std::string& debug = c.onDebugPort ? run.debugPort : run.systemDebug;
    EXPECT_NE(debug.find(c.debug), std::string::npos) << debug;
    EXPECT_EQ(Flash(), before);
    EXPECT_EQ(hh->State().mode, Mode::WinCE);
  }
}

// A flash.bin the simulated chips cannot hold: the program does not start.
TEST_F(DevflashProgram, UnusableFlashDoesNotStart) {
  MakeHandheld(5800, 16);
  std::ofstream(hh->FlashPath(), std::ios::binary | std::ios::trunc).write("\xFF", 1);
  handheld::Session session;
  handheld::ProcessIds ids;
  handheld::RegisterDevflashProgram();
  std::lock_guard<std::mutex> guard(hh->Lock());
  EXPECT_EQ(hh->CreateProcess(session, u"\\Temp\\Devflash.exe", kUsbCommand, ids), RAPI_ERROR_BAD_EXE_FORMAT);
  hh->EndSession(session);
  EXPECT_EQ(hh->State().mode, Mode::WinCE);
}

}  // namespace
