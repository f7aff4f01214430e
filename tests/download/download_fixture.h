// Test bench of the download: the real progress screen (102) shown through a
// small front-end that fires its timers when they are due, a temporary
// $XDG_CONFIG_HOME (registry store, dosdevices), image files written on the
// fly, and the handheld's end of the serial link played by the test itself.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/screens.h"
#include "sim/peers/pty_link.h"
#include "tests/support/eventually.h"

namespace downloadtest {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kPiece = 0x20000;
constexpr std::uint32_t kBlock = 0x40000;

using testsupport::Eventually;

Bytes Payload(std::uint32_t size);  // a pattern that differs in every piece
Bytes Word(std::uint32_t value);    // little-endian
std::uint32_t WordAt(const Bytes& bytes, std::size_t offset);

// Shows screens as the wizard asks. Progress screens stay up until their
// worker or a due timer ends them (timers fire on the showing thread, as
// Win32 timers do); every other screen ends at once with its scripted result
// (default: its Escape result, else 1).
class BenchFrontEnd : public screens::FrontEnd {
 public:
  BenchFrontEnd();
  ~BenchFrontEnd() override;

  void Result(int screen, int result) { results_[screen] = result; }

  std::vector<int> Walk() const;
  std::vector<unsigned> Percents() const;     // every percentage the progress screen showed
  std::vector<int> TimerStarts() const;       // timer numbers, in order
  std::vector<int> TimerStops() const;
  int CursorRefreshes() const { return cursorRefreshes_; }
  int Closed() const { return closed_; }
  // Keeps a timer from firing (its starts and stops are still recorded): for
  // a test about something else, which a stall on a loaded machine must not
  // end by a scaled timer.
  void NeverFire(int timer) { held_ |= 1u << timer; }
  void FireAll() { held_ = 0; }

  int RunModal(screens::ScreenSession& session) override;
  void OpenModeless(screens::ScreenSession& session) override;
  void CloseModeless(screens::ScreenSession& session) override;
  bool ChooseFile(const screens::FileDialogRequest&, char*, std::size_t) override { return false; }
  void CloseMainWindow() override { ++closed_; }

 private:
  class View;
  friend class View;
  std::map<int, int> results_;
  mutable std::mutex mutex_;  // the worker reports through the view
  std::vector<int> walk_;
  std::vector<unsigned> percents_;
  std::vector<int> timerStarts_, timerStops_;
  std::atomic<int> cursorRefreshes_{0};
  std::atomic<int> closed_{0};
  std::atomic<unsigned> held_{0};  // bit n: timer n never fires
  std::vector<std::unique_ptr<View>> views_;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes an image (header for LUMO-5800 ENG 1.41, then `payload`) and makes
  // it FlashFile, with ImageSizeKB from its size.
  void UseImage(const Bytes& payload);
  // The handheld's end of the serial link, published as com1.
  peers::PtyLink& Line();
  // Opens the PC's end as the upgrade does (message link on Serial).
  void StartMessageLink();
  // Reads exactly `count` bytes the PC sent; empty once the line has been
  // idle for `idleMs`. The default is a bound for a PC that stopped sending,
  // not a timing: on a loaded machine (the thread sanitizer, a parallel
  // build) the PC's side was seen starved for over 3 s inside one piece.
  Bytes Read(std::uint32_t count, std::uint32_t idleMs = testsupport::kConditionBoundMs);
  void Answer(const Bytes& bytes);
  void Answer(const std::string& text);
  // The loader's side up to the image length, which it returns.
  std::uint32_t WakeAndReadLength();
  // For a test about what goes over the wire, not about the timers: neither
  // the wake-up nor the message timer ends the screen (their starts and stops
  // are still recorded). The handheld's side reads whole pieces between two
  // requests, and a loaded machine can stall it past a scaled timer.
  void HoldTimers();
  // Writes a pending resume record for the image in use.
  void SaveRecord(bool usb);
  // Shows the progress screen (upgrade or resume form) on a thread of its
  // own, which stands for the GUI thread while the test plays the handheld.
  // The fixture keeps a copy: a test that stops early (a failed assertion)
  // does not wait for the screen there; the tear-down lets every timer fire
  // again and waits for the screen to end.
  std::shared_future<int> ShowProgress(bool resume);

  BenchFrontEnd ui_;
  std::string folder_;
  std::string dosdevices_;
  std::string imagePath_;
  std::atomic<bool> lineStop_{false};
  std::unique_ptr<peers::PtyLink> line_;
  std::atomic<std::uint64_t> sent_{0};  // bytes SendBytes wrote
  std::shared_future<int> progress_;
};

}  // namespace downloadtest
