// link_bench [--mb N] [--time-scale N]
//
// Sends an image of N MB (default 8) over the loader path (the download
// worker's LoaderTransfer on the port layer's SendBytes and readers) to the
// simulated handheld's download loader on an unthrottled pseudo-terminal, for
// the serial and the USB flavour, and `cat`s the same payload through a
// pseudo-terminal. Prints MB/s of each and the ratio to `cat`.
//
// Wizard time runs --time-scale times faster (default 1000), so the link's
// 20 s settle and the serial reader's 1 s pause after each message do not
// dominate what is measured: the figure is the host side's own cost.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/screens.h"
#include "sim/peers/link_peers.h"
#include "transfer/download.h"
#include "image/image_file.h"
#include "port/port.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

constexpr std::uint32_t kPiece = 0x20000;
constexpr std::uint32_t kBootBlock = 0x40000;
constexpr std::uint32_t kMiB = 1u << 20;

// Screens only appear when the port fails; the benchmark then says so.
class PrintingFrontEnd : public screens::FrontEnd {
 public:
  int RunModal(screens::ScreenSession& session) override {
    std::fprintf(stderr, "link_bench: the wizard showed screen %d\n", session.id());
    session.End(0);
    return 0;
  }
  void OpenModeless(screens::ScreenSession&) override {}
  void CloseModeless(screens::ScreenSession&) override {}
  bool ChooseFile(const screens::FileDialogRequest&, char*, std::size_t) override { return false; }
  void CloseMainWindow() override {}
};

using MemoryFlash = peers::MemoryFlashStore;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The loader path as the download worker runs it (LoaderTransfer: wake-up,
// length, pieces on request, loader block last) from the image file `image`.
// Returns the seconds from the wake-up to the loader's restart, or a negative
// value on failure.
double SendOverLoader(const std::string& dosdevices, bool usb, const std::string& image,
                      const std::vector<std::uint8_t>& payload) {
  MemoryFlash flash(static_cast<std::uint32_t>(payload.size()));
  peers::PeerOptions options;
  options.kind = usb ? peers::PeerKind::UsbLoader : peers::PeerKind::SerialLoader;
  options.dosdevices = dosdevices;
  std::string error;
  auto peer = peers::StartPeer(options, flash, &error);
  if (!peer) {
    std::fprintf(stderr, "link_bench: %s\n", error.c_str());
    return -1;
  }
  wizard::ResetWizardState();
  wizard::Wizard.ConnectionType = usb ? wizard::Connection::Usb : wizard::Connection::Serial;
  std::snprintf(wizard::Wizard.FlashFile, sizeof wizard::Wizard.FlashFile, "%s", image.c_str());
  wizard::Wizard.ImageSizeKB = static_cast<std::uint32_t>((payload.size() + wizard::kImageHeaderSize) >> 10);
  if (!wizard::StartMessageLink()) return -1;

  auto start = std::chrono::steady_clock::now();
  // No progress screen is open: the transfer runs without timers.
  if (wizard::LoaderTransfer() != 1) return -1;
  if (!peer->WaitRestarted(30000)) return -1;
  double seconds = Seconds(start);
  wizard::ShutDownTransfer();
  if (std::memcmp(flash.bytes.data() + kBootBlock, payload.data() + kBootBlock, payload.size() - kBootBlock) != 0) {
    std::fprintf(stderr, "link_bench: the flash does not hold the payload\n");
    return -1;
  }
  return seconds;
}

// `cat` of the bytes the loader path sends, into a raw pseudo-terminal whose
// other end is drained here.
double CatThroughPty(const std::string& file, std::size_t bytes) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char* slaveName = ptsname(master);
  int slave = open(slaveName, O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    dup2(slave, STDOUT_FILENO);
    execlp("cat", "cat", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<char> buffer(1 << 16);
  std::size_t got = 0;
  while (got < bytes) {
    ssize_t n = read(master, buffer.data(), buffer.size());
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  double seconds = Seconds(start);
  int status = 0;
  waitpid(child, &status, 0);
  close(slave);
  close(master);
  return got == bytes ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t megabytes = 8;
  std::uint32_t timeScale = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mb") == 0) megabytes = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--time-scale") == 0) timeScale = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
  }
  if (megabytes < 1) megabytes = 1;
  PrintingFrontEnd frontEnd;
  screens::SetFrontEnd(&frontEnd);
  platform::SetTimeScale(timeScale);

  char pattern[] = "/tmp/link-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  std::string folder = pattern;
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  std::string dosdevices = folder + "/romwiz/dosdevices";

  std::vector<std::uint8_t> payload(static_cast<std::size_t>(megabytes) * kMiB);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
  std::size_t sent = payload.size() - kBootBlock;  // the boot block is never sent
  std::string file = folder + "/payload.bin";
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(payload.data() + kBootBlock, 1, sent, out);
    std::fclose(out);
  }
  // The image the worker reads: a header, then the whole payload.
  std::string image = folder + "/LUMO5800_ENG_141.nbf";
  if (FILE* out = std::fopen(image.c_str(), "wb")) {
    std::fwrite("LUMO-5800-ENG-1.41-0------------", 1, wizard::kImageHeaderSize, out);
    std::fwrite(payload.data(), 1, payload.size(), out);
    std::fclose(out);
  }

  double cat = CatThroughPty(file, sent);
  double serial = SendOverLoader(dosdevices, false, image, payload);
  double usb = SendOverLoader(dosdevices, true, image, payload);
  std::filesystem::remove_all(folder);
  if (cat <= 0 || serial <= 0 || usb <= 0) {
    std::fprintf(stderr, "link_bench: a run failed (cat %.3f s, serial %.3f s, usb %.3f s)\n", cat, serial, usb);
    return 1;
  }
  double mb = static_cast<double>(sent) / kMiB;
  std::printf("payload sent: %.2f MB in %zu pieces of 128 KB (wizard time scale %u)\n", mb, sent / kPiece, timeScale);
  std::printf("cat through a pseudo-terminal: %8.2f MB/s\n", mb / cat);
  std::printf("loader path, serial reader:    %8.2f MB/s  (%.2f of cat)\n", mb / serial, cat / serial);
  std::printf("loader path, USB reader:       %8.2f MB/s  (%.2f of cat)\n", mb / usb, cat / usb);
  return 0;
}
