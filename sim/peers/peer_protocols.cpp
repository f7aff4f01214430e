#include "sim/peers/peer_protocols.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace peers {
namespace {

std::uint32_t Word(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

constexpr int kHoldPollMs = 10;

// Sends a two-byte message and logs it as `name` (for piece `number`).
bool SendCode(PtyLink& link, PeerLog& log, std::uint8_t code, const char* name, std::uint32_t number = 0) {
  const std::uint8_t message[2] = {code, 0x00};
  if (!link.SendMessage(message, sizeof message)) return false;
  log.Sent(name, number, sizeof message);
  return true;
}

bool SendPrompt(PtyLink& link, PeerLog& log, const char* text, std::uint8_t prompt, const char* name,
                std::uint32_t number = 0) {
  std::vector<std::uint8_t> message(text, text + std::strlen(text));
  if (prompt != 0) message.push_back(prompt);
  if (!link.SendMessage(message.data(), static_cast<std::uint32_t>(message.size()))) return false;
  log.Sent(name, number, static_cast<std::uint32_t>(message.size()));
  return true;
}

// Reads a whole message of the PC and logs it as `name`.
LinkRead ReadMessage(PtyLink& link, PeerLog& log, std::uint8_t* data, std::uint32_t length, const char* name,
                     std::uint32_t number = 0) {
  LinkRead read = link.ReadExact(data, length);
  if (read == LinkRead::Ok) log.Received(name, number, length);
  return read;
}

// A silent peer keeps taking bytes and answers nothing more.
bool GoSilent(PtyLink& link, PeerLog& log) {
  log.Note("silent from here on: nothing more is sent");
  link.DrainUntilStopped();
  return false;
}

// Waits while the hold stays on `number`; false when the peer stops first.
bool HoldWhileSet(PtyLink& link, PeerProgress& progress, PeerLog& log, std::uint64_t number, const std::string& where) {
  log.Note("holding " + where);
  progress.heldAtPiece = number;
  while (progress.holdAtPiece.load() == number && !link.Stopping()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kHoldPollMs));
  }
  progress.heldAtPiece = 0;
  if (link.Stopping()) return false;
  log.Note("hold released");
  return true;
}

// Piece (or block) `number`: read whole, or, when the hold is on it, half
// read, then held until the hold moves or the peer stops.
LinkRead ReadHeldPiece(PtyLink& link, PeerProgress& progress, PeerLog& log, std::uint8_t* data,
                       std::uint32_t length, std::uint32_t number, const char* name) {
  if (progress.holdAtPiece.load() != number) return ReadMessage(link, log, data, length, name, number);
  const std::uint32_t half = length / 2;
  LinkRead read = link.ReadExact(data, half);
  if (read != LinkRead::Ok) return read;
  if (!HoldWhileSet(link, progress, log, number,
                    "inside " + std::string(name) + " " + std::to_string(number) + " after " + std::to_string(half) +
                        " bytes")) {
    return LinkRead::Stopped;
  }
  read = link.ReadExact(data + half, length - half);
  if (read == LinkRead::Ok) log.Received(name, number, length);
  return read;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

void PeerProgress::Violation(const std::string& what) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    violations_.push_back(what);
  }
  if (onViolation) onViolation(what);
}

std::vector<std::string> PeerProgress::Violations() const {
  std::lock_guard<std::mutex> guard(lock_);
  return violations_;
}

std::uint32_t LoaderPieceAddress(std::uint32_t index, std::uint32_t count) {
  if (count >= 2 && index < count - 2) return kFirstPieceAddress + index * kPieceSize;
  // The loader block: the last two pieces (a lone piece is its first half).
  bool secondHalf = count >= 2 && index == count - 1;
  return kLoaderBlockAddress + (secondHalf ? kPieceSize : 0);
}

bool RunDownloadLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, PeerLog& log) {
  const char wakeUp[2] = {static_cast<char>(kWakeUp), 0};
  std::uint64_t early = 0;
  if (link.ReadUntil(wakeUp, &early) != LinkRead::Ok) return false;
  if (early != 0) progress.Violation("loader: " + std::to_string(early) + " bytes before the wake-up");
  log.Received("wake-up", 0, 1);
  // A hold on piece 0 keeps the ready answer back: the PC waits with its hourglass up.
  if (progress.holdAtPiece.load() == 0 && !HoldWhileSet(link, progress, log, 0, "before the ready answer")) return false;
  // Nothing is read between the wake-up and the answer, so a look just
  // before it sees every byte that came early, during a hold too.
  if (link.Pending(0)) progress.Violation("loader: the length came before the 05 00 answer");
  if (!SendCode(link, log, kReadyCode, "ready")) return GoSilent(link, log);
  std::uint8_t lengthBytes[4];
  if (ReadMessage(link, log, lengthBytes, sizeof lengthBytes, "image length") != LinkRead::Ok) return false;
  std::uint32_t length = Word(lengthBytes);
  // The image goes from the loader block (0x40000) to the flash's end.
  if (flash.Size() < kLoaderBlockAddress || length > flash.Size() - kLoaderBlockAddress)
    progress.Violation("loader: length " + Hex(length) + " is more than the flash takes from 0x40000 on");
  // The PC always sends whole pieces, the last one padded.
  std::uint32_t count = length / kPieceSize + (length % kPieceSize != 0 ? 1 : 0);
  std::vector<std::uint8_t> piece(kPieceSize);
  for (std::uint32_t index = 0; index < count; ++index) {
    // Looked at just before the request goes: nothing has been read since
    // the last piece, so every byte that came early is still there.
    if (link.Pending(0)) progress.Violation("loader: piece " + std::to_string(index + 1) + " came before its request");
    if (!SendCode(link, log, kPieceRequestCode, "piece request", index + 1)) return GoSilent(link, log);
    if (ReadHeldPiece(link, progress, log, piece.data(), kPieceSize, index + 1, "piece") != LinkRead::Ok) {
      return false;
    }
    flash.Write(LoaderPieceAddress(index, count), piece.data(), kPieceSize);
    ++progress.blocksWritten;
  }
  if (link.Pending(kAfterEndListenMs)) progress.Violation("loader: bytes after the last piece");
  return true;
}

namespace {

// What the boot loader checks in a block header before it writes the block.
bool BlockHeaderValid(const std::uint8_t* header, std::uint32_t flashSize, PeerProgress& progress) {
  const std::uint32_t address = Word(header), length = Word(header + 4), third = Word(header + 8);
  const std::string block = "boot loader: block at " + Hex(address) + " of " + Hex(length) + " bytes";
  bool valid = true;
  if (third != 0) {
    progress.Violation(block + ": third header word " + Hex(third) + ", not 0");
    valid = false;
  }
  if (address < kBootBlockEnd) {
    progress.Violation(block + " aims at the boot block");
    valid = false;
  }
  if (address > flashSize || length > flashSize - address) {
    progress.Violation(block + " leaves the flash");
    valid = false;
  }
  return valid;
}

}  // namespace

bool RunBootLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, std::uint32_t idleMs, PeerLog& log) {
  if (link.ReadUntil(kLoadCommand) != LinkRead::Ok) return false;
  log.Received("load command", 0, sizeof kLoadCommand - 1);
  if (!SendPrompt(link, log, "\r\nErase flash ", kErasePrompt, "erase prompt")) return GoSilent(link, log);
  std::uint8_t range[8];
  if (ReadMessage(link, log, range, sizeof range, "erase range") != LinkRead::Ok) return false;
  if (Word(range) != kLoaderBlockAddress || Word(range + 4) != kEraseLength)
    progress.Violation("boot loader: erase range " + Hex(Word(range)) + " + " + Hex(Word(range + 4)) +
                       ", not 0x40000 + 0xF40000");
  flash.Erase(Word(range), Word(range + 4));
  std::vector<std::uint8_t> block;
  for (std::uint32_t blocks = 0;; ++blocks) {
    const std::uint32_t number = blocks + 1;
    if (blocks > 0 && blocks % kDownloadPromptEvery == 0) {
      if (!SendPrompt(link, log, "\r\nReady for download", 0, "download prompt")) return GoSilent(link, log);
      std::uint8_t reply[kDownloadReplyLength];
      if (ReadMessage(link, log, reply, sizeof reply, "download reply") != LinkRead::Ok) return false;
      if (std::memcmp(reply, kDownloadReply, kDownloadReplyLength) != 0)
        progress.Violation("boot loader: the reply to the download prompt is not \"B000FF\\n\"");
    }
    if (!SendPrompt(link, log, "\r\nBlock ", kBlockPrompt, "block prompt", number)) return GoSilent(link, log);
    std::uint8_t header[kBlockHeaderSize];
    // After the last block the PC goes quiet: the image is in. A fragment
    // that went idle short of a whole header was sent after the end too.
    const std::uint64_t before = link.BytesReceived();
    LinkRead read = link.ReadExact(header, sizeof header, blocks > 0 ? idleMs : 0);
    if (read == LinkRead::Idle) {
      log.Note("no block header came: the image is in");
      if (link.BytesReceived() != before || link.Pending(kAfterEndListenMs)) {
        progress.Violation("boot loader: bytes after the end");
      }
      return link.BytesReceived() > 0 && blocks > 0;
    }
    if (read != LinkRead::Ok) return false;
    log.Received("block header", number, sizeof header);
    std::uint32_t length = Word(header + 4);
    if (length > kMaxBlockSize) return GoSilent(link, log);
    const bool valid = BlockHeaderValid(header, flash.Size(), progress);
    block.resize(length);
    if (ReadHeldPiece(link, progress, log, block.data(), length, number, "block") != LinkRead::Ok) return false;
    if (valid) flash.Write(Word(header), block.data(), length);
    ++progress.blocksWritten;
  }
}

}  // namespace peers
