// Test support for the wizard: a scripted front-end and a state reset.
//
// ScriptedFrontEnd is a screens::FrontEnd whose user answers are given in
// advance and which records every screen it shows. Creating one installs it as
// the current front-end; destroying it uninstalls it.
//
//   testsupport::ScriptedFrontEnd ui;
//   ui.Answer(166, 1181);                 // next showing of 166: command 1181
//   ui.Answer(158, {{1150, true}}, 1);    // toggle the USB radio on, then Next
//   ui.FireTimer(102, 2);                 // next showing of 102: timer 2 fires
//   ui.ChooseFile("C:\\image.nbf");       // next file dialog: this path
//   ui.CancelFile();                      // the one after: cancelled
//   wizard::RunWizard();
//   EXPECT_EQ(ui.Walk(), (std::vector<int>{166, 103, 121, 161}));
//   EXPECT_EQ(ui.Last(109).Opened().Text(1066), "Model : 5800");
//
// Each Answer/FireTimer adds one step to that screen's queue. A modal showing
// takes steps from its screen's queue until the session ends; a showing that
// runs out of steps ends with kUnscripted (and fails the test), except a
// progress screen (102, 132), which waits up to kProgressWaitMs for its worker
// to end it (its last state is then recorded as the worker left it). An unscripted file dialog is cancelled (and fails the test).
// Enter and Escape: answer screen.enterCommand or screens::kEscapeCommand.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/remote_api.h"
#include "platform/screens.h"

namespace testsupport {

constexpr int kUnscripted = -99;
// Real milliseconds; a bound on a slow (sanitized) worker, never waited out
// by a sound one.
constexpr std::uint32_t kProgressWaitMs = 60000;

// One control as the user saw it.
struct ControlView {
  std::string text;
  bool enabled = true;
  bool checked = false;
  bool highlighted = false;
};

// Every control of a screen at one moment, and its title.
struct Snapshot {
  std::string title;
  std::map<int, ControlView> controls;
  bool visible = true;
  std::uint32_t progressRange = 0, progressPosition = 0;  // progress screens
  unsigned percent = 0;
  // The text of `control` ("" when the screen has no such control).
  std::string Text(int control) const;
  bool Enabled(int control) const;
  bool Checked(int control) const;
  bool Highlighted(int control) const;
};

// One showing of a screen.
struct Showing {
  int screen = 0;
  bool modeless = false;
  std::vector<Snapshot> states;  // after opening, then after each step
  std::vector<int> commands;     // commands sent, in order
  std::vector<int> timersStarted, timersStopped;
  int result = 0;                // modal showings
  const Snapshot& Opened() const { return states.front(); }
  const Snapshot& Final() const { return states.back(); }
};

// One file dialog as the core asked for it.
struct FileDialogCall {
  bool save = false;
  std::string initialFolder, defaultExtension;
  bool fileMustExist = false, noChangeDir = false;
  bool ownedByScreen = false;  // false: owned by the main window
  std::string proposed;        // the path buffer on entry
};

class ScriptedFrontEnd : public screens::FrontEnd {
 public:
  ScriptedFrontEnd();
  ~ScriptedFrontEnd() override;

  // --- the script -------------------------------------------------------------
  void Answer(int screen, int command);
  // Radio and check box toggles (control, checked) and then a command.
  void Answer(int screen, std::vector<std::pair<int, bool>> toggles, int command);
  void FireTimer(int screen, int timer);
  void ChooseFile(const std::string& path);
  void CancelFile();

  // --- the record -------------------------------------------------------------
  // Template numbers of the screens shown, modal and modeless, in order.
  std::vector<int> Walk() const;
  const std::vector<Showing>& Showings() const { return showings_; }
  // The last showing of `screen`; fails the test (and returns an empty one)
  // when it was never shown.
  const Showing& Last(int screen) const;
  int TimesShown(int screen) const;
  const std::vector<FileDialogCall>& FileDialogs() const { return fileDialogs_; }
  int MainWindowClosed() const { return mainWindowClosed_; }
  // Steps and file answers the run did not use.
  std::size_t UnusedSteps() const;

  // --- screens::FrontEnd ----------------------------------------------------------
  int RunModal(screens::ScreenSession& session) override;
  void OpenModeless(screens::ScreenSession& session) override;
  void CloseModeless(screens::ScreenSession& session) override;
  bool ChooseFile(const screens::FileDialogRequest& request, char* path,
                  std::size_t capacity) override;
  void CloseMainWindow() override;

 private:
  struct Step {
    std::vector<std::pair<int, bool>> toggles;
    int command = 0;
    int timer = 0;  // non-zero: fire this timer instead of a command
  };
  class View;
  void Apply(screens::ScreenSession& session, std::size_t showing, const Step& step);

  std::map<int, std::deque<Step>> steps_;
  std::deque<std::optional<std::string>> files_;
  std::vector<Showing> showings_;
  std::vector<FileDialogCall> fileDialogs_;
  int mainWindowClosed_ = 0;
  std::mutex mutex_;  // timers are recorded from worker threads
};

// Every screen's state as the session shows it now.
Snapshot Capture(const screens::ScreenSession& session);

// Fresh wizard state for a test: ResetWizardState, an empty image header,
// the text catalogue loaded, and the operations table back to its defaults.
// The remote-API start for tests that run the whole wizard at a raised
// time scale: the real start, then a wait for its end that the time scale
// does not shorten, so that the wizard's own (scaled) wait finds the
// connection made however busy the machine is. For wizard::Ops.CeRapiInitEx.
std::int32_t StartRemoteApiAndWait(rapi::InitRecord* init);
void ResetWizardForTest();

}  // namespace testsupport
