#include "flasher/flasher.h"

#include <string>

#include "flasher/command_line.h"
#include "flasher/exit_codes.h"
#include "flasher/flash_run.h"
#include "flasher/image_acceptance.h"

namespace flasher {

int RunCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  FlashOptions options;
  std::string error;
  switch (ParseCommandLine(argc, argv, options, error)) {
    case Command::Help:
      std::fputs(HelpText().c_str(), out);
      return kExitWritten;
    case Command::Version:
      std::fprintf(out, "romwiz-flash %s\n", ROMWIZ_VERSION);
      return kExitWritten;
    case Command::Usage:
      std::fprintf(err, "romwiz-flash: %s\n%s", error.c_str(), Synopsis());
      return kExitUsage;
    case Command::Flash:
      break;
  }
  ImageVerdict verdict = AcceptImage(options);
  if (!verdict.accepted) {
    std::fprintf(err, "romwiz-flash: %s", verdict.report.c_str());
    return kExitRefused;
  }
  return RunFlash(options, verdict, out, err);
}

}  // namespace flasher
