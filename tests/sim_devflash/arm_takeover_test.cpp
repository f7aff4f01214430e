// The takeover as StrongARM machine code: the image the `arm` preset builds,
// run on the emulated SA-1110 against the same simulated SoC as the x86
// build. Both must leave the same flash and make the same bus writes in the
// same order; a damaged image must never pass for an installed loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "devflash_program.h"
#include "sim/soc/elf_image.h"
#include "distribution.h"
#include "handheld.h"
#include "link_watcher.h"
#include "sim_test_support.h"
#include "violations.h"

namespace {

using handheld::AgentBusEvent;
using handheld::AgentCpu;
using handheld::AgentEnd;
using handheld::Mode;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoaderOffset = 0x40000;
constexpr std::uint32_t kLoaderBytes = 0x10000;
constexpr std::uint32_t kRecordOffset = 0x60000;
constexpr std::uint32_t kFlashWindow = 0xA0000000;
constexpr std::uint32_t kReadIdentifier = 0x90;
const std::u16string kUsbCommand = {2, u' ', u'U'};
const std::u16string kSerialCommand = {1, u' ', u'U'};
const char* const kFlashProgramRange = "_Z17FlashProgramRangemmPKv";

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// File offset of the code of function `symbol` in a 32-bit ARM ELF file
// (its symbol table and program headers); 0 when not found.
std::size_t FunctionFileOffset(const Bytes& elf, const std::string& symbol) {
  std::uint32_t address = 0;
  if (!soc::FindElfSymbol(elf, symbol, address)) return 0;
  address &= ~1u;
  // The program header whose segment holds the address.
  const std::uint32_t programTable = U32(elf, 28);
  const std::uint16_t programs = elf[44] | (elf[45] << 8);
  for (std::uint16_t p = 0; p < programs; ++p) {
    const std::size_t ph = programTable + std::size_t{p} * 32;
    const std::uint32_t vaddr = U32(elf, ph + 8), fileBytes = U32(elf, ph + 16);
    if (address >= vaddr && address < vaddr + fileBytes) return U32(elf, ph + 4) + (address - vaddr);
  }
  return 0;
}

// The image with function `symbol`'s first instructions replaced, written
// beside the test's handheld.
std::string PatchedImage(const std::string& path, const std::string& symbol, std::initializer_list<std::uint32_t> code) {
  Bytes elf = simtest::ReadHostFile(handheld::DefaultTakeoverImage());
  std::size_t at = FunctionFileOffset(elf, symbol);
  if (at == 0) return {};
  for (std::uint32_t instruction : code) {
    PutU32(elf, at, instruction);
    at += 4;
  }
  WriteFile(path, elf);
  return path;
}

class ArmTakeover : public ::testing::Test {
 protected:
  void TearDown() override { handheld::ConfigureAgent({}); }

  // A handheld of `model` with the distribution's loader files in \Temp.
  void MakeHandheld(int model, std::uint32_t flashMb) {
    handheld::CreateOptions options = simtest::DefaultHandheld();
    options.identity.modelId = handheld::ModelIdForModel(model);
    options.flashMb = flashMb;
    const std::string root = folder.Path() + "/" + std::to_string(model);
    simtest::MakeHandheld(root + "/hh", options);
    hh = std::make_unique<handheld::Handheld>(root + "/hh");
    before = simtest::ReadHostFile(hh->FlashPath());

    handheld::DistributionOptions dist;
    dist.identity = options.identity;
    dist.sizeMb = 1;
    ASSERT_EQ(handheld::WriteDistribution(root + "/dist", dist), "");
    const std::string language = root + "/dist/English/";
    usbLoader = simtest::ReadHostFile(language + "flash_usb.nb");
    serialLoader = simtest::ReadHostFile(language + "flash_serial.nb");
    ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\Devflash.exe", simtest::ReadHostFile(language + "Devflash.exe")));
    ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\flash_usb.nb", usbLoader));
    ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\flash_serial.nb", serialLoader));
  }

  // The agent on `cpu`, from the handheld as MakeHandheld left it.
  handheld::DevflashRun Run(AgentCpu cpu, const std::u16string& command, const std::string& image = "",
                            std::uint64_t instructionLimit = 0) {
    WriteFile(hh->FlashPath(), before);
    hh->ChangeState([](handheld::HandheldState& s) { s.mode = Mode::WinCE; });
    handheld::ConfigureAgent({cpu, image, instructionLimit});
    return handheld::RunDevflash(*hh, command, /*trace=*/true);
  }

  simtest::ScratchFolder folder;
  std::unique_ptr<handheld::Handheld> hh;
  Bytes before, usbLoader, serialLoader;
};

std::vector<AgentBusEvent> Writes(const std::vector<AgentBusEvent>& trace) {
  std::vector<AgentBusEvent> writes;
  std::copy_if(trace.begin(), trace.end(), std::back_inserter(writes), [](const AgentBusEvent& e) { return e.write; });
  return writes;
}

// Reads with repeats of the same read folded: status polls may differ in
// number, nothing else may.
std::vector<AgentBusEvent> ReadsWithoutRepeats(const std::vector<AgentBusEvent>& trace) {
  std::vector<AgentBusEvent> reads;
  for (const AgentBusEvent& e : trace) {
    if (e.write) continue;
    if (!reads.empty() && reads.back().address == e.address && reads.back().value == e.value) continue;
    reads.push_back(e);
  }
  return reads;
}

std::string Describe(const AgentBusEvent& e) {
  char text[80];
  std::snprintf(text, sizeof text, "%s %s%u 0x%08X = 0x%08X", e.device.c_str(), e.write ? "W" : "R",
                8u * e.bytes, e.address, e.value);
  return text;
}

void ExpectSameEvents(const std::vector<AgentBusEvent>& arm, const std::vector<AgentBusEvent>& host) {
  ASSERT_EQ(arm.size(), host.size());
  for (std::size_t i = 0; i < arm.size(); ++i)
    ASSERT_EQ(Describe(arm[i]), Describe(host[i])) << "access " << i;
}

std::ptrdiff_t First(const std::vector<AgentBusEvent>& trace, bool (*match)(const AgentBusEvent&)) {
  const auto it = std::find_if(trace.begin(), trace.end(), match);
  return it == trace.end() ? -1 : it - trace.begin();
}

std::ptrdiff_t Last(const std::vector<AgentBusEvent>& trace, bool (*match)(const AgentBusEvent&)) {
  const auto it = std::find_if(trace.rbegin(), trace.rend(), match);
  return it == trace.rend() ? -1 : trace.rend() - it - 1;
}

bool FlashAt(const AgentBusEvent& e, std::uint32_t from, std::uint32_t to) {
  return e.write && e.device == "flash" && e.address - kFlashWindow >= from && e.address - kFlashWindow < to;
}

// Interrupts off before the memory controller is touched, the serial port set
// up before the flash is identified, the record written after the loader, and
// the reset last.
void ExpectTakeoverOrder(const std::vector<AgentBusEvent>& trace) {
  const auto interruptsOff = First(trace, [](const AgentBusEvent& e) { return e.device == "interrupts" && e.write; });
  const auto memory = First(trace, [](const AgentBusEvent& e) { return e.device == "memory"; });
  const auto serialDone = Last(trace, [](const AgentBusEvent& e) { return e.device == "uart" && e.write; });
  const auto identify = First(trace, [](const AgentBusEvent& e) {
    return e.write && e.device == "flash" && (e.value & 0xFF) == kReadIdentifier;
  });
  const auto lastLoaderWord =
      Last(trace, [](const AgentBusEvent& e) { return FlashAt(e, kLoaderOffset, kLoaderOffset + kLoaderBytes); });
  // The erase of the record's block may come before the loader; the
  // record's own words come after it.
  const auto lastRecordWord =
      Last(trace, [](const AgentBusEvent& e) { return FlashAt(e, kRecordOffset, kRecordOffset + 8); });
  const auto reset = First(trace, [](const AgentBusEvent& e) { return e.device == "reset" && e.write; });
  ASSERT_GE(interruptsOff, 0);
  EXPECT_LT(interruptsOff, memory);
  EXPECT_LT(memory, serialDone);
  EXPECT_LT(serialDone, identify);
  EXPECT_LT(identify, lastLoaderWord);
  EXPECT_LT(lastLoaderWord, lastRecordWord);
  EXPECT_EQ(reset, static_cast<std::ptrdiff_t>(trace.size()) - 1) << "the reset is the last access";
}

TEST_F(ArmTakeover, ArmAndHostLeaveTheSameFlashAndWrites) {
  struct Case {
    int model;
    std::uint32_t flashMb;
    std::u16string command;
    Bytes record;
  };
  const Case cases[] = {
      {5800, 32, kUsbCommand, {0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00}},
      {5300, 16, kSerialCommand, {0x00, 0x00, 0x0C, 0xAC, 0x20, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model));
    MakeHandheld(c.model, c.flashMb);
    const handheld::DevflashRun arm = Run(AgentCpu::Arm, c.command);
    ASSERT_EQ(arm.end, AgentEnd::Reset) << arm.error << arm.debugPort;
    const Bytes armFlash = simtest::ReadHostFile(hh->FlashPath());
    EXPECT_EQ(hh->State().mode, Mode::Loader);
    const handheld::DevflashRun host = Run(AgentCpu::Host, c.command);
    ASSERT_EQ(host.end, AgentEnd::Reset) << host.error << host.debugPort;
    const Bytes hostFlash = simtest::ReadHostFile(hh->FlashPath());

    EXPECT_GT(arm.armInstructions, 100000u);  // the whole installation, not a stub
    EXPECT_EQ(host.armInstructions, 0u);
    EXPECT_TRUE(armFlash == hostFlash) << "flash.bin differs";
    const Bytes& loader = c.command == kUsbCommand ? usbLoader : serialLoader;
    EXPECT_TRUE(std::equal(loader.begin(), loader.begin() + kLoaderBytes, armFlash.begin() + kLoaderOffset));
    EXPECT_EQ(Bytes(armFlash.begin() + kRecordOffset, armFlash.begin() + kRecordOffset + 8), c.record);
    EXPECT_EQ(arm.debugPort, host.debugPort);
    EXPECT_EQ(arm.violations, std::vector<std::string>{});
    EXPECT_EQ(host.violations, std::vector<std::string>{});
    EXPECT_EQ(handheld::LoadViolations(hh->Folder()), std::vector<std::string>{});

    ExpectSameEvents(Writes(arm.trace), Writes(host.trace));
    ExpectSameEvents(ReadsWithoutRepeats(arm.trace), ReadsWithoutRepeats(host.trace));
    {
      SCOPED_TRACE("ARM");
      ExpectTakeoverOrder(arm.trace);
    }
    {
      SCOPED_TRACE("host");
      ExpectTakeoverOrder(host.trace);
    }
  }
}

// The image's flash programming returns at once with success: the loader
// area is erased, nothing is written, and the handheld comes back in
// Windows CE instead of in a loader.
TEST_F(ArmTakeover, ImageWhoseProgrammingReturnsEarlyLeavesNoLoader) {
  MakeHandheld(5800, 16);
  constexpr std::uint32_t kMovR0Zero = 0xE3A00000, kMovPcLr = 0xE1A0F00E;
  const std::string patched =
      PatchedImage(folder.Path() + "/early-return.elf", kFlashProgramRange, {kMovR0Zero, kMovPcLr});
  ASSERT_NE(patched, "");

  const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand, patched);
  EXPECT_EQ(run.end, AgentEnd::Reset) << run.error;
  const Bytes flash = simtest::ReadHostFile(hh->FlashPath());
  EXPECT_EQ(Bytes(flash.begin() + kRecordOffset, flash.begin() + kRecordOffset + 8), Bytes(8, 0xFF));
  EXPECT_FALSE(std::equal(usbLoader.begin(), usbLoader.begin() + kLoaderBytes, flash.begin() + kLoaderOffset));
  EXPECT_EQ(hh->State().mode, Mode::WinCE);
  EXPECT_EQ(handheld::LoaderKindInFlash(hh->FlashPath()), 0);
}

// A programming routine that pushes for ever: the run stops at the stack's
// end, and nothing passes for an installed loader.
TEST_F(ArmTakeover, StackOverflowStopsTheRun) {
  MakeHandheld(5800, 16);
  constexpr std::uint32_t kPushAll = 0xE92D5FFF;     // stmfd sp!, {r0-r12, lr}
  constexpr std::uint32_t kBranchBack = 0xEAFFFFFD;  // b to the push
  const std::string patched =
      PatchedImage(folder.Path() + "/deep-stack.elf", kFlashProgramRange, {kPushAll, kBranchBack});
  ASSERT_NE(patched, "");
  const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand, patched);
  EXPECT_EQ(run.end, AgentEnd::Hung);
  EXPECT_NE(run.error.find("stack overflow"), std::string::npos) << run.error;
  EXPECT_NE(hh->State().mode, Mode::Loader);
  EXPECT_EQ(handheld::LoaderKindInFlash(hh->FlashPath()), 0);
}

// What the SA-1110 cannot run, and code that never ends: each leaves a hung
// handheld (off until the user resets it) whose status names the reason.
TEST_F(ArmTakeover, CodeTheSa1110CannotRunHangsTheHandheldWithItsReason) {
  MakeHandheld(5800, 16);
  constexpr std::uint32_t kBxLr = 0xE12FFF1E;        // bx lr: ARMv4T
  constexpr std::uint32_t kClz = 0xE16F0F11;         // clz r0, r1: ARMv5
  constexpr std::uint32_t kAddR0PcOdd = 0xE28F0001;  // add r0, pc, #1: a Thumb address
  constexpr std::uint32_t kBxR0 = 0xE12FFF10;        // bx r0: into Thumb state
  constexpr std::uint32_t kBranchSelf = 0xEAFFFFFE;  // b .
  constexpr std::uint32_t kPushAll = 0xE92D5FFF;     // stmfd sp!, {r0-r12, lr}
  constexpr std::uint32_t kBranchBack = 0xEAFFFFFD;  // b to the push
  // Far more than the installation up to the programming needs, far less
  // than the core's own limit: the loop ends here.
  constexpr std::uint64_t kLoopLimit = 5'000'000;
  struct Case {
    const char* name;
    std::initializer_list<std::uint32_t> code;
    const char* reason;
  };
  const Case cases[] = {
      {"bx", {kBxLr}, "undefined instruction 0xE12FFF1E"},
      {"clz", {kClz}, "undefined instruction 0xE16F0F11"},
      {"thumb", {kAddR0PcOdd, kBxR0}, "undefined instruction 0xE12FFF10"},
      {"loop", {kBranchSelf}, "no reset after 5000000 ARM instructions"},
      {"stack", {kPushAll, kBranchBack}, "stack overflow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string patched =
        PatchedImage(folder.Path() + "/" + c.name + ".elf", kFlashProgramRange, c.code);
    ASSERT_NE(patched, "");
    const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand, patched, kLoopLimit);
    EXPECT_EQ(run.end, AgentEnd::Hung) << run.error;
    EXPECT_EQ(hh->State().mode, Mode::Off);
    const std::string status = handheld::LastAgentRunText(hh->Folder());
    EXPECT_NE(status.find("agent_end=hung\n"), std::string::npos) << status;
    const std::size_t reason = status.find("agent_hung=");
    ASSERT_NE(reason, std::string::npos) << status;
    EXPECT_NE(status.find(c.reason, reason), std::string::npos) << status;
  }
}

// A device access the bus refuses (a byte write to a word register) in the
// middle of a block of code: the run ends at that access, and the flash
// commands after it in the same block never reach the chips.
TEST_F(ArmTakeover, AccessFaultStopsTheCoreAtTheAccess) {
  MakeHandheld(5800, 16);
  const std::string patched = PatchedImage(folder.Path() + "/fault.elf", kFlashProgramRange,
                                           {
                                               0xE3A054AA,  // mov r5, #0xAA000000 (memory controller)
                                               0xE5C55000,  // strb r5, [r5]: refused
                                               0xE3A044A0,  // mov r4, #0xA0000000 (flash)
                                               0xE3844701,  // orr r4, r4, #0x40000
                                               0xE3A06020,  // mov r6, #0x20: block erase
                                               0xE5846000,  // str r6, [r4]
                                               0xE3A060D0,  // mov r6, #0xD0: confirm
                                               0xE5846000,  // str r6, [r4]
                                               0xEAFFFFFE,  // b .
                                           });
  ASSERT_NE(patched, "");
  const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand, patched);
  EXPECT_EQ(run.end, AgentEnd::Hung) << run.error;
  EXPECT_NE(run.error.find("needs a 32-bit access"), std::string::npos) << run.error;
  ASSERT_FALSE(run.trace.empty());
  const AgentBusEvent& last = run.trace.back();
  EXPECT_EQ(Describe(last), "memory W8 0xAA000000 = 0x00000000") << "no access after the refused one";
}

// A loader file without its tag: the boot code finds no loader to start,
// whatever link the agent was told of; the handheld says so and stays off.
TEST_F(ArmTakeover, LoaderBlockWithoutTagStartsNoLoader) {
  MakeHandheld(5800, 16);
  ASSERT_TRUE(hh->WriteDeviceFile(u"\\Temp\\flash_usb.nb", Bytes(kLoaderBytes, 0x00)));
  const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand);
  EXPECT_EQ(run.end, AgentEnd::Reset) << run.error;
  EXPECT_EQ(hh->State().mode, Mode::Off);
  const std::vector<std::string> violations = handheld::LoadViolations(hh->Folder());
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_NE(violations[0].find("names no loader"), std::string::npos) << violations[0];
}

// No image, or a file that is no ARM image: Devflash.exe does not start.
TEST_F(ArmTakeover, UnusableImageDoesNotStart) {
  MakeHandheld(5800, 16);
  const std::string notElf = folder.Path() + "/not.elf";
  WriteFile(notElf, Bytes(64, 0x7F));
  for (const std::string& image : {folder.Path() + "/missing.elf", notElf}) {
    SCOPED_TRACE(image);
    const handheld::DevflashRun run = Run(AgentCpu::Arm, kUsbCommand, image);
    EXPECT_EQ(run.end, AgentEnd::NotStarted);
    EXPECT_NE(run.error.find("takeover image"), std::string::npos) << run.error;
    EXPECT_EQ(simtest::ReadHostFile(hh->FlashPath()), before);
  }
}

}  // namespace
