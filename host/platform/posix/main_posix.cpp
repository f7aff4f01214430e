// Entry of the Linux romwiz: the wizard in a terminal. Start-up follows the
// Windows program: catalogue, connection type Serial, one copy at a time,
// then the wizard to its end; the exit code is always 0. The wizard takes no
// arguments: it runs from the distribution folder it is started in.
//   romwiz
//   romwiz --help | --version
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/posix/terminal_front_end.h"
#include "platform/screens.h"
#include "port/transfer_log.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "wizard/wizard_state.h"

namespace {

// ROMWIZ_TIME_SCALE divides every wizard-time wait (tests, the simulator).
void ApplyTimeScale() {
  const char* text = std::getenv("ROMWIZ_TIME_SCALE");
  if (text == nullptr || text[0] == 0) return;
  char* end = nullptr;
  unsigned long divisor = std::strtoul(text, &end, 10);
  if (*end == 0 && divisor >= 1 && divisor <= 1000000) platform::SetTimeScale(static_cast<std::uint32_t>(divisor));
}

// The lock file that stands for the Windows program's "SETUP" window: kept
// under $XDG_CONFIG_HOME/romwiz/ beside the registry store, else in /tmp.
std::string LockPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] != 0) {
    std::string folder = std::string(config) + "/romwiz";
    mkdir(config, 0700);
    mkdir(folder.c_str(), 0700);
    return folder + "/romwiz.lock";
  }
  return "/tmp/romwiz-" + std::to_string(getuid()) + ".lock";
}

// True when this is the only copy running. The lock is held by the open
// descriptor until the process ends, however it ends.
bool TakeInstanceLock() {
  int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: run rather than refuse
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

constexpr int kUsageError = 2;

const char kUsageText[] =
    "usage: romwiz            the ROM upgrade wizard in this terminal; start it in the\n"
    "                         distribution folder (the one holding the language folders)\n"
    "       romwiz --help | --version\n"
    "Environment: ROMWIZ_HANDHELD=host:port (the handheld's remote API, 127.0.0.1:9696),\n"
    "XDG_CONFIG_HOME (the registry store and the ports' dosdevices links under romwiz/).\n";

// --help and --version answer and end the program; anything else given is a
// usage error. Returns -1 when the wizard is to run.
int AnswerCommandLine(int argc, char** argv) {
  if (argc == 1) return -1;
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("romwiz %s\n", ROMWIZ_VERSION);
    return 0;
  }
  std::fprintf(stderr, "romwiz: the wizard takes no argument%s\n%s", argc == 2 ? "" : "s", kUsageText);
  return kUsageError;
}

}  // namespace

int main(int argc, char** argv) {
  if (int answered = AnswerCommandLine(argc, argv); answered >= 0) return answered;
  // A write past a file-size limit then fails like one on a full disk (the
  // backup reports it) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  ApplyTimeScale();
  screens::TerminalFrontEnd frontEnd(STDIN_FILENO, stdout, stderr);
  screens::SetFrontEnd(&frontEnd);
  wizard::LoadTextCatalogue();
  wizard::Wizard.ConnectionType = wizard::Connection::Serial;
  // A second copy ends silently, without any screen.
  if (!TakeInstanceLock()) return 0;
  wizard::RunWizard();
  translog::EndSession("wizard ended");  // a session no screen has ended
  return 0;
}
