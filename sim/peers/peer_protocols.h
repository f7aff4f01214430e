// The two programs that answer on the handheld's end of the link: the
// download loader and the boot loader. Each runs until it has restarted the
// handheld (true), or until it is stopped, goes silent or the link drops
// (false).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/peers/link_peers.h"
#include "sim/peers/peer_log.h"
#include "sim/peers/pty_link.h"

namespace peers {

// Wire values of the loader and the boot loader.
constexpr std::uint8_t kWakeUp = 'A';
constexpr std::uint8_t kReadyCode = 0x05;
constexpr std::uint8_t kPieceRequestCode = 0x04;
constexpr std::uint32_t kPieceSize = 0x20000;       // 128 KB
constexpr std::uint32_t kLoaderBlockAddress = 0x40000;
constexpr std::uint32_t kFirstPieceAddress = 0x80000;
constexpr char kLoadCommand[] = "l\r";
constexpr std::uint8_t kErasePrompt = 0x01;
constexpr std::uint8_t kBlockPrompt = 0x02;
constexpr char kDownloadReply[] = "B000FF\n";
constexpr std::uint32_t kDownloadReplyLength = sizeof kDownloadReply - 1;
constexpr std::uint32_t kBlockHeaderSize = 12;
// Largest block the boot loader takes; a header asking for more is a broken
// PC side, and the boot loader stops answering rather than flood its RAM.
constexpr std::uint32_t kMaxBlockSize = 0x100000;
// The boot loader asks for the download reply before every this many blocks.
constexpr std::uint32_t kDownloadPromptEvery = 4;

// The boot block below the loader block: the boot loader never writes it.
constexpr std::uint32_t kBootBlockEnd = 0x40000;
// The erase range the PC sends at the start of a boot-loader download.
constexpr std::uint32_t kEraseLength = 0xF40000;
// How long the peer listens after the end for bytes the PC should not send.
constexpr std::uint32_t kAfterEndListenMs = 100;

// Counters and violations the peer's owner reads, and the hold it moves,
// while the peer runs.
struct PeerProgress {
  std::atomic<std::uint32_t> blocksWritten{0};
  std::atomic<std::uint64_t> holdAtPiece{kNever};
  std::atomic<std::uint64_t> heldAtPiece{0};
  std::function<void(const std::string&)> onViolation;  // set before the peer starts

  void Violation(const std::string& what);
  std::vector<std::string> Violations() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> violations_;
};

// Flash address of loader piece `index` of `count`: the pieces before the
// last two from 0x80000 upward, the last two at 0x40000 and 0x60000.
std::uint32_t LoaderPieceAddress(std::uint32_t index, std::uint32_t count);

bool RunDownloadLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, PeerLog& log);
bool RunBootLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, std::uint32_t idleMs, PeerLog& log);

}  // namespace peers
