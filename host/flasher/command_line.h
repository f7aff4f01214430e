// romwiz-flash's command line:
//
//   romwiz-flash --port PORT [--via bootloader|loader] [--model MODEL-ID --language CODE | --force]
//                [--log FILE] [--quiet] IMAGE.nbf
//   romwiz-flash --help | --version
//
// Options take their value as the next word or after "=". --model and
// --language go together; --force stands for both and excludes them.
#pragma once
#include <string>

namespace flasher {

enum class Via { BootLoader, Loader };

struct FlashOptions {
  std::string port;       // as the user wrote it
  Via via = Via::BootLoader;
  std::string model;      // the handheld's model identifier, such as LUMO-5800
  std::string language;   // three-letter ROM language code, such as ENG
  bool force = false;     // no model and language check
  std::string logFile;    // empty: the wizard's transfer log
  bool quiet = false;     // no progress, no notes
  std::string image;
};

enum class Command { Flash, Help, Version, Usage };

// Parses argv[1..argc-1]. Usage: `error` says what is wrong.
Command ParseCommandLine(int argc, const char* const* argv, FlashOptions& options, std::string& error);

// The two-line synopsis (usage errors) and the whole help (--help).
const char* Synopsis();
std::string HelpText();

// The device the link opens for a --port value: "COM3" (any case, with or
// without its colon) becomes "\\.\COM3"; anything else ("\\.\COM12",
// "/dev/ttyUSB0") is used as it is.
std::string DeviceForPort(const std::string& port);

}  // namespace flasher
