// Opening, resolving, sending and closing the link.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "platform/posix/link_posix.h"
#include "port/port.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace porttest {
namespace {

std::string DevicePath(const char* portName) {
  char path[100];
  wizard::LinkDevicePath(portName, path, sizeof path);
  return path;
}

TEST(LinkDevicePath, FollowsConnectionAndCritical) {
  testsupport::ResetWizardForTest();
  EXPECT_EQ(DevicePath(""), "\\\\.\\COM1");
  EXPECT_EQ(DevicePath("COM3:"), "\\\\.\\COM3");
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  EXPECT_EQ(DevicePath("COM3:"), "\\\\.\\WCEUSBSH001");
  wizard::Wizard.Critical = true;
  EXPECT_EQ(DevicePath("COM3:"), "\\\\.\\COM3");
}

TEST_F(LinkTest, DeviceNamesResolveThroughDosdevicesThenFallBack) {
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\COM2"), "/dev/ttyS1");
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\WCEUSBSH001"), "/dev/ttyUSB0");
  EXPECT_EQ(linkport::ResolveDeviceName("COM2"), "");
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\LPT1"), "");
  Line("com2");
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\COM2"), dosdevices_ + "/com2");
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\com2"), dosdevices_ + "/com2");
  // Without XDG_CONFIG_HOME the folder is under ~/.config.
  unsetenv("XDG_CONFIG_HOME");
  std::string home = getenv("HOME") != nullptr ? getenv("HOME") : "";
  setenv("HOME", folder_.c_str(), 1);
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\WCEUSBSH001"), "/dev/ttyUSB0");
  std::filesystem::create_directories(folder_ + "/.config/romwiz/dosdevices");
  ASSERT_EQ(symlink("/dev/null", (folder_ + "/.config/romwiz/dosdevices/wceusbsh001").c_str()), 0);
  EXPECT_EQ(linkport::ResolveDeviceName("\\\\.\\WCEUSBSH001"), folder_ + "/.config/romwiz/dosdevices/wceusbsh001");
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
}

TEST_F(LinkTest, OpenFailureShowsErrorAndEndsWizard) {
  ui_.Answer(wizard::kOpenPortFailureScreen, screens::kEscapeCommand);
  std::unique_ptr<screens::ScreenSession> progress =
      std::make_unique<screens::ScreenSession>(*screens::FindScreen(102));
  wizard::ProgressScreen = progress.get();
  screens::ScreenSession* preparing = screens::OpenWaitScreen(153);
  wizard::Wizard.PreparingScreen = preparing;
  // No link published, and COM200 has no device either.
  EXPECT_EQ(wizard::OpenLinkPort("COM200:"), 0);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
  EXPECT_TRUE(preparing->Ended());
  EXPECT_EQ(preparing->Result(), 2);
  EXPECT_FALSE(progress->Visible());
  EXPECT_EQ(ui_.TimesShown(143), 1);
  EXPECT_EQ(ui_.MainWindowClosed(), 1);
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
  wizard::ProgressScreen = nullptr;
  screens::CloseWaitScreen(wizard::Wizard.PreparingScreen);
}

TEST_F(LinkTest, PortIsNotShared) {
  Line("com1");
  ASSERT_EQ(wizard::OpenLinkPort("COM1:"), 1);
  EXPECT_EQ(linkport::Open("\\\\.\\COM1"), nullptr);
  wizard::ShutDownLink();
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
  linkport::Port* again = linkport::Open("\\\\.\\COM1");
  EXPECT_NE(again, nullptr) << "ShutDownLink left the port open";
  linkport::Close(again);
}

std::vector<std::uint32_t> pieces;
void RecordPiece(std::uint32_t length) { pieces.push_back(length); }

TEST_F(LinkTest, SendGoesOutInPiecesOf12288AndArrivesWhole) {
  peers::PtyLink& line = Line("com1");
  ASSERT_EQ(wizard::OpenLinkPort("COM1:"), 1);
  pieces.clear();
  wizard::SetSendPieceObserver(RecordPiece);
  std::vector<std::uint8_t> data(40000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::vector<std::uint8_t> received(data.size());
  std::thread reader([&] { line.ReadExact(received.data(), static_cast<std::uint32_t>(received.size())); });
  EXPECT_TRUE(wizard::SendBytes(data.data(), static_cast<std::uint32_t>(data.size())));
  reader.join();
  EXPECT_EQ(pieces, (std::vector<std::uint32_t>{12288, 12288, 12288, 3136}));
  EXPECT_EQ(received, data);
}

TEST_F(LinkTest, NothingIsSentAfterStopWorkersOrWithoutLink) {
  std::uint8_t byte = 'A';
  EXPECT_FALSE(wizard::SendBytes(&byte, 1));  // no link open
  peers::PtyLink& line = Line("com1");
  ASSERT_EQ(wizard::OpenLinkPort("COM1:"), 1);
  wizard::Workers.StopWorkers = true;
  EXPECT_FALSE(wizard::SendBytes(&byte, 1));
  wizard::Workers.StopWorkers = false;
  EXPECT_TRUE(wizard::SendBytes(&byte, 1));
  std::uint8_t got = 0;
  ASSERT_EQ(line.ReadExact(&got, 1, 2000), peers::LinkRead::Ok);
  EXPECT_EQ(got, 'A');
  EXPECT_EQ(line.BytesReceived(), 1u) << "a byte went out after the stop";
}

TEST_F(LinkTest, ShutDownEndsASendTheHandheldDoesNotTakeBeforeClosing) {
  Line("com1");  // never read: the line fills up and the send waits
  ASSERT_EQ(wizard::OpenLinkPort("COM1:"), 1);
  std::vector<std::uint8_t> data(4 << 20, 0x5A);
  std::atomic<int> result{-1};
  std::thread sender([&] { result = wizard::SendBytes(data.data(), static_cast<std::uint32_t>(data.size())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(result, -1) << "the send should still be waiting for the line";
  // The shutdown stops the send and waits for it before the port closes (the
  // address sanitizer sees a port freed under the send).
  wizard::ShutDownLink();
  sender.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
}

TEST_F(LinkTest, ShutDownLinkTwiceAndWithoutLinkIsHarmless) {
  wizard::ShutDownLink();
  Line("com1");
  ASSERT_EQ(wizard::StartMessageLink(), 1);
  EXPECT_TRUE(wizard::ReaderReady);
  wizard::ShutDownLink();
  EXPECT_FALSE(wizard::ReaderReady);
  EXPECT_EQ(wizard::ReaderThread.load(), nullptr);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
  EXPECT_TRUE(wizard::Workers.StopWorkers);
  wizard::ShutDownLink();
}

}  // namespace
}  // namespace porttest
