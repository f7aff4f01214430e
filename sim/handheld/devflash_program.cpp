#include "devflash_program.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "flash/flash_driver.h"
#include "handheld.h"
#include "link_watcher.h"
#include "loader/install.h"
#include "platform/hosted/hosted_handheld.h"
#include "sim/soc/arm_core.h"
#include "sim/soc/elf_image.h"
#include "violations.h"
#include "wire/rapi_protocol.h"
#include "sim/soc/soc.h"
#include "startup/agent_state.h"
#include "startup/hardware_map.h"
#include "startup/windows_phase.h"

namespace handheld {
namespace {

// The instance handle the agent is given; only passed back to LoadString.
void* const kAgentInstance = reinterpret_cast<void*>(0x10000);
constexpr int kLoaderKindUsb = 2;  // LoaderKindInFlash of a USB loader

// What the agent sees of the handheld, taken while the handheld is locked.
struct AgentSetup {
  std::string folder;
  soc::Board board;
  std::vector<std::uint8_t> flash;
  hosted::HostedHandheld os;
  std::u16string commandLine;
  AgentCpu cpu = AgentCpu::Arm;
  soc::ElfImage image;  // the takeover image (AgentCpu::Arm)
  std::uint64_t armInstructionLimit = 0;
  bool trace = false;
};

struct ConfigSlot {
  std::mutex lock;
  AgentConfig config;
};

ConfigSlot& Config() {
  static ConfigSlot slot;
  return slot;
}

const char* CpuName(AgentCpu cpu) { return cpu == AgentCpu::Arm ? "arm" : "host"; }

const char* EndName(AgentEnd end) {
  switch (end) {
    case AgentEnd::NotStarted: return "not-started";
    case AgentEnd::GaveUp: return "gave-up";
    case AgentEnd::Reset: return "reset";
    case AgentEnd::Hung: return "hung";
  }
  return "?";
}

constexpr const char* kAgentRunFile = "/agent.txt";

// The HAL's language name for the ROM's language code.
std::u16string HalLanguageName(const std::string& code) {
  static const std::pair<const char*, const char16_t*> kNames[] = {
      {"ENG", u"ENGLISH"},  {"FRE", u"FRENCH"},   {"GER", u"DEUTSCH"},
      {"ITA", u"ITALIAN"},  {"SPA", u"SPANISH"},  {"JPN", u"JAPANESE"},
      {"CHS", u"SIMPLE CHINESE"}, {"CHT", u"TRADITIONAL CHINESE"},
  };
  const std::string upper = LowerAscii(code);
  for (const auto& [c, name] : kNames)
    if (LowerAscii(c) == upper) return name;
  return u"ENGLISH";
}

// The chips behind a flash.bin of `bytes`: the model's chip count, the device
// code whose size matches, else the board's chip stretched to that size (a
// handheld created with another flash size still runs the agent).
bool FitFlash(soc::Board& board, std::size_t bytes, std::string& error) {
  const std::size_t chips = static_cast<std::size_t>(board.flash.chips);
  if (bytes < kMinimumRomSize || bytes % chips != 0) {
    error = "flash.bin has " + std::to_string(bytes) + " bytes, too few for the loader block";
    return false;
  }
  const std::size_t perChip = bytes / chips;
  for (std::uint16_t code : {0x16, 0x17, 0x18}) {
    if (soc::GeometryForDevice(code).chipBytes == perChip) {
      board.flash.deviceCode = code;
      return true;
    }
  }
  const std::uint32_t block = soc::GeometryForDevice(board.flash.deviceCode).blockBytes;
  if (perChip % block != 0 || perChip > 0xFFFFFFFFu) {
    error = "flash.bin is not a whole number of flash blocks";
    return false;
  }
  board.flash.chipBytes = static_cast<std::uint32_t>(perChip);
  return true;
}

// \Temp's entries as the agent's file search sees them.
void CopyTempFolder(Handheld& handheld, hosted::HostedHandheld& os) {
  std::vector<FindEntry> entries;
  if (handheld.Fs().Find(u"\\Temp\\*.*", entries) != 0) return;
  for (const FindEntry& entry : entries) {
    const std::u16string path = u"\\Temp\\" + Utf8ToUtf16(entry.name);
    hosted::HostedFile& file = os.files[path];
    file.attributes = entry.attributes;
    if (entry.attributes & kAttrDirectory) continue;
    // A file that cannot be read opens, as far as the agent can tell, never.
    file.openFails = !handheld.ReadDeviceFile(path, file.bytes);
  }
}

// The OEM information names the model; the agent looks for the number.
soc::Board BoardForModel(const std::string& modelId) {
  const bool model5300 = modelId.find("5300") != std::string::npos && modelId.find("5800") == std::string::npos;
  return model5300 ? soc::Board5300() : soc::Board5800();
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  bytes.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
}

bool PrepareAgent(Handheld& handheld, const std::u16string& commandLine, AgentSetup& setup, std::string& error) {
  setup.folder = handheld.Folder();
  setup.commandLine = commandLine;
  const AgentConfig config = CurrentAgentConfig();
  setup.cpu = config.cpu;
  setup.armInstructionLimit = config.armInstructionLimit;
  if (setup.cpu == AgentCpu::Arm) {
    const std::string path = config.takeoverImage.empty() ? DefaultTakeoverImage() : config.takeoverImage;
    if (std::string problem = soc::LoadElfImage(path, setup.image); !problem.empty()) {
      error = "the takeover image: " + problem;
      return false;
    }
  }
  RomIdentity identity;
  const bool known = handheld.Identity(identity);
  setup.board = BoardForModel(known ? identity.modelId : std::string());
  setup.os.oemInfo = u"Lumo Pocket PC " + Utf8ToUtf16(known ? identity.modelId : std::string());
  setup.os.halLanguage = HalLanguageName(known ? identity.language : std::string());
  std::copy(setup.board.halInfo.begin(), setup.board.halInfo.end(), setup.os.halInformation.begin());
  if (!ReadWholeFile(handheld.FlashPath(), setup.flash)) {
    error = "cannot read " + handheld.FlashPath();
    return false;
  }
  // A handheld made before sizes were checked: its flash would cover a device.
  error = soc::BoardProblem(setup.board, setup.flash.size());
  if (!error.empty()) return false;
  if (!FitFlash(setup.board, setup.flash.size(), error)) return false;
  CopyTempFolder(handheld, setup.os);
  return true;
}

// Whole file replaced at once: a reader sees the old flash or the new one.
bool WriteFlashFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::string temp = path + ".agent.tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// What the boot code does after the reset: a loader record naming a model
// starts the loader in the loader block; anything else boots Windows CE.
bool LoaderRecordPresent(const std::vector<std::uint8_t>& flash) {
  if (flash.size() < kLoaderRecordOffset + kLoaderRecordBytes) return false;
  const std::uint32_t model = LittleEndian32(flash, kLoaderRecordOffset + 4);
  return model == static_cast<std::uint32_t>(kModel5800) || model == static_cast<std::uint32_t>(kModel5300);
}

// The handheld after the agent's end: flash written back, mode changed.
void Restart(const AgentSetup& setup, const std::vector<std::uint8_t>& flash, AgentEnd end, DevflashRun& run) {
  if (!WriteFlashFile(setup.folder + "/flash.bin", flash)) {
    run.error = "cannot write flash.bin";
    std::cerr << "handheld-sim: Devflash.exe: " << run.error << "\n";
  }
  const bool loader = end == AgentEnd::Reset && LoaderRecordPresent(flash);
  // The boot code starts the loader the loader block's tag names; a block
  // without one starts nothing, whatever link the agent was told of.
  const int kind = loader ? LoaderKindInFlash(setup.folder + "/flash.bin") : 0;
  if (loader && kind == 0) {
    run.violations.push_back("the loader block names no loader (no tag): the handheld cannot start it");
    RecordViolation(setup.folder, "Devflash.exe: " + run.violations.back());
  }
  UpdateState(setup.folder, [&](HandheldState& s) {
    // The reset restarts the handheld: what ran under Windows CE has ended.
    if (end == AgentEnd::Reset) ++s.boots;
    if (end == AgentEnd::Hung || (loader && kind == 0)) {
      s.mode = Mode::Off;
    } else if (loader) {
      s.mode = Mode::Loader;
      s.usbLink = kind == kLoaderKindUsb;
    } else {
      s.mode = Mode::WinCE;
    }
  });
}

// The agent's state (Agent, FlashDriver) is process-wide.
std::mutex& AgentLock() {
  static std::mutex lock;
  return lock;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

void WriteAgentRun(const std::string& folder, const DevflashRun& run) {
  std::ofstream out(folder + kAgentRunFile, std::ios::trunc);
  out << "agent_cpu=" << CpuName(run.cpu) << "\nagent_end=" << EndName(run.end) << "\n";
  if (run.cpu == AgentCpu::Arm) out << "agent_arm_instructions=" << run.armInstructions << "\n";
  // Why the handheld hangs, one line (a reason never holds a line break).
  if (run.end == AgentEnd::Hung) out << "agent_hung=" << OneLine(run.error) << "\n";
  for (const auto& [device, count] : run.busAccesses) out << "agent_bus_" << device << "=" << count << "\n";
  out << "agent_violations=" << run.violations.size() << "\n";
  for (const std::string& v : run.violations) out << "agent_violation=" << v << "\n";
}

void CollectBus(const soc::Soc& soc, DevflashRun& run) {
  for (int d = 0; d < soc::kBusDeviceCount; ++d)
    if (soc.Stats().perDevice[d] != 0)
      run.busAccesses.push_back({soc::BusDeviceName(static_cast<soc::BusDevice>(d)), soc.Stats().perDevice[d]});
  for (const soc::BusEvent& e : soc.Trace())
    if (e.device != soc::BusDevice::Ram)
      run.trace.push_back({e.write, e.bytes, e.address, e.value, soc::BusDeviceName(e.device)});
}

DevflashRun RunAgent(AgentSetup& setup) {
  std::lock_guard<std::mutex> one(AgentLock());
  DevflashRun run;
  run.cpu = setup.cpu;
  soc::Soc soc(setup.board);
  soc.Flash().Load(setup.flash);
  std::vector<std::uint8_t>().swap(setup.flash);  // the Soc holds the flash now
  soc.EnableTrace(setup.trace);
  if (setup.cpu == AgentCpu::Arm) {
    setup.os.takeover = [&soc, &setup, &run](std::int32_t modelCode, std::uint32_t loaderBuffer) {
      soc::ArmStart start;
      start.r0 = static_cast<std::uint32_t>(modelCode);
      start.r1 = loaderBuffer;
      if (setup.armInstructionLimit != 0) start.instructionLimit = setup.armInstructionLimit;
      const soc::ArmRun arm = soc::RunArmImage(soc, setup.image, start);
      run.armInstructions = arm.instructions;
      if (arm.end == soc::ArmEnd::Reset) throw soc::DeviceReset();
      throw soc::BusFault("the takeover on the ARM core: " + arm.error);
    };
  }
  {
    soc::ScopedBus bus(soc);
    hosted::ScopedServices services(setup.os);
    ResetAgentState();
    ResetFlashDriver();
    try {
      DevflashMain(kAgentInstance, setup.commandLine.c_str());
      run.end = AgentEnd::GaveUp;
    } catch (const soc::DeviceReset&) {
      run.end = AgentEnd::Reset;
    } catch (const soc::BusFault& fault) {
      run.end = AgentEnd::Hung;
      run.error = fault.what();
      std::cerr << "handheld-sim: Devflash.exe hung the handheld: " << fault.what() << "\n";
    }
  }
  run.debugPort = soc.DebugText();
  run.systemDebug = hosted::DebugText(setup.os);
  run.violations = setup.os.violations;
  for (const std::string& v : soc.Violations()) run.violations.push_back(v);
  for (const std::string& v : run.violations) RecordViolation(setup.folder, "Devflash.exe: " + v);
  CollectBus(soc, run);
  if (run.end != AgentEnd::GaveUp) Restart(setup, soc.Flash().Contents(), run.end, run);
  WriteAgentRun(setup.folder, run);
  return run;
}

// Agents started by StartDevflash and not yet ended.
struct Running {
  std::mutex lock;
  std::condition_variable ended;
  int count = 0;
};

Running& RunningAgents() {
  static Running running;
  return running;
}

}  // namespace

void RegisterDevflashProgram() { RegisterProgram("Devflash.exe", StartDevflash); }

std::uint32_t StartDevflash(const ProgramStart& start) {
  auto setup = std::make_unique<AgentSetup>();
  std::string error;
  if (!PrepareAgent(start.handheld, start.commandLine, *setup, error)) {
    std::cerr << "handheld-sim: Devflash.exe does not start: " << error << "\n";
    return RAPI_ERROR_BAD_EXE_FORMAT;
  }
  Running& running = RunningAgents();
  {
    std::lock_guard<std::mutex> guard(running.lock);
    ++running.count;
  }
  // The thread owns its snapshot and reaches the handheld only through its
  // folder (flash.bin replaced whole, state.txt by UpdateState), so it may
  // outlive the Handheld object of a daemon that stops meanwhile.
  std::thread([setup = std::move(setup)] {
    RunAgent(*setup);
    Running& r = RunningAgents();
    std::lock_guard<std::mutex> guard(r.lock);
    --r.count;
    r.ended.notify_all();
  }).detach();
  return 0;
}

std::string FlashBoardProblem(const std::string& modelId, std::uint64_t flashBytes) {
  return soc::BoardProblem(BoardForModel(modelId), flashBytes);
}

void ConfigureAgent(const AgentConfig& config) {
  std::lock_guard<std::mutex> guard(Config().lock);
  Config().config = config;
}

AgentConfig CurrentAgentConfig() {
  std::lock_guard<std::mutex> guard(Config().lock);
  return Config().config;
}

std::string LastAgentRunText(const std::string& folder) {
  std::ifstream in(folder + kAgentRunFile);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

DevflashRun RunDevflash(Handheld& handheld, const std::u16string& commandLine, bool trace) {
  AgentSetup setup;
  setup.trace = trace;
  DevflashRun run;
  {
    std::lock_guard<std::mutex> guard(handheld.Lock());
    if (!PrepareAgent(handheld, commandLine, setup, run.error)) return run;
  }
  return RunAgent(setup);
}

void WaitForDevflash() {
  Running& running = RunningAgents();
  std::unique_lock<std::mutex> guard(running.lock);
  running.ended.wait(guard, [&] { return running.count == 0; });
}

}  // namespace handheld
