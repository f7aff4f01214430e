// flash_cli_bench [--mb N] [--via bootloader|loader|both]
//
// Runs the romwiz-flash program against the simulated handheld's boot loader
// and download loader behind a link paced at 115200 baud: 8 data bits, no
// parity and 1 stop bit make 10 bits a byte, so 11,520 bytes/s each way. A
// relay between the program's pseudo-terminal and the handheld's forwards
// at most that many bytes a second in each direction, the way the UART
// drains.
//
// Prints, for each path, the image bytes sent, the time from the first byte
// the handheld received to the last, the effective rate, and that rate as a
// share of the line rate (the protocol's requests, prompts and headers, and
// the turn-arounds, are the only overhead); then the program's own closing
// line. The image is N MB (default 1; 768 KB of it goes over the line, about
// 70 s a path).
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/image_file.h"
#include "sim/peers/link_peers.h"

namespace {

constexpr double kLineBytesPerSecond = 11520.0;  // 115200 baud, 10 bits a byte
constexpr std::uint32_t kBootBlock = 0x40000;
constexpr std::uint32_t kMiB = 1u << 20;
constexpr int kRelaySliceMs = 1;
// The transmit FIFO: bytes the line takes in ahead of sending them. Deep
// enough that the relay's own wake-ups (about a millisecond apart) never
// leave the line idle; its fill never counts as sent.
constexpr std::size_t kUartFifoBytes = 64;
constexpr double kTarget = 0.97;

using Clock = std::chrono::steady_clock;

using MemoryFlash = peers::MemoryFlashStore;

void MakeRaw(int fd) {
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
}

// One direction of the line: forwards from `from` to `to` no faster than
// the line carries bytes. Each byte occupies the line for 1/11520 s; an idle
// line earns no credit, so a burst after a pause goes no faster either.
// `lineFreeAt` is when the last byte taken has gone out.
struct Direction {
  int from;
  int to;
  std::uint64_t forwarded = 0;
  bool started = false;
  Clock::time_point first{}, lineFreeAt{};

  void Pump(Clock::time_point now) {
    // Bytes still waiting in the transmit FIFO; only the room left is taken.
    std::size_t queued = 0;
    if (started && now < lineFreeAt) {
      queued = static_cast<std::size_t>(std::chrono::duration<double>(lineFreeAt - now).count() * kLineBytesPerSecond);
    }
    if (queued >= kUartFifoBytes) return;
    char buffer[kUartFifoBytes];
    ssize_t n = read(from, buffer, kUartFifoBytes - queued);
    if (n <= 0) return;
    if (!started) {
      started = true;
      first = now;
      lineFreeAt = now;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(to, buffer + done, static_cast<std::size_t>(n - done));
      if (w <= 0) {
        pollfd wait{to, POLLOUT, 0};
        poll(&wait, 1, kRelaySliceMs);
        continue;
      }
      done += w;
    }
    forwarded += static_cast<std::uint64_t>(n);
    const auto onLine = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(n) / kLineBytesPerSecond));
    lineFreeAt = std::max(lineFreeAt, now) + onLine;
  }
};

// The paced line: a pseudo-terminal for the program (published at `path`)
// relayed to the handheld's link at `peerLink`.
class PacedLine {
 public:
  bool Open(const std::string& path, const std::string& peerLink) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
    std::string slave = ptsname(master_);
    // Held open so that the program's close does not hang the master up.
    keep_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    peer_ = open(peerLink.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (keep_ < 0 || peer_ < 0) return false;
    MakeRaw(keep_);
    MakeRaw(peer_);
    std::filesystem::remove(path);
    std::filesystem::create_symlink(slave, path);
    toHandheld_ = Direction{master_, peer_, 0, false, {}, {}};
    toPc_ = Direction{peer_, master_, 0, false, {}, {}};
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  ~PacedLine() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (int fd : {master_, keep_, peer_}) {
      if (fd >= 0) close(fd);
    }
  }
  const Direction& ToHandheld() const { return toHandheld_; }

 private:
  void Run() {
    while (!stop_) {
      Clock::time_point now = Clock::now();
      toHandheld_.Pump(now);
      toPc_.Pump(now);
      std::this_thread::sleep_for(std::chrono::milliseconds(kRelaySliceMs));
    }
  }
  int master_ = -1, keep_ = -1, peer_ = -1;
  Direction toHandheld_{-1, -1, 0, false, {}, {}}, toPc_{-1, -1, 0, false, {}, {}};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Runs romwiz-flash; its standard output (the closing line) in `out`.
int RunFlash(const std::vector<std::string>& arguments, std::string& out) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ROMWIZ_FLASH_PROGRAM));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(ROMWIZ_FLASH_PROGRAM, argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Measure(const std::string& folder, bool bootLoader, const std::string& image,
             const std::vector<std::uint8_t>& payload) {
  const char* name = bootLoader ? "boot loader" : "download loader";
  MemoryFlash flash(static_cast<std::uint32_t>(payload.size()));
  peers::PeerOptions options;
  options.kind = bootLoader ? peers::PeerKind::BootLoader : peers::PeerKind::SerialLoader;
  options.dosdevices = folder + "/handheld";
  options.logPath = folder + "/handheld.log";
  std::string error;
  auto peer = peers::StartPeer(options, flash, &error);
  if (!peer) {
    std::fprintf(stderr, "flash_cli_bench: %s\n", error.c_str());
    return false;
  }
  PacedLine line;
  const std::string port = folder + "/line";
  if (!line.Open(port, peer->LinkPath())) {
    std::fprintf(stderr, "flash_cli_bench: cannot set up the paced line\n");
    return false;
  }
  std::string out;
  int code = RunFlash({"--port", port, "--via", bootLoader ? "bootloader" : "loader", "--force", "--quiet",
                       "--log", folder + "/transfer.log", image},
                      out);
  peer->WaitRestarted(30000);
  if (code != 0 || std::memcmp(flash.bytes.data() + kBootBlock, payload.data() + kBootBlock,
                               payload.size() - kBootBlock) != 0) {
    std::fprintf(stderr, "flash_cli_bench: the %s run failed (exit %d); its transfer log:\n", name, code);
    for (const char* file : {"/transfer.log", "/handheld.log"}) {
      if (FILE* log = std::fopen((folder + file).c_str(), "r")) {
        char text[256];
        while (std::fgets(text, sizeof text, log) != nullptr) std::fputs(text, stderr);
        std::fclose(log);
      }
    }
    return false;
  }
  const Direction& sent = line.ToHandheld();
  const double seconds = std::chrono::duration<double>(sent.lineFreeAt - sent.first).count();
  const double imageBytes = static_cast<double>(payload.size() - kBootBlock);
  const double rate = imageBytes / seconds;
  std::printf("%-16s %7.0f image bytes (%llu on the line) in %6.2f s: %7.1f bytes/s, %.4f of the line rate%s\n",
              name, imageBytes, static_cast<unsigned long long>(sent.forwarded), seconds, rate,
              rate / kLineBytesPerSecond, rate / kLineBytesPerSecond >= kTarget ? "" : "  (below 0.97)");
  std::printf("                 romwiz-flash: %s", out.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t megabytes = 1;
  std::string via = "both";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mb") == 0) megabytes = static_cast<std::uint32_t>(std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--via") == 0) via = argv[i + 1];
  }
  if (megabytes < 1) megabytes = 1;
  char pattern[] = "/tmp/flash-cli-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string folder = pattern;

  std::vector<std::uint8_t> payload(static_cast<std::size_t>(megabytes) * kMiB);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
  const std::string image = folder + "/LUMO5800_ENG_141.nbf";
  const std::uint16_t sum = wizard::AddToChecksum(0, payload.data(), payload.size());
  if (FILE* file = std::fopen(image.c_str(), "wb")) {
    std::string header = wizard::FormatImageHeader("LUMO-5800", "ENG", "1.41", sum);
    std::fwrite(header.data(), 1, header.size(), file);
    std::fwrite(payload.data(), 1, payload.size(), file);
    std::fclose(file);
  }
  std::printf("line: 115200 baud, 8N1 = %.0f bytes/s each way; image of %u MB\n", kLineBytesPerSecond, megabytes);
  bool ok = true;
  if (via == "both" || via == "bootloader") ok = Measure(folder, true, image, payload) && ok;
  if (via == "both" || via == "loader") ok = Measure(folder, false, image, payload) && ok;
  std::filesystem::remove_all(folder);
  return ok ? 0 : 1;
}
