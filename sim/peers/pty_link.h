// The handheld's end of the link: the master side of a pseudo-terminal whose
// slave is published as a symlink, with the link faults applied to what
// passes through it. Used by the peer threads only.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "sim/peers/link_peers.h"
#include "sim/peers/peer_log.h"

namespace peers {

enum class LinkRead { Ok, Stopped, Dropped, Idle };

class PtyLink {
 public:
  PtyLink(const LinkFaults& faults, const std::atomic<bool>& stop) : faults_(faults), stop_(stop) {}
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  // Creates the pseudo-terminal (raw, 115200 8N1) and the symlink
  // `folder`/`name` to its slave. False with `error` filled on failure.
  bool Publish(const std::string& folder, const std::string& name, std::string& error);
  const std::string& SymlinkPath() const { return symlink_; }

  // Reads exactly `length` bytes. With `idleMs` non-zero, gives up (Idle)
  // when not one byte has come for that long (real milliseconds).
  LinkRead ReadExact(std::uint8_t* buffer, std::uint32_t length, std::uint32_t idleMs = 0);
  // Reads until `pattern` has come (bytes before it are skipped and counted
  // in `skipped` when given).
  LinkRead ReadUntil(const char* pattern, std::uint64_t* skipped = nullptr);
  // True when a byte has come that nobody has read yet, waiting up to
  // `waitMs` real milliseconds for one (0: only what is there now).
  bool Pending(std::uint32_t waitMs);
  // Sends one message (a noise byte first when the faults say so). Once the
  // peer has gone silent nothing is sent, and false is returned.
  bool SendMessage(const std::uint8_t* data, std::uint32_t length);
  // Reads and discards everything until the stop or a drop (a silent peer).
  void DrainUntilStopped();

  // Closes the pseudo-terminal and removes the symlink (idempotent).
  void Close();

  // Where the faults that fire are noted (null: nowhere).
  void SetLog(PeerLog* log) { log_ = log; }
  bool Stopping() const { return stop_; }

  std::uint64_t BytesReceived() const { return received_; }
  std::uint64_t MessagesSent() const { return messages_; }
  bool Dropped() const { return dropped_; }

 private:
  bool Silent() const;
  bool WriteAll(const std::uint8_t* data, std::uint32_t length);

  LinkFaults faults_;
  const std::atomic<bool>& stop_;
  PeerLog* log_ = nullptr;
  int master_ = -1;
  int slave_ = -1;  // held open so the line keeps its settings between opens
  std::string symlink_;
  std::string slaveName_;  // what the symlink names
  std::atomic<std::uint64_t> received_{0};
  std::atomic<std::uint64_t> messages_{0};
  std::atomic<bool> dropped_{false};
};

}  // namespace peers
