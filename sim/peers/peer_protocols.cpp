#include "sim/peers/peer_protocols.h"

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

}  // namespace

std::uint32_t LoaderPieceAddress(std::uint32_t index, std::uint32_t count) {
  if (count >= 2 && index < count - 2) return kFirstPieceAddress + index * kPieceSize;
  // The loader block: the last two pieces (a lone piece is its first half).
  bool secondHalf = count >= 2 && index == count - 1;
  return kLoaderBlockAddress + (secondHalf ? kPieceSize : 0);
}

bool RunDownloadLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress) {
  const char wakeUp[2] = {static_cast<char>(kWakeUp), 0};
  if (link.ReadUntil(wakeUp) != LinkRead::Ok) return false;
  if (!SendCode(link, kReadyCode)) return GoSilent(link);
  std::uint8_t lengthBytes[4];
  if (link.ReadExact(lengthBytes, sizeof lengthBytes) != LinkRead::Ok) return false;
  std::uint32_t length = Word(lengthBytes);
  // The PC always sends whole pieces, the last one padded.
  std::uint32_t count = length / kPieceSize + (length % kPieceSize != 0 ? 1 : 0);
  std::vector<std::uint8_t> piece(kPieceSize);
  for (std::uint32_t index = 0; index < count; ++index) {
    if (!SendCode(link, kPieceRequestCode)) return GoSilent(link);
    if (link.ReadExact(piece.data(), kPieceSize) != LinkRead::Ok) return false;
    flash.Write(LoaderPieceAddress(index, count), piece.data(), kPieceSize);
    ++progress.blocksWritten;
  }
  return true;
}

bool RunBootLoader(PtyLink& link, FlashStore& flash, PeerProgress& progress, std::uint32_t idleMs) {
  if (link.ReadUntil(kLoadCommand) != LinkRead::Ok) return false;
  if (!SendPrompt(link, "\r\nErase flash ", kErasePrompt)) return GoSilent(link);
  std::uint8_t range[8];
  if (link.ReadExact(range, sizeof range) != LinkRead::Ok) return false;
  flash.Erase(Word(range), Word(range + 4));
  std::vector<std::uint8_t> block;
  for (std::uint32_t blocks = 0;; ++blocks) {
    if (blocks > 0 && blocks % kDownloadPromptEvery == 0) {
      if (!SendPrompt(link, "\r\nReady for download", 0)) return GoSilent(link);
      std::uint8_t reply[kDownloadReplyLength];
      if (link.ReadExact(reply, sizeof reply) != LinkRead::Ok) return false;
    }
    if (!SendPrompt(link, "\r\nBlock ", kBlockPrompt)) return GoSilent(link);
    std::uint8_t header[kBlockHeaderSize];
    // After the last block the PC goes quiet: the image is in.
    LinkRead read = link.ReadExact(header, sizeof header, blocks > 0 ? idleMs : 0);
    if (read == LinkRead::Idle) return link.BytesReceived() > 0 && blocks > 0;
    if (read != LinkRead::Ok) return false;
    std::uint32_t address = Word(header);
    std::uint32_t length = Word(header + 4);
    if (length > kMaxBlockSize) return GoSilent(link);
    block.resize(length);
    if (link.ReadExact(block.data(), length) != LinkRead::Ok) return false;
    flash.Write(address, block.data(), length);
    ++progress.blocksWritten;
  }
}

}  // namespace peers
