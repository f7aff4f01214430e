// handheld-sim: a simulated Lumo handheld on a state folder.
//
//   handheld-sim create DIR [--model 5800|5300] [--model-id ID] [--language ENG]
//                           [--version 1.14.00] [--flash-mb 32] [--rom-mb 2]
//                           [--modules A.dll,B.dll] [--replace]
//   handheld-sim distribution OUTDIR [same identity options] [--size-mb 2]
//                           [--modules ...] [--omit image|module.dat|FILE]... [--corrupt-image]
//   handheld-sim serve DIR [--port N] [--pidfile F] [--dosdevices DIR] [--daemon]
//   handheld-sim stop DIR [--pidfile F]
//   handheld-sim power DIR on|battery [--percent N]
//   handheld-sim mode DIR wince|loader|bootloader|off [--link serial|usb]
//   handheld-sim reset DIR [--bootloader]   (a normal reset, or one with the joypad held)
//   handheld-sim fault DIR fail-call CeName | no-start Program.exe | probe-silent
//                          | no-answer | init-fails | link-silent-bytes N
//                          | link-silent-messages N | link-noise N | link-drop N
//                          | hold-at-piece K | clear [fault]
//   handheld-sim flash DIR IMAGE.nbf      (writes the image's payload into flash.bin)
//   handheld-sim status DIR
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "daemon.h"
#include "devflash_program.h"
#include "distribution.h"
#include "handheld.h"
#include "link_watcher.h"
#include "rapi_service.h"

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

const std::set<std::string> kFlags = {"--replace", "--daemon", "--corrupt-image", "--bootloader"};

bool Parse(int argc, char** argv, Args& args) {
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) == 0) {
      if (kFlags.count(word)) {
        args.options.emplace(word, "");
      } else if (i + 1 < argc) {
        args.options.emplace(word, argv[++i]);
      } else {
        std::cerr << "handheld-sim: " << word << " needs a value\n";
        return false;
      }
    } else {
      args.positional.push_back(word);
    }
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

int Usage() {
  std::cerr << "usage: handheld-sim create|distribution|serve|stop|power|mode|reset|fault|flash|status DIR [options]\n"
               "  see the comment at the top of sim/handheld/main.cpp or the README\n";
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

int Fault(const Args& args) {
  if (args.positional.size() < 2) return Usage();
  const std::string name = args.positional[1];
  const std::string argument = args.positional.size() > 2 ? args.positional[2] : "";
  if ((name == "fail-call" && !IsRemoteCallName(argument)) || (name == "no-start" && argument.empty())) {
    std::cerr << "handheld-sim: fail-call takes a remote call name (CeCreateProcess, ...), no-start a program name\n";
    return 2;
  }
  static const std::map<std::string, std::uint64_t Faults::*> kLinkFaults = {
      {"link-silent-bytes", &Faults::linkSilentAfterBytes},
      {"link-silent-messages", &Faults::linkSilentAfterMessages},
      {"link-noise", &Faults::linkNoiseBeforeMessage},
      {"link-drop", &Faults::linkDropAfterBytes},
      {"hold-at-piece", &Faults::linkHoldAtPiece},
  };
  const auto linkFault = kLinkFaults.find(name);
  std::uint32_t count = 0;
  if (linkFault != kLinkFaults.end() && !Number(argument, count)) {
    std::cerr << "handheld-sim: " << name << " takes a count\n";
    return 2;
  }
  if (name != "fail-call" && name != "no-start" && name != "probe-silent" && name != "no-answer" &&
      name != "init-fails" && name != "clear" && linkFault == kLinkFaults.end()) {
    std::cerr << "handheld-sim: faults are fail-call, no-start, probe-silent, no-answer, init-fails,\n"
                 "  link-silent-bytes, link-silent-messages, link-noise, link-drop, hold-at-piece, clear\n";
    return 2;
  }
  return Change(args.positional[0], [&](HandheldState& s) {
    Faults& f = s.faults;
    // A hold that is lifted no longer holds anything.
    if (name == "clear" && (argument.empty() || argument == "hold-at-piece")) s.linkHeldAtPiece = 0;
    if (linkFault != kLinkFaults.end()) f.*(linkFault->second) = count;
    else if (name == "fail-call") f.failCalls.insert(argument);
    else if (name == "no-start") f.noStart.insert(LowerAscii(argument));
    else if (name == "probe-silent") f.probeSilent = true;
    else if (name == "no-answer") f.noAnswer = true;
    else if (name == "init-fails") f.initFails = true;
    else if (argument.empty()) f = Faults{};
    else if (argument == "fail-call") f.failCalls.clear();
    else if (argument == "no-start") f.noStart.clear();
    else if (argument == "probe-silent") f.probeSilent = false;
    else if (argument == "no-answer") f.noAnswer = false;
    else if (argument == "init-fails") f.initFails = false;
    else if (kLinkFaults.count(argument)) f.*(kLinkFaults.at(argument)) = kNoLinkFault;
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
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  Args args;
  if (!Parse(argc, argv, args) || args.positional.empty()) return Usage();
  const std::string command = argv[1];
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
  if (command == "status") return Status(args);
  return Usage();
}
