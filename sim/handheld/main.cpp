// handheld-sim: a simulated Lumo handheld on a state folder.
//
//   handheld-sim create DIR [--model 5800|5300] [--model-id ID] [--language ENG]
//                           [--version 1.14.00] [--flash-mb 32] [--rom-mb 2]
//                           [--modules A.dll,B.dll] [--replace]
//   handheld-sim distribution OUTDIR [same identity options] [--size-mb 2]
//                           [--modules ...] [--omit image|module.dat|FILE]... [--corrupt-image]
//   handheld-sim serve DIR [--port N] [--pidfile F] [--dosdevices DIR] [--daemon]
//                          [--takeover FILE] [--agent-cpu arm|host]
//   handheld-sim stop DIR [--pidfile F]
//   handheld-sim power DIR on|battery [--percent N]
//   handheld-sim mode DIR wince|loader|bootloader|off [--link serial|usb]
//   handheld-sim reset DIR [--bootloader]   (a normal reset, or one with the joypad held)
//   handheld-sim fault DIR fail-call CeName | no-start Program.exe | probe-silent
//                          | no-answer | init-fails | link-silent-bytes N
//                          | link-silent-messages N | link-noise N | link-drop N
//                          | hold-at-piece K | backup-stall N | backup-short N
//                          | backup-slow N SECONDS | clear [fault]
//   handheld-sim flash DIR IMAGE.nbf      (writes the image's payload into flash.bin)
//   handheld-sim status DIR
//   handheld-sim --help | --version
// An unknown command or option, or a missing or extra argument, is refused
// (exit 2) before anything is created or changed.
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "daemon.h"
#include "devflash_program.h"
#include "distribution.h"
#include "handheld.h"
#include "link_watcher.h"
#include "rapi_service.h"
#include "violations.h"
#include "sim/soc/elf_image.h"

namespace {

using namespace handheld;

struct Args {
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> options;  // "--name" -> value ("" for flags)

  std::string Get(const std::string& name, const std::string& fallback = {}) const {
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
  bool Has(const std::string& name) const { return options.count(name) != 0; }
};

// What each command takes: options with a value, flags, and how many
// positional arguments.
struct CommandSyntax {
  std::set<std::string> options;
  std::set<std::string> flags;
  std::size_t minPositional;
  std::size_t maxPositional;
};

const std::map<std::string, CommandSyntax>& Commands() {
  static const std::map<std::string, CommandSyntax> table = {
      {"create", {{"--model", "--model-id", "--language", "--version", "--flash-mb", "--rom-mb", "--modules"},
                  {"--replace"}, 1, 1}},
      {"distribution", {{"--model", "--model-id", "--language", "--version", "--size-mb", "--modules", "--omit"},
                        {"--corrupt-image"}, 1, 1}},
      {"serve", {{"--port", "--pidfile", "--dosdevices", "--takeover", "--agent-cpu"}, {"--daemon"}, 1, 1}},
      {"stop", {{"--pidfile"}, {}, 1, 1}},
      {"power", {{"--percent"}, {}, 2, 2}},
      {"mode", {{"--link"}, {}, 2, 2}},
      {"reset", {{}, {"--bootloader"}, 1, 1}},
      {"fault", {{}, {}, 2, 4}},
      {"flash", {{}, {}, 2, 2}},
      {"status", {{}, {}, 1, 1}},
  };
  return table;
}

bool Parse(int argc, char** argv, const std::string& command, const CommandSyntax& syntax, Args& args) {
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      args.positional.push_back(word);
    } else if (syntax.flags.count(word)) {
      args.options.emplace(word, "");
    } else if (!syntax.options.count(word)) {
      std::cerr << "handheld-sim: " << command << " has no option " << word << "\n";
      return false;
    } else if (i + 1 < argc) {
      args.options.emplace(word, argv[++i]);
    } else {
      std::cerr << "handheld-sim: " << word << " needs a value\n";
      return false;
    }
  }
  if (args.positional.size() < syntax.minPositional || args.positional.size() > syntax.maxPositional) {
    std::cerr << "handheld-sim: " << command << " takes " << syntax.minPositional
              << (syntax.maxPositional > syntax.minPositional ? " or more" : "")
              << " argument" << (syntax.maxPositional > 1 ? "s" : "") << " besides its options, not "
              << args.positional.size() << "\n";
    return false;
  }
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) items.push_back(item);
  return items;
}

bool Number(const std::string& text, std::uint32_t& value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v > 0xFFFFFFFFul) return false;
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool IdentityFrom(const Args& args, RomIdentity& identity) {
  std::uint32_t model = 0;
  if (!Number(args.Get("--model", "5800"), model) || (model != 5800 && model != 5300)) {
    std::cerr << "handheld-sim: --model must be 5800 or 5300\n";
    return false;
  }
  identity.modelId = args.Get("--model-id", ModelIdForModel(static_cast<int>(model)));
  identity.language = args.Get("--language", "ENG");
  identity.version = args.Get("--version", "1.14.00");
  if (std::string problem = CheckIdentity(identity); !problem.empty()) {
    std::cerr << "handheld-sim: " << problem << "\n";
    return false;
  }
  return true;
}

const char kUsage[] =
    "usage:\n"
    "  handheld-sim create DIR [--model 5800|5300] [--model-id ID] [--language ENG]\n"
    "                          [--version 1.14.00] [--flash-mb 32] [--rom-mb 2]\n"
    "                          [--modules A.dll,B.dll] [--replace]\n"
    "  handheld-sim distribution OUTDIR [--model ...] [--model-id ...] [--language ...] [--version ...]\n"
    "                          [--size-mb 2] [--modules ...] [--omit image|module.dat|FILE]... [--corrupt-image]\n"
    "  handheld-sim serve DIR [--port N] [--pidfile F] [--dosdevices DIR] [--daemon]\n"
    "                          [--takeover FILE] [--agent-cpu arm|host]\n"
    "  handheld-sim stop DIR [--pidfile F]\n"
    "  handheld-sim power DIR on|battery [--percent N]\n"
    "  handheld-sim mode DIR wince|loader|bootloader|off [--link serial|usb]\n"
    "  handheld-sim reset DIR [--bootloader]\n"
    "  handheld-sim fault DIR fail-call CeName | no-start Program.exe | probe-silent | no-answer\n"
    "                          | init-fails | link-silent-bytes N | link-silent-messages N\n"
    "                          | link-noise N | link-drop N | hold-at-piece K | backup-stall N\n"
    "                          | backup-short N | backup-slow N SECONDS | clear [fault]\n"
    "  handheld-sim flash DIR IMAGE.nbf\n"
    "  handheld-sim status DIR\n"
    "  handheld-sim --help | --version\n"
    "Devflash.exe runs its takeover as StrongARM code from --takeover FILE, by default\n"
    "  ";

void PrintUsage(std::ostream& out) {
  out << kUsage << DefaultTakeoverImage() << "\n  (--agent-cpu host runs the x86 build instead)\n";
}

int Usage() {
  PrintUsage(std::cerr);
  return 2;
}

int Create(const Args& args) {
  CreateOptions options;
  if (!IdentityFrom(args, options.identity)) return 2;
  if (!Number(args.Get("--flash-mb", "32"), options.flashMb) || !Number(args.Get("--rom-mb", "2"), options.romMb)) {
    std::cerr << "handheld-sim: --flash-mb and --rom-mb take whole megabytes\n";
    return 2;
  }
  if (args.Has("--modules")) options.modules = SplitComma(args.Get("--modules"));
  options.replace = args.Has("--replace");
  if (std::string error = CreateHandheld(args.positional[0], options); !error.empty()) {
    std::cerr << "handheld-sim: " << error << "\n";
    return 1;
  }
  std::cout << "handheld-sim: created " << options.identity.modelId << " " << options.identity.version << " "
            << options.identity.language << " with " << options.flashMb << " MB flash in " << args.positional[0]
            << "\n";
  return 0;
}

int Distribution(const Args& args) {
  DistributionOptions options;
  if (!IdentityFrom(args, options.identity)) return 2;
  if (!Number(args.Get("--size-mb", "2"), options.sizeMb)) {
    std::cerr << "handheld-sim: --size-mb takes whole megabytes\n";
    return 2;
  }
  if (args.Has("--modules")) options.modules = SplitComma(args.Get("--modules"));
  for (auto [it, end] = args.options.equal_range("--omit"); it != end; ++it) options.omit.insert(it->second);
  options.corruptImage = args.Has("--corrupt-image");
  std::string image;
  if (std::string error = WriteDistribution(args.positional[0], options, &image); !error.empty()) {
    std::cerr << "handheld-sim: " << error << "\n";
    return 1;
  }
  std::cout << "handheld-sim: distribution for " << options.identity.modelId << " " << options.identity.version
            << " " << options.identity.language << " in " << args.positional[0] << "/"
            << LanguageFolderForCode(options.identity.language) << (image.empty() ? "" : " (image " + image + ")")
            << "\n";
  return 0;
}

// --agent-cpu and --takeover; the image is checked now, so that a daemon
// with a broken image does not start at all.
bool ConfigureAgentFrom(const Args& args) {
  AgentConfig config;
  const std::string cpu = args.Get("--agent-cpu", "arm");
  if (cpu != "arm" && cpu != "host") {
    std::cerr << "handheld-sim: --agent-cpu takes arm or host\n";
    return false;
  }
  config.cpu = cpu == "arm" ? AgentCpu::Arm : AgentCpu::Host;
  config.takeoverImage = args.Get("--takeover");
  if (config.cpu == AgentCpu::Arm) {
    soc::ElfImage image;
    const std::string path = config.takeoverImage.empty() ? DefaultTakeoverImage() : config.takeoverImage;
    if (std::string problem = soc::LoadElfImage(path, image); !problem.empty()) {
      std::cerr << "handheld-sim: the takeover image: " << problem << "\n";
      return false;
    }
  }
  ConfigureAgent(config);
  return true;
}

int Serve(const Args& args) {
  ServeOptions options;
  options.folder = args.positional[0];
  std::uint32_t port = 0;
  if (args.Has("--port") && (!Number(args.Get("--port"), port) || port == 0 || port > 65535)) {
    std::cerr << "handheld-sim: --port takes 1 to 65535\n";
    return 2;
  }
  options.port = static_cast<std::uint16_t>(port);
  options.pidFile = args.Get("--pidfile");
  options.background = args.Has("--daemon");
  options.dosdevices = args.Get("--dosdevices");
  if (!ConfigureAgentFrom(args)) return 2;
  return ServeHandheld(options);
}

int Change(const std::string& folder, const std::function<void(HandheldState&)>& change) {
  if (!UpdateState(folder, change)) {
    std::cerr << "handheld-sim: no handheld in " << folder << "\n";
    return 1;
  }
  return 0;
}

int Power(const Args& args) {
  if (args.positional.size() < 2) return Usage();
  const std::string what = args.positional[1];
  if (what != "on" && what != "adapter" && what != "battery") {
    std::cerr << "handheld-sim: power takes on (adapter plugged in) or battery\n";
    return 2;
  }
  std::uint32_t percent = 0;
  const bool setPercent = args.Has("--percent");
  if (setPercent && (!Number(args.Get("--percent"), percent) || percent > 100)) {
    std::cerr << "handheld-sim: --percent takes 0 to 100\n";
    return 2;
  }
  return Change(args.positional[0], [&](HandheldState& s) {
    s.onAdapter = (what != "battery");
    if (setPercent) s.batteryPercent = percent;
  });
}

int SetMode(const Args& args) {
  Mode mode;
  if (args.positional.size() < 2 || !ParseMode(args.positional[1], mode)) {
    std::cerr << "handheld-sim: mode takes wince, loader, bootloader or off\n";
    return 2;
  }
  const std::string link = args.Get("--link");
  if (!link.empty() && link != "serial" && link != "usb") {
    std::cerr << "handheld-sim: --link takes serial or usb\n";
    return 2;
  }
  return Change(args.positional[0], [&](HandheldState& s) {
    s.mode = mode;
    if (!link.empty()) s.usbLink = (link == "usb");
  });
}

// A normal reset restarts into what the flash holds; with the joypad held,
// into the boot loader. Either way a peer that was inside a transfer starts
// afresh, and nothing holds any more.
int Reset(const Args& args) {
  const std::string folder = args.positional[0];
  const bool bootLoader = args.Has("--bootloader");
  const Mode mode = bootLoader ? Mode::BootLoader : ModeAfterReset(folder + "/flash.bin");
  return Change(folder, [&](HandheldState& s) {
    s.mode = mode;
    ++s.boots;
    s.linkHeldAtPiece = 0;
  });
}

// The seconds of backup-slow (fourth word) as milliseconds: a decimal
// number from 0 up to a day.
bool SlowSeconds(const Args& args, std::uint64_t& ms) {
  constexpr double kMsPerSecond = 1000.0, kMostSeconds = 86400.0;
  if (args.positional.size() != 4) return false;
  const std::string& text = args.positional[3];
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(seconds >= 0.0) || seconds > kMostSeconds)
    return false;
  ms = static_cast<std::uint64_t>(seconds * kMsPerSecond);
  return true;
}

int Fault(const Args& args) {
  if (args.positional.size() < 2) return Usage();
  const std::string name = args.positional[1];
  const std::string argument = args.positional.size() > 2 ? args.positional[2] : "";
  if ((name == "fail-call" && !IsRemoteCallName(argument)) || (name == "no-start" && argument.empty())) {
    std::cerr << "handheld-sim: fail-call takes a remote call name (CeCreateProcess, ...), no-start a program name\n";
    return 2;
  }
  static const std::map<std::string, std::uint64_t Faults::*> kCountFaults = {
      {"link-silent-bytes", &Faults::linkSilentAfterBytes},
      {"link-silent-messages", &Faults::linkSilentAfterMessages},
      {"link-noise", &Faults::linkNoiseBeforeMessage},
      {"link-drop", &Faults::linkDropAfterBytes},
      {"hold-at-piece", &Faults::linkHoldAtPiece},
      {"backup-stall", &Faults::backupStallAfterChunks},
      {"backup-short", &Faults::backupShortChunk},
  };
  const auto countFault = kCountFaults.find(name);
  std::uint32_t count = 0;
  if (countFault != kCountFaults.end() && !Number(argument, count)) {
    std::cerr << "handheld-sim: " << name << " takes a count\n";
    return 2;
  }
  // backup-slow N SECONDS: chunk N is held back that long (a decimal number).
  std::uint64_t slowMs = 0;
  if (name == "backup-slow" && (!Number(argument, count) || !SlowSeconds(args, slowMs))) {
    std::cerr << "handheld-sim: backup-slow takes a chunk number (from 1) and seconds\n";
    return 2;
  }
  if (name != "fail-call" && name != "no-start" && name != "probe-silent" && name != "no-answer" &&
      name != "init-fails" && name != "clear" && name != "backup-slow" && countFault == kCountFaults.end()) {
    std::cerr << "handheld-sim: faults are fail-call, no-start, probe-silent, no-answer, init-fails,\n"
                 "  link-silent-bytes, link-silent-messages, link-noise, link-drop, hold-at-piece,\n"
                 "  backup-stall, backup-short, backup-slow, clear\n";
    return 2;
  }
  return Change(args.positional[0], [&](HandheldState& s) {
    Faults& f = s.faults;
    // A hold that is lifted no longer holds anything.
    if (name == "clear" && (argument.empty() || argument == "hold-at-piece")) s.linkHeldAtPiece = 0;
    if (countFault != kCountFaults.end()) f.*(countFault->second) = count;
    else if (name == "fail-call") f.failCalls.insert(argument);
    else if (name == "no-start") f.noStart.insert(LowerAscii(argument));
    else if (name == "probe-silent") f.probeSilent = true;
    else if (name == "no-answer") f.noAnswer = true;
    else if (name == "init-fails") f.initFails = true;
    else if (name == "backup-slow") {
      f.backupSlowChunk = count;
      f.backupSlowMs = slowMs;
    } else if (argument == "backup-slow") {
      f.backupSlowChunk = kNoLinkFault;
      f.backupSlowMs = 0;
    } else if (argument.empty()) f = Faults{};
    else if (argument == "fail-call") f.failCalls.clear();
    else if (argument == "no-start") f.noStart.clear();
    else if (argument == "probe-silent") f.probeSilent = false;
    else if (argument == "no-answer") f.noAnswer = false;
    else if (argument == "init-fails") f.initFails = false;
    else if (kCountFaults.count(argument)) f.*(kCountFaults.at(argument)) = kNoLinkFault;
  });
}

int Flash(const Args& args) {
  if (args.positional.size() < 2) return Usage();
  const std::string folder = args.positional[0];
  std::ifstream image(args.positional[1], std::ios::binary);
  if (!image) {
    std::cerr << "handheld-sim: cannot open " << args.positional[1] << "\n";
    return 1;
  }
  image.seekg(kImageHeaderSize);
  std::vector<char> payload((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
  std::fstream flash(folder + "/flash.bin", std::ios::binary | std::ios::in | std::ios::out);
  flash.seekg(0, std::ios::end);
  if (!flash || static_cast<std::size_t>(flash.tellg()) < payload.size()) {
    std::cerr << "handheld-sim: the image does not fit into " << folder << "/flash.bin\n";
    return 1;
  }
  flash.seekp(0);
  flash.write(payload.data(), static_cast<std::streamsize>(payload.size()));
  return flash.flush() ? 0 : 1;
}

int Status(const Args& args) {
  const std::string folder = args.positional[0];
  HandheldState s;
  if (!LoadState(folder, s)) {
    std::cerr << "handheld-sim: no handheld in " << folder << "\n";
    return 1;
  }
  Handheld handheld(folder);
  RomIdentity id;
  const bool hasId = handheld.Identity(id);
  const std::time_t seconds = static_cast<std::time_t>(handheld.ClockUtcMs() / 1000);
  char clock[32];
  std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", std::gmtime(&seconds));
  std::cout << "rom=" << (hasId ? id.modelId + " " + id.version + " " + id.language : "(no identity in flash)")
            << "\nclock_utc=" << clock << "\n"
            << FormatState(s);
  std::ifstream pid(folder + "/daemon.pid"), port(folder + "/daemon.port");
  std::string pidText, portText;
  if (pid >> pidText && port >> portText) std::cout << "daemon_pid=" << pidText << "\ndaemon_port=" << portText << "\n";
  std::cout << LastAgentRunText(folder) << FormatViolations(LoadViolations(folder));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    PrintUsage(std::cout);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::cout << "handheld-sim " << ROMWIZ_VERSION << "\n";
    return 0;
  }
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const auto syntax = Commands().find(command);
  if (syntax == Commands().end()) {
    std::cerr << "handheld-sim: unknown command " << command << " (handheld-sim --help lists them)\n";
    return 2;
  }
  Args args;
  if (!Parse(argc, argv, command, syntax->second, args)) return 2;
  RegisterDevflashProgram();
  if (command == "create") return Create(args);
  if (command == "distribution") return Distribution(args);
  if (command == "serve") return Serve(args);
  if (command == "stop") return StopHandheld(args.positional[0], args.Get("--pidfile"));
  if (command == "power") return Power(args);
  if (command == "mode") return SetMode(args);
  if (command == "reset") return Reset(args);
  if (command == "fault") return Fault(args);
  if (command == "flash") return Flash(args);
  return Status(args);
}
