#include "download_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "checks/resume_record.h"
#include "platform/clock.h"
#include "scripted_front_end.h"
#include "transfer/download.h"
#include "port/port.h"
#include "port/transfer_log.h"
#include "flow/screen_behaviour.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

constexpr std::uint32_t kFastTime = 50;  // wizard time runs 50 times faster (timer 1: 600 ms)
std::atomic<std::uint64_t>* sentCounter = nullptr;

void CountSent(std::uint32_t length) {
  if (auto* counter = sentCounter) *counter += length;
}

}  // namespace

Bytes Payload(std::uint32_t size) {
  Bytes payload(size);
  for (std::uint32_t i = 0; i < size; ++i) {
    payload[i] = static_cast<std::uint8_t>((i >> 17) * 31 + (i >> 8) + i * 7);
  }
  return payload;
}

Bytes Word(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint32_t WordAt(const Bytes& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes.at(offset + i);
  return value;
}

// --- the front-end ---------------------------------------------------------------

class BenchFrontEnd::View : public screens::ScreenView {
 public:
  View(BenchFrontEnd& owner, screens::ScreenSession& session) : owner_(owner), session_(session) {}
  void ControlChanged(int) override {}
  void ProgressChanged() override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    unsigned percent = session_.Percent();
    if (owner_.percents_.empty() || owner_.percents_.back() != percent) owner_.percents_.push_back(percent);
  }
  void StartTimer(int timer, std::uint32_t ms) override {
    {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      owner_.timerStarts_.push_back(timer);
    }
    if (timer == 1 || timer == 2) {
      interval_[timer - 1] = ms;
      deadline_[timer - 1] = platform::NowMs() + ms;
    }
  }
  void StopTimer(int timer) override {
    {
      std::lock_guard<std::mutex> lock(owner_.mutex_);
      owner_.timerStops_.push_back(timer);
    }
    if (timer == 1 || timer == 2) deadline_[timer - 1] = 0;
  }
  void CursorChanged() override { ++owner_.cursorRefreshes_; }
  void Collapse() override {}
  void SetVisible(bool) override {}
  void Ended() override {}

  // Like Win32 timers: they fire on the screen's thread and repeat until stopped.
  void FireDueTimers() {
    for (int i = 0; i < 2 && !session_.Ended(); ++i) {
      std::uint64_t deadline = deadline_[i];
      std::uint64_t now = platform::NowMs();
      if (deadline == 0 || now < deadline || (owner_.held_ & (1u << (i + 1))) != 0) continue;
      deadline_[i] = now + interval_[i];
      session_.Timer(i + 1);
    }
  }

 private:
  BenchFrontEnd& owner_;
  screens::ScreenSession& session_;
  std::atomic<std::uint64_t> deadline_[2] = {};
  std::atomic<std::uint32_t> interval_[2] = {};
};

BenchFrontEnd::BenchFrontEnd() { screens::SetFrontEnd(this); }
BenchFrontEnd::~BenchFrontEnd() { screens::SetFrontEnd(nullptr); }

std::vector<int> BenchFrontEnd::Walk() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return walk_;
}
std::vector<unsigned> BenchFrontEnd::Percents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return percents_;
}
std::vector<int> BenchFrontEnd::TimerStarts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timerStarts_;
}
std::vector<int> BenchFrontEnd::TimerStops() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timerStops_;
}

int BenchFrontEnd::RunModal(screens::ScreenSession& session) {
  View* view;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    walk_.push_back(session.id());
    views_.push_back(std::make_unique<View>(*this, session));
    view = views_.back().get();
  }
  session.AttachView(view);
  session.Open();
  if (session.screen().kind == screens::Kind::Progress) {
    while (!session.Ended() && closed_ == 0) {
      view->FireDueTimers();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  } else if (!session.Ended()) {
    auto scripted = results_.find(session.id());
    if (scripted != results_.end()) {
      session.End(scripted->second);
    } else {
      session.Command(screens::kEscapeCommand);
      if (!session.Ended()) session.End(1);
    }
  }
  session.AttachView(nullptr);
  return session.Ended() ? session.Result() : -1;
}

void BenchFrontEnd::OpenModeless(screens::ScreenSession& session) {
  std::lock_guard<std::mutex> lock(mutex_);
  walk_.push_back(session.id());
}

void BenchFrontEnd::CloseModeless(screens::ScreenSession&) {}

// --- the fixture --------------------------------------------------------------------

void DownloadTest::SetUp() {
  testsupport::ResetWizardForTest();
  screens::SetFrontEnd(&ui_);  // the reset leaves the front-end alone; be sure
  char pattern[] = "/tmp/download-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  setenv("XDG_STATE_HOME", folder_.c_str(), 1);  // the transfer log
  std::filesystem::create_directories(folder_ + "/romwiz");
  std::ofstream(folder_ + "/romwiz/registry.reg") << "REGEDIT4\r\n\r\n";
  dosdevices_ = folder_ + "/romwiz/dosdevices";
  platform::SetTimeScale(kFastTime);
  wizard::ClearReceiveBuffer();
  sentCounter = &sent_;
  wizard::SetSendPieceObserver(CountSent);
}

void DownloadTest::TearDown() {
  ui_.FireAll();
  if (progress_.valid()) progress_.wait();
  wizard::ShutDownTransfer();
  translog::EndSession("test ended");
  wizard::SetSendPieceObserver(nullptr);
  sentCounter = nullptr;
  wizard::TakeTransferErrorScreen();
  lineStop_ = true;
  line_.reset();
  platform::SetTimeScale(1);
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void DownloadTest::UseImage(const Bytes& payload) {
  imagePath_ = folder_ + "/LUMO5800_ENG_141.nbf";
  std::ofstream file(imagePath_, std::ios::binary);
  const std::string header = "LUMO-5800-ENG-1.41-0------------";  // 32 bytes
  file.write(header.data(), static_cast<std::streamsize>(header.size()));
  file.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
  file.close();
  std::snprintf(wizard::Wizard.FlashFile, sizeof wizard::Wizard.FlashFile, "%s", imagePath_.c_str());
  wizard::Wizard.ImageSizeKB = static_cast<std::uint32_t>((payload.size() + 32) >> 10);
  std::snprintf(wizard::Wizard.DeviceInfo.ModelID, sizeof wizard::Wizard.DeviceInfo.ModelID, "LUMO-5800");
  std::snprintf(wizard::Wizard.DeviceInfo.Lang, sizeof wizard::Wizard.DeviceInfo.Lang, "ENG");
  std::snprintf(wizard::Wizard.DeviceInfo.Version, sizeof wizard::Wizard.DeviceInfo.Version, "1.14");
  std::snprintf(wizard::Wizard.DeviceInfo.Language, sizeof wizard::Wizard.DeviceInfo.Language, "English");
}

peers::PtyLink& DownloadTest::Line() {
  line_ = std::make_unique<peers::PtyLink>(peers::LinkFaults{}, lineStop_);
  std::string error;
  EXPECT_TRUE(line_->Publish(dosdevices_, "com1", error)) << error;
  return *line_;
}

void DownloadTest::StartMessageLink() {
  wizard::Wizard.ConnectionType = wizard::Connection::Serial;
  ASSERT_EQ(wizard::StartMessageLink(), 1);
}

Bytes DownloadTest::Read(std::uint32_t count, std::uint32_t idleMs) {
  Bytes bytes(count);
  if (count == 0) return bytes;
  if (line_->ReadExact(bytes.data(), count, idleMs) != peers::LinkRead::Ok) return {};
  return bytes;
}

void DownloadTest::Answer(const Bytes& bytes) {
  ASSERT_TRUE(line_->SendMessage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

void DownloadTest::Answer(const std::string& text) { Answer(Bytes(text.begin(), text.end())); }

std::uint32_t DownloadTest::WakeAndReadLength() {
  Bytes wake = Read(1);
  EXPECT_EQ(wake, Bytes{'A'});
  Answer(Bytes{0x05, 0x00});
  Bytes length = Read(4);
  EXPECT_EQ(length.size(), 4u);
  return length.size() == 4 ? WordAt(length, 0) : 0;
}

void DownloadTest::HoldTimers() {
  ui_.NeverFire(wizard::kWakeUpTimer);
  ui_.NeverFire(wizard::kMessageTimer);
}

void DownloadTest::SaveRecord(bool usb) {
  wizard::Wizard.ConnectionType = usb ? wizard::Connection::Usb : wizard::Connection::Serial;
  wizard::SaveUpgradeState();
  ASSERT_TRUE(wizard::LoadUpgradeState());
}

std::shared_future<int> DownloadTest::ShowProgress(bool resume) {
  progress_ = std::async(std::launch::async, [resume] {
                return resume ? screens::ShowResumeProgressScreen() : screens::ShowScreen(102);
              }).share();
  return progress_;
}

}  // namespace downloadtest
