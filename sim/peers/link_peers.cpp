#include "sim/peers/link_peers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/peers/peer_protocols.h"
#include "sim/peers/pty_link.h"

namespace peers {

// --- FileFlashStore -------------------------------------------------------------

FileFlashStore::FileFlashStore(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
  struct stat info {};
  if (fd_ >= 0 && fstat(fd_, &info) == 0 && info.st_size > 0 && info.st_size <= 0xFFFFFFFFLL) {
    size_ = static_cast<std::uint32_t>(info.st_size);
  }
}

FileFlashStore::~FileFlashStore() {
  if (fd_ >= 0) close(fd_);
}

namespace {

// The part of [address, address + length) inside a flash of `size` bytes.
std::uint32_t InsideLength(std::uint32_t size, std::uint32_t address, std::uint32_t length) {
  if (address >= size) return 0;
  return std::min<std::uint32_t>(length, size - address);
}

bool WriteAt(int fd, std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  while (length > 0) {
    ssize_t n = pwrite(fd, data, length, address);
    if (n <= 0) return false;
    address += static_cast<std::uint32_t>(n);
    data += n;
    length -= static_cast<std::uint32_t>(n);
  }
  return true;
}

}  // namespace

bool FileFlashStore::Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  if (fd_ < 0) return false;
  std::uint32_t inside = InsideLength(size_, address, length);
  return WriteAt(fd_, address, data, inside) && inside == length;
}

bool FileFlashStore::Erase(std::uint32_t address, std::uint32_t length) {
  if (fd_ < 0) return false;
  std::uint32_t inside = InsideLength(size_, address, length);
  std::vector<std::uint8_t> erased(std::min<std::uint32_t>(inside, 0x40000), 0xFF);
  for (std::uint32_t done = 0; done < inside;) {
    std::uint32_t chunk = std::min<std::uint32_t>(inside - done, static_cast<std::uint32_t>(erased.size()));
    if (!WriteAt(fd_, address + done, erased.data(), chunk)) return false;
    done += chunk;
  }
  return inside == length;
}

// --- MemoryFlashStore ------------------------------------------------------------

bool MemoryFlashStore::Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t inside = InsideLength(Size(), address, length);
  std::copy(data, data + inside, bytes.begin() + (inside > 0 ? address : 0));
  return inside == length;
}

bool MemoryFlashStore::Erase(std::uint32_t address, std::uint32_t length) {
  std::uint32_t inside = InsideLength(Size(), address, length);
  std::fill(bytes.begin() + (inside > 0 ? address : 0), bytes.begin() + (inside > 0 ? address + inside : 0), 0xFF);
  return inside == length;
}

// --- the peer thread -------------------------------------------------------------

namespace {

std::string DefaultLinkName(PeerKind kind) { return kind == PeerKind::UsbLoader ? "wceusbsh001" : "com1"; }

const char* KindName(PeerKind kind) {
  switch (kind) {
    case PeerKind::SerialLoader: return "download loader (serial)";
    case PeerKind::UsbLoader: return "download loader (USB)";
    case PeerKind::BootLoader: return "boot loader";
  }
  return "peer";
}

class RunningPeer : public Peer {
 public:
  RunningPeer(const PeerOptions& options, FlashStore& flash)
      : options_(options), flash_(flash), link_(options.faults, stop_) {
    progress_.holdAtPiece = options.faults.holdAtPiece;
    progress_.onViolation = options.onViolation;
  }
  ~RunningPeer() override { Stop(); }

  bool Start(std::string& error) {
    std::string name = options_.linkName.empty() ? DefaultLinkName(options_.kind) : options_.linkName;
    if (!link_.Publish(options_.dosdevices, name, error)) return false;
    path_ = link_.SymlinkPath();
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    link_.Close();
  }

  PeerStatus Status() const override {
    PeerStatus status;
    status.bytesReceived = link_.BytesReceived();
    status.messagesSent = link_.MessagesSent();
    status.blocksWritten = progress_.blocksWritten;
    status.restarted = restarted_;
    status.dropped = link_.Dropped();
    status.heldAtPiece = progress_.heldAtPiece;
    status.violations = progress_.Violations();
    return status;
  }

  void SetHoldAtPiece(std::uint64_t piece) override { progress_.holdAtPiece = piece; }

  const std::string& LinkPath() const override { return path_; }
  PeerKind LinkKind() const override { return options_.kind; }

  bool WaitRestarted(std::uint32_t ms) const override {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return restarted_.load(); });
  }

 private:
  void Run() {
    PeerLog log(options_.logPath, std::string(KindName(options_.kind)) + " on " + path_);
    link_.SetLog(&log);
    bool finished = options_.kind == PeerKind::BootLoader
                        ? RunBootLoader(link_, flash_, progress_, options_.bootLoaderIdleMs, log)
                        : RunDownloadLoader(link_, flash_, progress_, log);
    link_.SetLog(nullptr);
    if (!finished) {
      log.Note(stop_ ? "stopped" : "ended without the image");
      return;
    }
    log.Note("restart into Windows CE");
    // The handheld restarts into Windows CE. A USB-serial link vanishes with
    // the device's reset. A serial cable does not: the PC's port stays open
    // on a quiet line until the peer is stopped (a pseudo-terminal that hangs
    // up under a pending wait is something no COM port does, and Wine's
    // server does not survive it).
    if (options_.kind == PeerKind::UsbLoader) link_.Close();
    if (options_.onRestart) options_.onRestart();
    std::lock_guard<std::mutex> lock(mutex_);
    restarted_ = true;
    ended_.notify_all();
  }

  PeerOptions options_;
  FlashStore& flash_;
  std::atomic<bool> stop_{false};
  PtyLink link_;
  PeerProgress progress_;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> restarted_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;
};

}  // namespace

std::unique_ptr<Peer> StartPeer(const PeerOptions& options, FlashStore& flash, std::string* error) {
  auto peer = std::make_unique<RunningPeer>(options, flash);
  std::string problem;
  if (!peer->Start(problem)) {
    if (error != nullptr) *error = problem;
    return nullptr;
  }
  return peer;
}

}  // namespace peers
