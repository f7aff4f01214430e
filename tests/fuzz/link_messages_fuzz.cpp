// The PC's side of the loader and boot-loader links fed arbitrary peer bytes:
// the real port readers (serial, USB, boot loader), the receive buffer and the
// download protocols run on their own threads against the in-memory link of
// seams/, which plays the handheld's side from the input.
//
// Input: one set-up byte, then bursts, each
//   u8 header: bits 0-5 length, bit 6 unsolicited, bit 7 read one byte at a time
//              (length 0 with bit 7: the link fails here; length 63: the next
//              up to 62 bytes repeated kLongBurstRepeats times, a burst longer
//              than the receive buffer)
//   then `length` bytes.
// Set-up byte: bits 0-1 the path (0 loader over serial, 1 loader over USB,
// 2 boot loader, 3 the resume worker, which goes on to the serial loader),
// bits 2-3 the image (see kPayloads), bit 4 the first open fails, bit 5 the
// second open fails, bit 6 the event wait is not available (the readers
// poll), bit 7 the USB driver controls are unknown.
//
// Checks besides the sanitizers and the link's own (no use of a closed port,
// every port closed once):
//   - what the PC sent is a prefix of what the protocol sends for the image:
//     loader: "A", the length, the payload from 0x80000 in 128 KB pieces
//     (the last one padded with 0xFF), then the loader block; boot loader:
//     "l\r", then erase ranges, block headers with their blocks in address
//     order, and download replies, nothing after the last block;
//   - nothing is sent without a reason: no length before a ready answer, no
//     more pieces than piece requests, no more erase ranges and blocks than
//     prompts, no more download replies than "download" texts;
//   - the receive buffer always ends with its terminating zero.
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "port/port.h"
#include "seams/memory_link.h"
#include "transfer/download.h"
#include "wizard/wizard_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using memorylink::Fail;

constexpr std::uint32_t kHeader = 32;
constexpr std::uint32_t kPayloads[] = {
    0x80000,                  // boot block and loader block only
    0x80000 + 0x20000 + 0x123,  // a short last piece and block, padded
    0xC0000,                  // whole pieces and blocks
    0x7FF00,                  // too short: refused before anything is sent
};
constexpr std::uint8_t kPathMask = 0x03, kImageShift = 2, kImageMask = 0x03;
constexpr std::uint8_t kFailFirstOpen = 0x10, kFailSecondOpen = 0x20, kEventsUnsupported = 0x40,
                       kUsbControlsUnknown = 0x80;
constexpr std::uint8_t kLengthMask = 0x3F, kUnsolicited = 0x40, kSplit = 0x80;
constexpr std::uint8_t kLongBurst = kLengthMask;
constexpr std::size_t kLongBurstRepeats = 20;
constexpr std::uint8_t kReady = 0x05, kPieceRequest = 0x04, kErasePrompt = 0x01, kBlockPrompt = 0x02;
constexpr std::uint32_t kLengthWord = 4, kRangeBytes = 8, kBlockHeaderBytes = 12;
constexpr char kDownloadReply[] = "B000FF\n";
constexpr char kDownloadPrompt[] = "download";

enum class Path { SerialLoader, UsbLoader, BootLoader, Resume };

// --- the images -------------------------------------------------------------------

struct Image {
  std::string path;
  Bytes payload;
};

std::uint32_t Word(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24; }

const std::vector<Image>& Images() {
  static const std::vector<Image> images = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/link-fuzz-XXXXXX";
    if (!mkdtemp(folder.data())) Fail("cannot make a scratch folder");
    // The registry store the finished transfer deletes its record from.
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    std::filesystem::create_directories(folder + "/romwiz");
    std::ofstream(folder + "/romwiz/registry.reg") << "REGEDIT4\n";
    std::vector<Image> made;
    for (std::uint32_t size : kPayloads) {
      Image image{folder + "/image" + std::to_string(made.size()) + ".nbf", Bytes(size)};
      for (std::uint32_t i = 0; i < size; ++i)  // every piece and block differs
        image.payload[i] = static_cast<std::uint8_t>((i >> 17) * 29 + (i >> 9) + i * 13);
      std::ofstream file(image.path, std::ios::binary);
      file << "LUMO-5800-ENG-1.41-0------------";
      file.write(reinterpret_cast<const char*>(image.payload.data()), size);
      made.push_back(std::move(image));
    }
    static const std::string* scratch = new std::string(folder);  // still there at exit
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(*scratch, ec); });
    return made;
  }();
  return images;
}

// The payload byte at `offset`, 0xFF past its end (the padding).
std::uint8_t PaddedByte(const Bytes& payload, std::uint64_t offset) {
  return offset < payload.size() ? payload[offset] : 0xFF;
}

// --- the input ------------------------------------------------------------------------

std::vector<memorylink::Burst> Bursts(const std::uint8_t* data, std::size_t size) {
  std::vector<memorylink::Burst> bursts;
  std::size_t at = 0;
  while (at < size) {
    std::uint8_t header = data[at++];
    memorylink::Burst burst;
    bool longBurst = (header & kLengthMask) == kLongBurst;
    std::size_t length = std::min<std::size_t>(longBurst ? kLongBurst - 1 : header & kLengthMask, size - at);
    burst.unsolicited = header & kUnsolicited;
    burst.split = header & kSplit;
    burst.drop = (header & kLengthMask) == 0 && burst.split;
    for (std::size_t i = 0; i < (longBurst ? kLongBurstRepeats : 1); ++i)
      burst.bytes.insert(burst.bytes.end(), data + at, data + at + length);
    at += length;
    bursts.push_back(std::move(burst));
  }
  return bursts;
}

std::size_t CountByte(const Bytes& bytes, std::uint8_t value) {
  return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), value));
}

std::size_t CountText(const Bytes& bytes, const char* text) {
  std::size_t length = std::strlen(text), count = 0;
  for (std::size_t i = 0; i + length <= bytes.size(); ++i)
    count += std::memcmp(bytes.data() + i, text, length) == 0;
  return count;
}

// --- what the PC sent ----------------------------------------------------------------

// The loader path's whole output for `image`, byte `i` of it.
struct LoaderStream {
  const Bytes& payload;
  std::uint32_t length;  // the announced image length
  explicit LoaderStream(const Bytes& p)
      : payload(p),
        length(static_cast<std::uint32_t>((p.size() - wizard::kLoaderBlockOffset + wizard::kPieceSize - 1) /
                                          wizard::kPieceSize * wizard::kPieceSize)) {}
  std::uint64_t Size() const { return 1 + kLengthWord + length; }
  std::uint8_t At(std::uint64_t i) const {
    if (i == 0) return 'A';
    if (i < 1 + kLengthWord) return static_cast<std::uint8_t>(length >> (8 * (i - 1)));
    std::uint64_t sent = i - 1 - kLengthWord;
    std::uint64_t fromFile = length - wizard::kLoaderBlockSize;
    if (sent < fromFile) return PaddedByte(payload, wizard::kFirstFilePieceOffset + sent);
    return payload[wizard::kLoaderBlockOffset + (sent - fromFile)];
  }
};

void CheckLoaderOutput(const Bytes& payload, const Bytes& sent, const Bytes& heard) {
  if (payload.size() < wizard::kMinimumPayload) {
    if (!sent.empty()) Fail("something was sent for an image that is too short");
    return;
  }
  LoaderStream expected(payload);
  if (sent.size() > expected.Size()) Fail("more sent than the image");
  for (std::size_t i = 0; i < sent.size(); ++i)
    if (sent[i] != expected.At(i)) Fail("sent byte " + std::to_string(i) + " is not the image's");
  if (sent.size() > 1 && CountByte(heard, kReady) == 0) Fail("the length went out without a ready answer");
  std::size_t pieces = sent.size() <= 1 + kLengthWord
                           ? 0
                           : (sent.size() - 1 - kLengthWord + wizard::kPieceSize - 1) / wizard::kPieceSize;
  if (pieces > CountByte(heard, kPieceRequest)) Fail("more pieces sent than requested");
}

void CheckBootLoaderOutput(const Bytes& payload, const Bytes& sent, const Bytes& heard) {
  if (payload.size() < wizard::kMinimumPayload) {
    if (!sent.empty()) Fail("something was sent for an image that is too short");
    return;
  }
  if (sent.empty()) return;
  const std::uint8_t load[] = {'l', '\r'};
  if (std::memcmp(sent.data(), load, std::min<std::size_t>(sent.size(), sizeof load)) != 0)
    Fail("the load command is not first");
  std::size_t at = std::min<std::size_t>(sent.size(), sizeof load);
  std::uint64_t address = wizard::kLoaderBlockOffset;
  std::size_t ranges = 0, blocks = 0, replies = 0;
  while (at < sent.size()) {
    if (address >= payload.size()) Fail("sent after the last block");
    std::size_t left = sent.size() - at;
    if (sent[at] == kDownloadReply[0]) {
      if (left < sizeof kDownloadReply - 1 || std::memcmp(&sent[at], kDownloadReply, sizeof kDownloadReply - 1) != 0)
        Fail("a damaged download reply");
      at += sizeof kDownloadReply - 1;
      ++replies;
      continue;
    }
    if (left < kRangeBytes || Word(&sent[at]) != address) Fail("an erase range or block header for the wrong address");
    std::uint32_t length = Word(&sent[at + 4]);
    if (length == wizard::kEraseLength) {
      at += kRangeBytes;
      ++ranges;
      continue;
    }
    if (length != wizard::kBlockSize || left < kBlockHeaderBytes || Word(&sent[at + 8]) != 0)
      Fail("a damaged block header");
    at += kBlockHeaderBytes;
    std::size_t body = std::min<std::size_t>(wizard::kBlockSize, sent.size() - at);
    for (std::size_t i = 0; i < body; ++i)
      if (sent[at + i] != PaddedByte(payload, address + i)) Fail("a block is not the image's");
    at += body;
    address += wizard::kBlockSize;
    ++blocks;
  }
  if (ranges + blocks > CountByte(heard, kErasePrompt) + CountByte(heard, kBlockPrompt))
    Fail("more erase ranges and blocks than prompts");
  if (replies > CountText(heard, kDownloadPrompt)) Fail("more download replies than prompts");
}

// --- one run ------------------------------------------------------------------------

void RunTransfer(Path path) {
  switch (path) {
    case Path::BootLoader: wizard::BootLoaderTransfer(); break;
    case Path::Resume: wizard::ResumeDownloadWorker(nullptr); break;
    default:
      if (wizard::StartMessageLink(wizard::PortFailureReport::LeaveToCaller)) wizard::LoaderTransfer();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t setup = data[0];
  const Path path = static_cast<Path>(setup & kPathMask);
  const Image& image = Images()[(setup >> kImageShift) & kImageMask];

  memorylink::Options options;
  options.failOpen[0] = setup & kFailFirstOpen;
  options.failOpen[1] = setup & kFailSecondOpen;
  options.eventsUnsupported = setup & kEventsUnsupported;
  options.usbArm = (setup & kUsbControlsUnknown) ? linkport::ControlResult::Unsupported : linkport::ControlResult::Done;
  memorylink::Reset(options, Bursts(data + 1, size - 1));

  wizard::ResetWizardState();
  wizard::Wizard.ConnectionType = path == Path::UsbLoader ? wizard::Connection::Usb : wizard::Connection::Serial;
  wizard::Wizard.Critical = path == Path::BootLoader;
  std::snprintf(wizard::Wizard.SerialPortName, sizeof wizard::Wizard.SerialPortName, "COM1:");
  std::snprintf(wizard::Wizard.FlashFile, sizeof wizard::Wizard.FlashFile, "%s", image.path.c_str());
  wizard::Wizard.ImageSizeKB = static_cast<std::uint32_t>((kHeader + image.payload.size()) >> 10);
  // The handheld the resume worker expects: the image's model and language.
  std::snprintf(wizard::Wizard.DeviceInfo.ModelID, sizeof wizard::Wizard.DeviceInfo.ModelID, "LUMO-5800");
  std::snprintf(wizard::Wizard.DeviceInfo.Lang, sizeof wizard::Wizard.DeviceInfo.Lang, "ENG");
  wizard::ClearReceiveBuffer();

  std::atomic<bool> finished{false};
  std::thread worker([&] {
    RunTransfer(path);
    finished = true;
  });
  memorylink::PlayPeer([&] {
    if (wizard::ReceiveBuffer.At(wizard::kReceiveLimit) != 0 || wizard::ReceiveCursor > wizard::kReceiveLimit)
      Fail("the receive buffer lost its terminating zero");
    return finished.load();
  });
  worker.join();
  wizard::ShutDownTransfer();
  wizard::TakeTransferErrorScreen();
  memorylink::CheckAllClosed();

  if (memorylink::WriteOverflow()) Fail("the PC sent more than any transfer holds");
  for (const std::string& name : memorylink::Opened())
    if (name != (path == Path::UsbLoader ? "\\\\.\\WCEUSBSH001" : "\\\\.\\COM1")) Fail("opened " + name);
  if (path == Path::BootLoader) {
    CheckBootLoaderOutput(image.payload, memorylink::Written(), memorylink::Delivered());
  } else {
    CheckLoaderOutput(image.payload, memorylink::Written(), memorylink::Delivered());
  }
  return 0;
}
