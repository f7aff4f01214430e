// The Win32 link under Wine: the PC side of the loader path (wake-up, length,
// 128 KB pieces on request with the loader block last) through the real
// overlapped comm I/O, against a handheld-peer whose pseudo-terminal is
// published in the Wine prefix's dosdevices folder. Writes the image it sent
// to expected.bin in the current folder; exit 0 when every piece went out.
//
//   link_wine_probe.exe serial|usb
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "platform/screens.h"
#include "port/port.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

constexpr std::uint32_t kImageSize = 0x100000;  // flash image: boot block, loader block, payload
constexpr std::uint32_t kBootBlock = 0x40000;
constexpr std::uint32_t kPiece = 0x20000;

class PrintingFrontEnd : public screens::FrontEnd {
 public:
  int RunModal(screens::ScreenSession& session) override {
    std::printf("screen %d\n", session.id());
    session.End(0);
    return 0;
  }
  void OpenModeless(screens::ScreenSession&) override {}
  void CloseModeless(screens::ScreenSession&) override {}
  bool ChooseFile(const screens::FileDialogRequest&, char*, std::size_t) override { return false; }
  void CloseMainWindow() override {}
};

bool AwaitMessage(std::uint8_t code) {
  for (int i = 0; i < 20000; ++i) {
    if (wizard::ReceiveBuffer.MessageAt(0, code, 0) || wizard::ReceiveBuffer.MessageAt(1, code, 0)) return true;
    platform::SleepMs(1);
  }
  return false;
}

int Fail(const char* what) {
  std::printf("link_wine_probe: %s\n", what);
  wizard::ShutDownLink();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  PrintingFrontEnd frontEnd;
  screens::SetFrontEnd(&frontEnd);
  platform::SetTimeScale(1000);
  bool usb = argc > 1 && std::strcmp(argv[1], "usb") == 0;
  wizard::Wizard.ConnectionType = usb ? wizard::Connection::Usb : wizard::Connection::Serial;
  std::strcpy(wizard::Wizard.SerialPortName, "COM1:");

  std::vector<std::uint8_t> image(kImageSize);
  for (std::uint32_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 11));
  if (FILE* out = std::fopen("expected.bin", "wb")) {
    std::fwrite(image.data(), 1, image.size(), out);
    std::fclose(out);
  }

  if (!wizard::StartMessageLink()) return Fail("the link did not start");
  wizard::ClearReceiveMessage();
  std::uint8_t wakeUp = 'A';
  if (!wizard::SendBytes(&wakeUp, 1)) return Fail("wake-up not sent");
  if (!AwaitMessage(0x05)) return Fail("no ready answer");
  std::uint32_t length = kImageSize - kBootBlock;
  std::uint8_t lengthBytes[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                 static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  wizard::ClearReceiveMessage();
  if (!wizard::SendBytes(lengthBytes, sizeof lengthBytes)) return Fail("length not sent");
  std::vector<std::uint32_t> order;
  for (std::uint32_t offset = 2 * kBootBlock; offset < kImageSize; offset += kPiece) order.push_back(offset);
  order.push_back(kBootBlock);
  order.push_back(kBootBlock + kPiece);
  for (std::uint32_t offset : order) {
    if (!AwaitMessage(0x04)) return Fail("no piece request");
    wizard::ClearReceiveMessage();
    if (!wizard::SendBytes(image.data() + offset, kPiece)) return Fail("piece not sent");
  }
  wizard::ShutDownLink();
  if (wizard::ReaderReady) return Fail("the reader outlived the link");
  std::printf("link_wine_probe: %zu pieces sent over %s\n", order.size(), usb ? "USB" : "serial");
  return 0;
}
