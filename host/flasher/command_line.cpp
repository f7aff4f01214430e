#include "flasher/command_line.h"

#include <cctype>
#include <cstring>

#include "image/image_file.h"

namespace flasher {
namespace {

constexpr char kComPrefix[] = "COM";
constexpr std::size_t kComPrefixLength = sizeof kComPrefix - 1;
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr std::size_t kLanguageCodeLength = 3;

const char kSynopsis[] =
    "usage: romwiz-flash --port PORT [--via bootloader|loader] [--model MODEL-ID --language CODE | --force]\n"
    "                    [--log FILE] [--quiet] IMAGE.nbf\n"
    "       romwiz-flash --help | --version\n";

const char kHelpBody[] =
    "\n"
    "Writes a ROM image (.nbf) into a Lumo handheld's flash over a serial cable,\n"
    "through the handheld's boot loader or its download loader. The image is\n"
    "checked first (header, checksum, payload size, and the model and language\n"
    "you name); nothing is sent for an image that fails a check.\n"
    "\n"
    "  --port PORT      the serial port: /dev/ttyUSB0, /dev/ttyS0 or any device path\n"
    "                   on Linux; COM1 or \\\\.\\COM12 on Windows. Opened exclusively.\n"
    "  --via bootloader (the default) the handheld's boot loader: hold the joypad and\n"
    "                   press reset, then start romwiz-flash. The image is written\n"
    "                   from flash address 0x40000; the boot block is never sent.\n"
    "  --via loader     the download loader: a handheld whose loader is in flash\n"
    "                   starts it at every normal reset. The loader block goes last.\n"
    "  --model MODEL-ID the handheld's model identifier as it reports it and its\n"
    "                   images carry it (LUMO-5800 for a 5800, LUMO-5300 for a 5300).\n"
    "  --language CODE  the handheld's three-letter ROM language code: ENG, JPN, FRE,\n"
    "                   GER, ITA, SPA, CHT or CHS.\n"
    "  --force          write without checking model and language. A wrong image can\n"
    "                   leave the handheld needing the boot loader again.\n"
    "  --log FILE       the transfer log (default: the wizard's transfer log).\n"
    "  --quiet          no progress and no notes; errors and the closing line remain.\n"
    "  --help           this text.   --version  the program's version.\n"
    "\n"
    "Progress goes to standard error; the last line, on standard output, is\n"
    "\"wrote N bytes in S s (R kbit/s)\". Nothing is written to the registry.\n"
    "\n"
    "Exit codes: 0 written; 1 the transfer failed; 2 usage; 3 the image was\n"
    "refused; 130 interrupted (Ctrl-C).\n";

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// "--name=value" or "--name value": the value in `value`, the next index in `index`.
bool TakeValue(int argc, const char* const* argv, int& index, const std::string& word, std::size_t equals,
               std::string& value, std::string& error) {
  if (equals != std::string::npos) {
    value = word.substr(equals + 1);
  } else if (index + 1 < argc) {
    value = argv[++index];
  } else {
    error = word + " needs a value";
    return false;
  }
  if (value.empty()) {
    error = word.substr(0, equals) + " needs a value";
    return false;
  }
  return true;
}

bool SetVia(const std::string& value, FlashOptions& options, std::string& error) {
  if (value == "bootloader") {
    options.via = Via::BootLoader;
  } else if (value == "loader") {
    options.via = Via::Loader;
  } else {
    error = "--via takes bootloader or loader, not " + value;
    return false;
  }
  return true;
}

bool SetLanguage(const std::string& value, FlashOptions& options, std::string& error) {
  if (value.size() != kLanguageCodeLength || wizard::LanguageForCode(value.c_str()) == nullptr) {
    error = "--language takes a ROM language code (ENG, JPN, FRE, GER, ITA, SPA, CHT or CHS), not " + value;
    return false;
  }
  options.language = value;
  return true;
}

// One option word at `index`; false with `error` on a mistake.
bool TakeOption(int argc, const char* const* argv, int& index, FlashOptions& options, bool& help,
                bool& version, std::string& error) {
  const std::string word = argv[index];
  const std::size_t equals = word.find('=');
  const std::string name = word.substr(0, equals);
  const bool flag = name == "--force" || name == "--quiet" || name == "--help" || name == "--version";
  if (flag) {
    if (equals != std::string::npos) {
      error = name + " takes no value";
      return false;
    }
    if (name == "--force") options.force = true;
    if (name == "--quiet") options.quiet = true;
    if (name == "--help") help = true;
    if (name == "--version") version = true;
    return true;
  }
  std::string value;
  if (name == "--port") return TakeValue(argc, argv, index, word, equals, options.port, error);
  if (name == "--model") return TakeValue(argc, argv, index, word, equals, options.model, error);
  if (name == "--log") return TakeValue(argc, argv, index, word, equals, options.logFile, error);
  if (name == "--via") {
    return TakeValue(argc, argv, index, word, equals, value, error) && SetVia(value, options, error);
  }
  if (name == "--language") {
    return TakeValue(argc, argv, index, word, equals, value, error) && SetLanguage(value, options, error);
  }
  error = "unknown option " + name;
  return false;
}

// What a flash needs once every word is read.
bool Complete(const FlashOptions& options, std::string& error) {
  const bool named = !options.model.empty() || !options.language.empty();
  if (options.port.empty()) {
    error = "--port is missing";
  } else if (options.image.empty()) {
    error = "the image file is missing";
  } else if (options.force && named) {
    error = "--force and --model/--language exclude each other";
  } else if (!options.force && (options.model.empty() || options.language.empty())) {
    error = named ? "--model and --language go together"
                  : "name the handheld with --model and --language, or pass --force";
  } else {
    return true;
  }
  return false;
}

}  // namespace

Command ParseCommandLine(int argc, const char* const* argv, FlashOptions& options, std::string& error) {
  bool help = false, version = false, optionsEnded = false;
  for (int index = 1; index < argc; ++index) {
    const std::string word = argv[index];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      if (!TakeOption(argc, argv, index, options, help, version, error)) return Command::Usage;
    } else if (options.image.empty()) {
      options.image = word;
    } else {
      error = "only one image file, not also " + word;
      return Command::Usage;
    }
  }
  if (help) return Command::Help;
  if (version) return Command::Version;
  return Complete(options, error) ? Command::Flash : Command::Usage;
}

const char* Synopsis() { return kSynopsis; }

std::string HelpText() { return std::string(kSynopsis) + kHelpBody; }

std::string DeviceForPort(const std::string& port) {
  std::string name = port;
  if (!name.empty() && name.back() == ':') name.pop_back();
  bool com = name.size() > kComPrefixLength && EqualsNoCase(name.substr(0, kComPrefixLength), kComPrefix);
  for (std::size_t i = kComPrefixLength; com && i < name.size(); ++i) {
    com = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
  }
  if (!com) return port;
  return std::string(kDevicePrefix) + kComPrefix + name.substr(kComPrefixLength);
}

}  // namespace flasher
