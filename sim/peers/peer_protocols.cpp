#include "sim/peers/peer_protocols.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace peers {
namespace {

std::uint32_t Word(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool SendCode(PtyLink& link, std::uint8_t code) {
  const std::uint8_t message[2] = {code, 0x00};
  return link.SendMessage(message, sizeof message);
}

bool SendPrompt(PtyLink& link, const char* text, std::uint8_t prompt) {
  std::vector<std::uint8_t> message(text, text + std::strlen(text));
  if (prompt != 0) message.push_back(prompt);
  return link.SendMessage(message.data(), static_cast<std::uint32_t>(message.size()));
}

// A silent peer keeps taking bytes and answers nothing more.
bool GoSilent(PtyLink& link) {
  link.DrainUntilStopped();
  return false;
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

bool RunDownloadLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress) {
  const char wakeUp[2] = {static_cast<char>(kWakeUp), 0};
  std::uint64_t early = 0;
  if (link.ReadUntil(wakeUp, &early) != LinkRead::Ok) return false;
  if (early != 0) progress.Violation("loader: " + std::to_string(early) + " bytes before the wake-up");
  if (link.Pending(0)) progress.Violation("loader: the length came before the 05 00 answer");
  if (!SendCode(link, kReadyCode)) return GoSilent(link);
  std::uint8_t lengthBytes[4];
  if (link.ReadExact(lengthBytes, sizeof lengthBytes) != LinkRead::Ok) return false;
  std::uint32_t length = Word(lengthBytes);
  // The image goes from the loader block (0x40000) to the flash's end.
  if (flash.Size() < kLoaderBlockAddress || length > flash.Size() - kLoaderBlockAddress)
    progress.Violation("loader: length " + Hex(length) + " is more than the flash takes from 0x40000 on");
  // The PC always sends whole pieces, the last one padded.
  std::uint32_t count = length / kPieceSize + (length % kPieceSize != 0 ? 1 : 0);
  std::vector<std::uint8_t> piece(kPieceSize);
  for (std::uint32_t index = 0; index < count; ++index) {
    if (link.Pending(0)) progress.Violation("loader: piece " + std::to_string(index + 1) + " came before its request");
    if (!SendCode(link, kPieceRequestCode)) return GoSilent(link);
    if (link.ReadExact(piece.data(), kPieceSize) != LinkRead::Ok) return false;
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

bool RunBootLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, std::uint32_t idleMs) {
  if (link.ReadUntil(kLoadCommand) != LinkRead::Ok) return false;
  if (!SendPrompt(link, "\r\nErase flash ", kErasePrompt)) return GoSilent(link);
  std::uint8_t range[8];
  if (link.ReadExact(range, sizeof range) != LinkRead::Ok) return false;
  if (Word(range) != kLoaderBlockAddress || Word(range + 4) != kEraseLength)
    progress.Violation("boot loader: erase range " + Hex(Word(range)) + " + " + Hex(Word(range + 4)) +
                       ", not 0x40000 + 0xF40000");
  flash.Erase(Word(range), Word(range + 4));
  std::vector<std::uint8_t> block;
  for (std::uint32_t blocks = 0;; ++blocks) {
    if (blocks > 0 && blocks % kDownloadPromptEvery == 0) {
      if (!SendPrompt(link, "\r\nReady for download", 0)) return GoSilent(link);
      std::uint8_t reply[kDownloadReplyLength];
      if (link.ReadExact(reply, sizeof reply) != LinkRead::Ok) return false;
      if (std::memcmp(reply, kDownloadReply, kDownloadReplyLength) != 0)
        progress.Violation("boot loader: the reply to the download prompt is not \"B000FF\\n\"");
    }
    if (!SendPrompt(link, "\r\nBlock ", kBlockPrompt)) return GoSilent(link);
    std::uint8_t header[kBlockHeaderSize];
    // After the last block the PC goes quiet: the image is in.
    LinkRead read = link.ReadExact(header, sizeof header, blocks > 0 ? idleMs : 0);
    if (read == LinkRead::Idle) {
      if (link.Pending(kAfterEndListenMs)) progress.Violation("boot loader: bytes after the end");
      return link.BytesReceived() > 0 && blocks > 0;
    }
    if (read != LinkRead::Ok) return false;
    std::uint32_t length = Word(header + 4);
    if (length > kMaxBlockSize) return GoSilent(link);
    const bool valid = BlockHeaderValid(header, flash.Size(), progress);
    block.resize(length);
    if (link.ReadExact(block.data(), length) != LinkRead::Ok) return false;
    if (valid) flash.Write(Word(header), block.data(), length);
    ++progress.blocksWritten;
  }
}

}  // namespace peers
