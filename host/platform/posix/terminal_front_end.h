// The terminal front-end of the Linux romwiz. Each modal or wait screen is
// printed as a block: "[screen N]", the title of a wizard screen, its texts in
// layout order, then "answers: ..." listing what the screen accepts now.
// Answers are read one per line:
//   - a button caption (next, cancel, exit, finish, upgrade, restore, backup),
//     or "enter" / "escape" for the keys, ends the screen with that command;
//   - a choice ("usb", "serial", or a check box by the first word of its
//     caption, e.g. "view") changes the screen and waits for the next line;
//   - in a file dialog, a path (an empty line cancels).
// Texts are shown in the catalogue's language (UTF-8); a caption is accepted
// as shown and also as its English word, in every language ("answers:"
// lists "weiter (next)"). Case does not matter. An answer the screen does not accept is reported on
// the error stream as "not accepted here: <line>" and the screen waits for the
// next line. End of input acts as Escape (as Enter on a screen that ignores
// Escape). Progress screens take no answers; they print "progress: N%" lines
// (updated in place on a terminal) until their worker or timer ends them.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "platform/screens.h"

namespace screens {

class TerminalView;

// Lines of an input descriptor, read without blocking the screen's loop.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  enum class Status { Line, Timeout, End };
  // Waits up to `timeoutMs` real milliseconds for a whole line (without its
  // end-of-line characters). A last line without a line feed still counts.
  Status Next(std::string& line, int timeoutMs);
  bool AtEnd() const { return ended_ && pending_.empty(); }

 private:
  bool TakeLine(std::string& line);
  int fd_;
  std::string pending_;
  bool ended_ = false;
};

class TerminalFrontEnd : public FrontEnd {
 public:
  // `input` is read for answers; blocks go to `output`, rejections to `errors`.
  TerminalFrontEnd(int input, std::FILE* output, std::FILE* errors);
  ~TerminalFrontEnd() override;

  int RunModal(ScreenSession& session) override;
  void OpenModeless(ScreenSession& session) override;
  void CloseModeless(ScreenSession& session) override;
  bool ChooseFile(const FileDialogRequest& request, char* path, std::size_t capacity) override;
  void CloseMainWindow() override;

  bool MainWindowClosed() const { return closed_; }

 private:
  TerminalView& NewView();
  void PrintBlock(const ScreenSession& session);
  void PrintAnswers(const ScreenSession& session);
  void RunAnswers(ScreenSession& session, TerminalView& view);
  void RunProgress(ScreenSession& session, TerminalView& view);
  void InputEnded(ScreenSession& session);
  bool Answer(ScreenSession& session, const std::string& answer);
  void Reject(const std::string& line);

  LineReader input_;
  std::FILE* output_;
  std::FILE* errors_;
  bool interactive_;             // output is a terminal: progress updates in place
  std::atomic<bool> closed_{false};
  unsigned blocksPrinted_ = 0;   // tells a screen that a nested screen covered it
  // Views outlive their screens: a worker may still hold one for a moment.
  std::deque<std::unique_ptr<TerminalView>> views_;
};

}  // namespace screens
