// The handheld's link while it runs a loader: the daemon's link watcher
// starts the peer its mode and flash call for, and a download through the
// loader changes the ROM the handheld reports.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "distribution.h"
#include "handheld.h"
#include "link_watcher.h"
#include "sim_test_support.h"

using namespace handheld;
using simtest::Eventually;

namespace {

constexpr std::uint32_t kPiece = 0x20000;  // the loader asks for 128 KB at a time

// The PC's end of the link: the published symlink opened raw.
class PcEnd {
 public:
  explicit PcEnd(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) {
      termios t{};
      ::tcgetattr(fd_, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~PcEnd() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  bool Send(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
      const ssize_t put = ::write(fd_, p, n);
      if (put <= 0) return false;
      p += put;
      n -= static_cast<std::size_t>(put);
    }
    return true;
  }
  // The next two bytes the handheld sends, or an empty vector once it has
  // been silent for the condition bound.
  std::vector<std::uint8_t> Receive2() {
    std::vector<std::uint8_t> got;
    while (got.size() < 2) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(testsupport::kConditionBoundMs)) <= 0) return {};
      std::uint8_t b;
      if (::read(fd_, &b, 1) != 1) return {};
      got.push_back(b);
    }
    return got;
  }

 private:
  int fd_ = -1;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simtest::MakeHandheld(folder.Path());
    hh = std::make_unique<Handheld>(folder.Path());
    watcher = std::make_unique<LinkWatcher>(*hh, dosdevices, 10);
    watcher->Start();
  }
  void TearDown() override { watcher->Stop(); }

  void SetMode(Mode mode) {
    ASSERT_TRUE(hh->ChangeState([&](HandheldState& s) { s.mode = mode; }));
  }
  // What devflash does before it resets the handheld: the loader file into flash.
  void InstallLoader(const std::string& loaderFile) {
    const std::vector<std::uint8_t> loader = simtest::ReadHostFile(loaderFile);
    std::fstream flash(hh->FlashPath(), std::ios::binary | std::ios::in | std::ios::out);
    flash.seekp(kLoaderBlockOffset);
    flash.write(reinterpret_cast<const char*>(loader.data()), static_cast<std::streamsize>(loader.size()));
  }

  simtest::ScratchFolder folder, dist;
  std::string dosdevices = folder.Path() + "/dosdevices";
  std::unique_ptr<Handheld> hh;
  std::unique_ptr<LinkWatcher> watcher;
};

TEST_F(LinkTest, DownloadThroughTheUsbLoaderChangesTheRom) {
  DistributionOptions options;
  options.identity = {"LUMO-5800", "1.41.00", "ENG"};
  options.sizeMb = 1;
  std::string image;
  ASSERT_EQ(WriteDistribution(dist.Path(), options, &image), "");
  InstallLoader(dist.Path() + "/English/flash_usb.nb");
  EXPECT_EQ(LoaderKindInFlash(hh->FlashPath()), 2);
  SetMode(Mode::Loader);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/wceusbsh001"); }));

  const std::vector<std::uint8_t> file = simtest::ReadHostFile(image);
  const std::vector<std::uint8_t> payload(file.begin() + kImageHeaderSize, file.end());
  PcEnd pc(dosdevices + "/wceusbsh001");
  ASSERT_TRUE(pc.Open());
  ASSERT_TRUE(pc.Send("A", 1));
  EXPECT_EQ(pc.Receive2(), (std::vector<std::uint8_t>{0x05, 0x00}));
  const std::uint32_t length = static_cast<std::uint32_t>(payload.size()) - kBlockSize;
  const std::uint8_t word[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  ASSERT_TRUE(pc.Send(word, 4));
  std::vector<std::uint32_t> order;
  for (std::uint32_t at = kIdentityOffset; at < payload.size(); at += kPiece) order.push_back(at);
  order.push_back(kLoaderBlockOffset);  // the loader block goes last
  order.push_back(kLoaderBlockOffset + kPiece);
  for (std::uint32_t at : order) {
    ASSERT_EQ(pc.Receive2(), (std::vector<std::uint8_t>{0x04, 0x00})) << "piece at " << at;
    ASSERT_TRUE(pc.Send(payload.data() + at, kPiece));
  }

  // The loader restarts the handheld into Windows CE, which reports the new ROM.
  ASSERT_TRUE(Eventually([&] { return hh->State().mode == Mode::WinCE; }));
  RomIdentity id;
  ASSERT_TRUE(hh->Identity(id));
  EXPECT_EQ(id.version, "1.41.00");
  EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(dosdevices + "/wceusbsh001"); }));
  const std::vector<std::uint8_t> flash = simtest::ReadHostFile(hh->FlashPath());
  EXPECT_TRUE(std::equal(payload.begin() + kLoaderBlockOffset, payload.end(), flash.begin() + kLoaderBlockOffset));
}

TEST_F(LinkTest, PeerFollowsTheModeAndTheLinkSetting) {
  // A factory flash names no loader: the state's link setting decides.
  EXPECT_EQ(LoaderKindInFlash(hh->FlashPath()), 0);
  SetMode(Mode::Loader);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/com1"); }));
  // The peer publishes its link before the watcher has recorded it.
  EXPECT_TRUE(Eventually([&] { return watcher->LinkPath() != ""; }));
  SetMode(Mode::WinCE);
  ASSERT_TRUE(Eventually([&] { return !std::filesystem::exists(dosdevices + "/com1"); }));
  EXPECT_TRUE(Eventually([&] { return watcher->LinkPath().empty(); }));

  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { s.mode = Mode::Loader; s.usbLink = true; }));
  EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/wceusbsh001"); }));
  SetMode(Mode::BootLoader);  // the boot loader speaks on the serial port only
  EXPECT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/com1"); }));
  EXPECT_FALSE(std::filesystem::exists(dosdevices + "/wceusbsh001"));
  SetMode(Mode::Off);
  EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(dosdevices + "/com1"); }));
}

TEST_F(LinkTest, LinkFaultsReachThePeer) {
  InstallLoader([&] {
    DistributionOptions options;
    options.identity = {"LUMO-5800", "1.41.00", "ENG"};
    EXPECT_EQ(WriteDistribution(dist.Path(), options), "");
    return dist.Path() + "/English/flash_serial.nb";
  }());
  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) {
    s.faults.linkSilentAfterMessages = 0;  // not even the wake-up answer
    s.mode = Mode::Loader;
  }));
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/com1"); }));
  PcEnd pc(dosdevices + "/com1");
  ASSERT_TRUE(pc.Open());
  ASSERT_TRUE(pc.Send("A", 1));
  EXPECT_TRUE(pc.Receive2().empty());
  EXPECT_EQ(hh->State().mode, Mode::Loader);
}

}  // namespace

namespace {

// A reset as the boot code sees the flash: no loader record boots Windows
// CE, a record with its loader starts the loader, a record whose loader
// block was overwritten hangs. A loader inside a transfer starts afresh.
TEST_F(LinkTest, AResetStartsWhatTheFlashSaysAndTheLoaderAfresh) {
  EXPECT_EQ(ModeAfterReset(hh->FlashPath()), Mode::WinCE);
  InstallLoader([&] {
    DistributionOptions options;
    options.identity = {"LUMO-5800", "1.41.00", "ENG"};
    EXPECT_EQ(WriteDistribution(dist.Path(), options), "");
    return dist.Path() + "/English/flash_serial.nb";
  }());
  EXPECT_EQ(ModeAfterReset(hh->FlashPath()), Mode::WinCE);  // a loader, but no record naming it
  {
    std::fstream flash(hh->FlashPath(), std::ios::binary | std::ios::in | std::ios::out);
    const std::uint8_t record[8] = {0, 0, 0, 0, 16, 0, 0, 0};  // model 5800
    flash.seekp(0x60000);
    flash.write(reinterpret_cast<const char*>(record), sizeof record);
  }
  ASSERT_EQ(ModeAfterReset(hh->FlashPath()), Mode::Loader);

  SetMode(Mode::Loader);
  ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(dosdevices + "/com1"); }));
  {
    PcEnd pc(dosdevices + "/com1");
    ASSERT_TRUE(pc.Open());
    ASSERT_TRUE(pc.Send("A", 1));
    ASSERT_EQ(pc.Receive2(), (std::vector<std::uint8_t>{0x05, 0x00}));
    const std::uint8_t length[4] = {0, 0, 0x18, 0};
    ASSERT_TRUE(pc.Send(length, 4));
    ASSERT_EQ(pc.Receive2(), (std::vector<std::uint8_t>{0x04, 0x00}));
    const std::vector<std::uint8_t> half(kPiece / 2, 0xAB);
    ASSERT_TRUE(pc.Send(half.data(), half.size()));
    // Inside piece 1 the loader takes a wake-up as piece data.
    ASSERT_TRUE(pc.Send("A", 1));
    EXPECT_TRUE(pc.Receive2().empty());
  }
  // Each start of a peer begins a session of its log.
  auto starts = [&] {
    std::ifstream log(PeerLogPath(folder.Path()));
    int count = 0;
    for (std::string line; std::getline(log, line);) count += line.rfind("== ", 0) == 0;
    return count;
  };
  ASSERT_EQ(starts(), 1);
  ASSERT_TRUE(hh->ChangeState([](HandheldState& s) { ++s.boots; }));  // what `reset` does in loader mode
  ASSERT_TRUE(Eventually([&] { return starts() == 2 && std::filesystem::exists(dosdevices + "/com1"); }));
  PcEnd pc(dosdevices + "/com1");
  ASSERT_TRUE(pc.Open());
  ASSERT_TRUE(pc.Send("A", 1));
  EXPECT_EQ(pc.Receive2(), (std::vector<std::uint8_t>{0x05, 0x00}));

  // Piece 13 of an upgrade has replaced the loader: the record now names
  // a loader that is no longer there.
  {
    std::fstream flash(hh->FlashPath(), std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<char> image(kPiece, 0x5A);
    flash.seekp(kLoaderBlockOffset);
    flash.write(image.data(), static_cast<std::streamsize>(image.size()));
  }
  EXPECT_EQ(ModeAfterReset(hh->FlashPath()), Mode::Off);
}

}  // namespace
