#include "sim/peers/peer_protocols.h"

#include <chrono>
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

// Piece (or block) `number`: read whole, or, when the hold is on it, half
// read, then held until the hold moves or the peer stops.
LinkRead ReadHeldPiece(PtyLink& link, PeerProgress& progress, PeerLog& log, std::uint8_t* data,
                       std::uint32_t length, std::uint32_t number, const char* name) {
  if (progress.holdAtPiece.load() != number) return ReadMessage(link, log, data, length, name, number);
  const std::uint32_t half = length / 2;
  LinkRead read = link.ReadExact(data, half);
  if (read != LinkRead::Ok) return read;
  log.Note("holding inside " + std::string(name) + " " + std::to_string(number) + " after " + std::to_string(half) +
           " bytes");
  progress.heldAtPiece = number;
  while (progress.holdAtPiece.load() == number && !link.Stopping()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kHoldPollMs));
  }
  progress.heldAtPiece = 0;
  if (link.Stopping()) return LinkRead::Stopped;
  log.Note("hold released");
  read = link.ReadExact(data + half, length - half);
  if (read == LinkRead::Ok) log.Received(name, number, length);
  return read;
}

}  // namespace

std::uint32_t LoaderPieceAddress(std::uint32_t index, std::uint32_t count) {
  if (count >= 2 && index < count - 2) return kFirstPieceAddress + index * kPieceSize;
  // The loader block: the last two pieces (a lone piece is its first half).
  bool secondHalf = count >= 2 && index == count - 1;
  return kLoaderBlockAddress + (secondHalf ? kPieceSize : 0);
}

bool RunDownloadLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, PeerLog& log) {
  const char wakeUp[2] = {static_cast<char>(kWakeUp), 0};
  if (link.ReadUntil(wakeUp) != LinkRead::Ok) return false;
  log.Received("wake-up", 0, 1);
  if (!SendCode(link, log, kReadyCode, "ready")) return GoSilent(link, log);
  std::uint8_t lengthBytes[4];
  if (ReadMessage(link, log, lengthBytes, sizeof lengthBytes, "image length") != LinkRead::Ok) return false;
  std::uint32_t length = Word(lengthBytes);
  // The PC always sends whole pieces, the last one padded.
  std::uint32_t count = length / kPieceSize + (length % kPieceSize != 0 ? 1 : 0);
  std::vector<std::uint8_t> piece(kPieceSize);
  for (std::uint32_t index = 0; index < count; ++index) {
    if (!SendCode(link, log, kPieceRequestCode, "piece request", index + 1)) return GoSilent(link, log);
    if (ReadHeldPiece(link, progress, log, piece.data(), kPieceSize, index + 1, "piece") != LinkRead::Ok) {
      return false;
    }
    flash.Write(LoaderPieceAddress(index, count), piece.data(), kPieceSize);
    ++progress.blocksWritten;
  }
  return true;
}

bool RunBootLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, std::uint32_t idleMs, PeerLog& log) {
  if (link.ReadUntil(kLoadCommand) != LinkRead::Ok) return false;
  log.Received("load command", 0, sizeof kLoadCommand - 1);
  if (!SendPrompt(link, log, "\r\nErase flash ", kErasePrompt, "erase prompt")) return GoSilent(link, log);
  std::uint8_t range[8];
  if (ReadMessage(link, log, range, sizeof range, "erase range") != LinkRead::Ok) return false;
  flash.Erase(Word(range), Word(range + 4));
  std::vector<std::uint8_t> block;
  for (std::uint32_t blocks = 0;; ++blocks) {
    const std::uint32_t number = blocks + 1;
    if (blocks > 0 && blocks % kDownloadPromptEvery == 0) {
      if (!SendPrompt(link, log, "\r\nReady for download", 0, "download prompt")) return GoSilent(link, log);
      std::uint8_t reply[kDownloadReplyLength];
      if (ReadMessage(link, log, reply, sizeof reply, "download reply") != LinkRead::Ok) return false;
    }
    if (!SendPrompt(link, log, "\r\nBlock ", kBlockPrompt, "block prompt", number)) return GoSilent(link, log);
    std::uint8_t header[kBlockHeaderSize];
    // After the last block the PC goes quiet: the image is in.
    LinkRead read = link.ReadExact(header, sizeof header, blocks > 0 ? idleMs : 0);
    if (read == LinkRead::Idle) {
      log.Note("no block header came: the image is in");
      return link.BytesReceived() > 0 && blocks > 0;
    }
    if (read != LinkRead::Ok) return false;
    log.Received("block header", number, sizeof header);
    std::uint32_t address = Word(header);
    std::uint32_t length = Word(header + 4);
    if (length > kMaxBlockSize) return GoSilent(link, log);
    block.resize(length);
    if (ReadHeldPiece(link, progress, log, block.data(), length, number, "block") != LinkRead::Ok) return false;
    flash.Write(address, block.data(), length);
    ++progress.blocksWritten;
  }
}

}  // namespace peers
