#include "sim/peers/pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace peers {
namespace {

constexpr int kSliceMs = 20;
constexpr std::uint8_t kNoiseByte = 0xFF;

std::uint64_t RealMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B115200);
  cfsetospeed(&settings, B115200);
  settings.c_cflag |= CLOCAL | CREAD;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

PtyLink::~PtyLink() { Close(); }

bool PtyLink::Publish(const std::string& folder, const std::string& name, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    Close();
    return false;
  }
  char slaveName[128];
  if (ptsname_r(master_, slaveName, sizeof slaveName) != 0) {
    error = "cannot name the pseudo-terminal";
    Close();
    return false;
  }
  slave_ = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0 || !MakeRaw(slave_) || !MakeRaw(master_)) {
    error = std::string("cannot set up ") + slaveName;
    Close();
    return false;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  std::string path = folder + "/" + name;
  // A link left behind by an earlier run is replaced.
  unlink(path.c_str());
  if (symlink(slaveName, path.c_str()) != 0) {
    error = "cannot publish " + path + ": " + std::strerror(errno);
    Close();
    return false;
  }
  symlink_ = path;
  slaveName_ = slaveName;
  return true;
}

void PtyLink::Close() {
  // The symlink goes only while it still names this line: another peer may
  // have published its own under the same name since.
  std::error_code ec;
  if (!symlink_.empty() && std::filesystem::read_symlink(symlink_, ec) == slaveName_) unlink(symlink_.c_str());
  symlink_.clear();
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

bool PtyLink::Silent() const {
  return received_ >= faults_.silentAfterBytes || messages_ >= faults_.silentAfterMessages;
}

LinkRead PtyLink::ReadExact(std::uint8_t* buffer, std::uint32_t length, std::uint32_t idleMs) {
  std::uint32_t got = 0;
  std::uint64_t lastByte = RealMs();
  while (got < length) {
    if (dropped_) return LinkRead::Dropped;
    if (stop_) return LinkRead::Stopped;
    if (idleMs != 0 && RealMs() - lastByte >= idleMs) return LinkRead::Idle;
    pollfd pfd{master_, POLLIN, 0};
    int ready = poll(&pfd, 1, kSliceMs);
    if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
      // POLLHUP without data: nobody has the line open; wait for the PC.
      if (ready > 0) usleep(kSliceMs * 1000);
      continue;
    }
    // Never read past the byte at which a drop is due, so it hits exactly.
    std::uint64_t wanted = length - got;
    if (faults_.dropAfterBytes != kNever) {
      wanted = std::min<std::uint64_t>(wanted, faults_.dropAfterBytes - std::min(received_.load(), faults_.dropAfterBytes));
    }
    ssize_t n = wanted == 0 ? 0 : read(master_, buffer + got, static_cast<std::size_t>(wanted));
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      // EIO: no slave is open right now.
      usleep(kSliceMs * 1000);
      continue;
    }
    got += static_cast<std::uint32_t>(n);
    received_ += static_cast<std::uint64_t>(n);
    if (n > 0) lastByte = RealMs();
    if (received_ >= faults_.dropAfterBytes) {
      dropped_ = true;
      Close();
      if (log_ != nullptr) log_->Note("link dropped after " + std::to_string(received_.load()) + " bytes received");
      return LinkRead::Dropped;
    }
  }
  return LinkRead::Ok;
}

LinkRead PtyLink::ReadUntil(const char* pattern, std::uint64_t* skipped) {
  std::size_t length = std::strlen(pattern);
  std::size_t matched = 0;
  std::uint64_t bytes = 0;
  while (matched < length) {
    std::uint8_t byte = 0;
    LinkRead result = ReadExact(&byte, 1);
    if (result != LinkRead::Ok) return result;
    ++bytes;
    if (byte == static_cast<std::uint8_t>(pattern[matched])) {
      ++matched;
    } else {
      matched = byte == static_cast<std::uint8_t>(pattern[0]) ? 1 : 0;
    }
  }
  if (skipped != nullptr) *skipped = bytes - length;
  return LinkRead::Ok;
}

bool PtyLink::Pending(std::uint32_t waitMs) {
  if (master_ < 0 || dropped_) return false;
  pollfd pfd{master_, POLLIN, 0};
  return poll(&pfd, 1, static_cast<int>(waitMs)) > 0 && (pfd.revents & POLLIN) != 0;
}

bool PtyLink::WriteAll(const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t sent = 0;
  while (sent < length) {
    if (stop_ || dropped_) return false;
    ssize_t n = write(master_, data + sent, length - sent);
    if (n > 0) {
      sent += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd pfd{master_, POLLOUT, 0};
    poll(&pfd, 1, kSliceMs);
  }
  return true;
}

bool PtyLink::SendMessage(const std::uint8_t* data, std::uint32_t length) {
  if (Silent() || dropped_) return false;
  if (messages_ + 1 == faults_.noiseBeforeMessage) {
    if (!WriteAll(&kNoiseByte, 1)) return false;
    // Named as the PC's log names bytes that belong to no message.
    if (log_ != nullptr) log_->Sent("stray bytes", 0, 1);
  }
  if (!WriteAll(data, length)) return false;
  ++messages_;
  return true;
}

void PtyLink::DrainUntilStopped() {
  std::uint8_t byte = 0;
  while (ReadExact(&byte, 1) == LinkRead::Ok) {
  }
}

}  // namespace peers
