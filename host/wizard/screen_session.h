// An open screen: the texts, enabled and checked states its controls show,
// its progress values and its result. Front-ends render a session and feed it
// the user's commands; the screen behaviours, the driver and the workers
// change it. Shared with worker threads through atomics only (no locks: the
// shipped Windows runtime has no std::mutex).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/screens.h"
#include "wizard/screen_table.h"

namespace screens {

class ScreenSession {
 public:
  explicit ScreenSession(const Screen& screen);
  ScreenSession(const ScreenSession&) = delete;
  ScreenSession& operator=(const ScreenSession&) = delete;

  const Screen& screen() const { return screen_; }
  int id() const { return screen_.id; }

  // --- front-end side -------------------------------------------------------
  void AttachView(ScreenView* view);
  // Fills every control from the table and runs the screen's opening
  // behaviour (which may start the power poller or a worker).
  void Open();
  // A button, Enter (its default command) or Escape (kEscapeCommand). Ends the
  // session when the command has a result; other commands are ignored.
  void Command(int command);
  void Timer(int timer);  // timer 1 or 2 of a progress screen fired
  // Front-end's record of a radio or check box the user toggled.
  void UserChecked(int control, bool checked);

  std::string Title() const;            // the title bar (slot 11035)
  std::string Text(int control) const;  // GUI thread
  bool Enabled(int control) const;
  bool Checked(int control) const;
  bool Highlighted(int control) const;  // red background (the differing pair on 123)
  bool Visible() const;
  bool Ended() const;
  int Result() const;
  std::uint32_t ProgressRange() const;
  std::uint32_t ProgressPosition() const;
  unsigned Percent() const;

  // --- core side (behaviours, driver, workers) -------------------------------
  void SetText(int control, const std::string& text);  // GUI thread only
  void Enable(int control, bool enabled);              // any thread
  void Check(int control, bool checked);
  void SetProgressRange(std::uint32_t range);          // any thread
  void SetProgressPosition(std::uint32_t position);
  void SetPercent(unsigned percent);
  void StartTimer(int timer, std::uint32_t ms);
  void StopTimer(int timer);
  void RefreshCursor();                                // after BusyCursor changed
  void Collapse();
  void SetVisible(bool visible);
  void End(int result);                                // first End wins

 private:
  struct ControlState {
    int id = 0;
    std::string text;
    std::atomic<bool> enabled{true};
    std::atomic<bool> checked{false};
  };
  ControlState* Find(int control);
  const ControlState* Find(int control) const;
  void Fill();

  const Screen& screen_;
  // Atomics cannot live in a std::vector; the count is fixed by the table.
  std::unique_ptr<ControlState[]> controls_;
  std::size_t controlCount_ = 0;
  std::string title_;
  std::atomic<ScreenView*> view_{nullptr};  // read by worker threads
  std::atomic<bool> visible_{true};
  std::atomic<bool> ending_{false};  // the first End claims the result
  std::atomic<bool> ended_{false};
  std::atomic<int> result_{0};
  std::atomic<std::uint32_t> range_{0};
  std::atomic<std::uint32_t> position_{0};
  std::atomic<unsigned> percent_{0};
};

// Shows screen `id` modally through the current front-end; returns its result.
// The front-end's RunModal attaches its view, calls Open() and returns once
// the session has ended. Once the wizard has ended nothing is shown: the
// screen's Escape result is returned at once (-1 when it has no Escape
// command, and for a template number the table does not hold).
int ShowScreen(int id);
// Modeless wait screens (122, 153) owned by the main window; null once the
// wizard has ended.
ScreenSession* OpenWaitScreen(int id);
void CloseWaitScreen(ScreenSession*& session);  // null is ignored; clears it

}  // namespace screens
