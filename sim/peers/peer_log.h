// The handheld's side of the transfer log: what a link peer received and
// sent, written to a file in the handheld's folder line by line, in the
// same line form as romwiz's transfer log ("   12.345  pc>hh piece 3,
// 131072 bytes"), so that the two can be read side by side. Each peer start
// begins a session. The file is rotated at kPeerLogRotateBytes, one old file
// kept with ".1" added to its name.
#pragma once
#include <cstdint>
#include <string>

namespace peers {

constexpr std::uint64_t kPeerLogRotateBytes = 1u << 20;

class PeerLog {
 public:
  // Appends to `path` (empty: nothing is written) and begins a session
  // titled `title`.
  PeerLog(const std::string& path, const std::string& title);
  ~PeerLog();
  PeerLog(const PeerLog&) = delete;
  PeerLog& operator=(const PeerLog&) = delete;

  // A message the PC sent (Received) or the peer sent (Sent); `number` is
  // its piece or block number, 0 for none.
  void Received(const char* message, std::uint32_t number, std::uint32_t length);
  void Sent(const char* message, std::uint32_t number, std::uint32_t length);
  void Note(const std::string& text);

 private:
  void Message(const char* direction, const char* message, std::uint32_t number, std::uint32_t length);
  void Line(const std::string& text);

  int fd_ = -1;
  std::uint64_t startMs_ = 0;
};

}  // namespace peers
