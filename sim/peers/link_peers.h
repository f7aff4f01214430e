// Link peers of the simulated handheld: what answers romwiz on the serial or
// USB link after the handheld has restarted into its download loader, or
// when it was reset into its boot loader. Each peer runs on its own thread
// behind a pseudo-terminal that it publishes as a symlink in a `dosdevices`
// folder (romwiz's $XDG_CONFIG_HOME/romwiz/dosdevices, or a Wine prefix's),
// under "com1" or "wceusbsh001" unless told otherwise.
//
//   peers::FileFlashStore flash("state/flash.bin");     // or any FlashStore
//   peers::PeerOptions options;
//   options.kind = peers::PeerKind::UsbLoader;
//   options.dosdevices = home + "/.config/romwiz/dosdevices";
//   options.onRestart = [&] { /* the handheld now runs Windows CE */ };
//   std::string error;
//   std::unique_ptr<peers::Peer> peer = peers::StartPeer(options, flash, &error);
//   ...
//   peer->Stop();   // also done by the destructor; removes the symlink
//
// The download loader (serial and USB flavours speak alike): answers the
// wake-up "A" with 0x05 0x00, reads the 4-byte little-endian image length,
// asks for each 128 KB piece with 0x04 0x00 and writes it into the flash: the
// pieces before the last two from 0x80000 upward, the last two (the loader
// block) at 0x40000 and 0x60000. After the last piece it restarts into
// Windows CE (onRestart) and closes the link.
//
// The boot loader: on "l\r" it sends the erase prompt 0x01 and erases the
// 8-byte range (address, length) it reads; then it sends the block prompt 0x02
// before every block and writes each block (12-byte header: address, length,
// 0; then `length` bytes) at its address. Now and then it sends a text ending
// in "download" first and reads the 7-byte reply "B000FF\n". The PC sends no
// end marker: when no block header has come for `bootLoaderIdleMs` after at
// least one block, the flash is written up to the image end and it restarts.
//
// Strict: each peer records what a real one would refuse (PeerStatus::
// violations, PeerOptions::onViolation). The loader: bytes before the
// wake-up, the length before the 05 00 answer went out, a piece before its
// request, bytes after the last piece, a length longer than the flash takes
// from 0x40000 on. The boot loader: a reply other than "B000FF\n", an erase
// range other than 0x40000 + 0xF40000, a block header whose address or
// length leaves the flash or touches the boot block (below 0x40000; such a
// block is not written) or whose third word is not 0, and bytes after the end.
//
// Faults for tests (LinkFaults, counted from the start of the peer): stop
// answering after N bytes received or N messages sent, one noise byte before
// message N, or a dropped connection (the pseudo-terminal closes) after N
// bytes received. A hold stops the peer inside piece (or block) K, half of
// it received, until the hold is changed (SetHoldAtPiece) or the peer
// stops: a script can interrupt the PC side exactly there. A hold on 0
// keeps the loader's ready answer back after the wake-up.
//
// With a log path the peer appends what it receives and sends to that file
// (see peer_log.h).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peers {

// The handheld's flash as the peers write it.
class FlashStore {
 public:
  virtual ~FlashStore() = default;
  virtual std::uint32_t Size() const = 0;
  // Writes or erases (to 0xFF) what lies inside the flash; false when
  // any part was outside it or the store failed.
  virtual bool Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) = 0;
  virtual bool Erase(std::uint32_t address, std::uint32_t length) = 0;
};

// A flash kept in a file (the simulator's flash.bin); the file's size is the
// flash size.
class FileFlashStore : public FlashStore {
 public:
  explicit FileFlashStore(const std::string& path);
  ~FileFlashStore() override;
  FileFlashStore(const FileFlashStore&) = delete;
  FileFlashStore& operator=(const FileFlashStore&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  std::uint32_t Size() const override { return size_; }
  bool Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) override;
  bool Erase(std::uint32_t address, std::uint32_t length) override;

 private:
  int fd_ = -1;
  std::uint32_t size_ = 0;
};

// A flash kept in memory, filled with `fill` (the benchmarks' and the
// tests' handheld).
class MemoryFlashStore : public FlashStore {
 public:
  explicit MemoryFlashStore(std::uint32_t size, std::uint8_t fill = 0xFF) : bytes(size, fill) {}
  std::uint32_t Size() const override { return static_cast<std::uint32_t>(bytes.size()); }
  bool Write(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) override;
  bool Erase(std::uint32_t address, std::uint32_t length) override;
  std::vector<std::uint8_t> bytes;
};

enum class PeerKind { SerialLoader, UsbLoader, BootLoader };

constexpr std::uint64_t kNever = ~static_cast<std::uint64_t>(0);

struct LinkFaults {
  std::uint64_t silentAfterBytes = kNever;     // bytes received, then no more answers
  std::uint64_t silentAfterMessages = kNever;  // messages sent, then no more
  std::uint64_t noiseBeforeMessage = kNever;   // 1-based: message 1 is the first answer
  std::uint64_t dropAfterBytes = kNever;       // bytes received, then the link closes
  std::uint64_t holdAtPiece = kNever;          // 1-based piece or block to hold inside; 0: the ready answer
};

struct PeerOptions {
  PeerKind kind = PeerKind::SerialLoader;
  std::string dosdevices;  // folder of the symlink; created when missing
  std::string linkName;    // empty: "wceusbsh001" for the USB loader, else "com1"
  LinkFaults faults;
  std::function<void()> onRestart;  // called on the peer's thread
  // Called on the peer's thread for every protocol violation of the PC.
  std::function<void(const std::string&)> onViolation;
  std::uint32_t bootLoaderIdleMs = 3000;
  std::string logPath;  // the peer's log; empty: none
};

struct PeerStatus {
  std::uint64_t bytesReceived = 0;
  std::uint64_t messagesSent = 0;
  std::uint32_t blocksWritten = 0;  // pieces (loader) or blocks (boot loader)
  bool restarted = false;           // finished and restarted into Windows CE
  bool dropped = false;             // the connection was dropped (fault)
  std::uint64_t heldAtPiece = 0;    // the piece the peer holds inside now; 0: none
  std::vector<std::string> violations;  // what the PC did out of turn or out of range
};

class Peer {
 public:
  virtual ~Peer() = default;
  // Stops the peer, closes the pseudo-terminal and removes the symlink.
  virtual void Stop() = 0;
  virtual PeerStatus Status() const = 0;
  virtual const std::string& LinkPath() const = 0;  // the symlink
  virtual PeerKind LinkKind() const = 0;
  // Waits up to `ms` real milliseconds for the restart; true when it came.
  virtual bool WaitRestarted(std::uint32_t ms) const = 0;
  // Moves the hold (kNever: none); a peer holding elsewhere goes on.
  virtual void SetHoldAtPiece(std::uint64_t piece) = 0;
};

// Creates the pseudo-terminal, publishes it and starts the peer. Null (and
// `error` filled when given) when the link cannot be set up.
std::unique_ptr<Peer> StartPeer(const PeerOptions& options, FlashStore& flash, std::string* error = nullptr);

}  // namespace peers
