#include "platform/posix/terminal_front_end.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/text_resources.h"
#include "wizard/screen_session.h"

namespace screens {
namespace {

// How often a screen's loop looks at its timers, its workers and the input
// (real milliseconds): short enough that a worker's End is seen at once.
constexpr int kPollMs = 10;
constexpr int kTimerCount = 2;  // timers 1 and 2 of the progress screens
constexpr int kPercentControl = 1023;

// UTF-8 lead byte of the Latin-1 letters U+00C0 to U+00FF, and the span of
// its capitals (U+00C0 to U+00DE, less the multiplication sign U+00D7).
constexpr unsigned char kLatin1Lead = 0xC3;
constexpr unsigned char kFirstCapital = 0x80, kLastCapital = 0x9E, kTimesSign = 0x97;
constexpr unsigned char kLowerCaseShift = 0x20;

// Lower case for answers: ASCII letters and the accented capitals of the
// European captions ("MISE À JOUR" -> "mise à jour"); other text unchanged.
std::string Lower(std::string text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char& c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (static_cast<unsigned char>(c) != kLatin1Lead || i + 1 >= text.size()) continue;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    if (next >= kFirstCapital && next <= kLastCapital && next != kTimesSign)
      text[i + 1] = static_cast<char>(next + kLowerCaseShift);
    ++i;
  }
  return text;
}

std::string Trim(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  std::size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string FirstWord(const std::string& text) {
  std::string trimmed = Trim(text);
  return trimmed.substr(0, trimmed.find_first_of(" \t\r\n"));
}

// Texts of the string tables break lines with "\r\n" or "\n".
std::string PlainLines(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  return plain;
}

const Command* FindCommand(const Screen& screen, int id) {
  for (const Command& command : screen.commands)
    if (command.id == id) return &command;
  return nullptr;
}

const Control* FindControl(const Screen& screen, int id) {
  for (const Control& control : screen.controls)
    if (control.id == id) return &control;
  return nullptr;
}

bool IsCheckBoxLabel(const Screen& screen, int id) {
  for (const Control& control : screen.controls)
    if (control.kind == ControlKind::CheckBox && control.label == id) return true;
  return false;
}

// A command is accepted when the screen lists it and its button, if it has
// one, is enabled (a disabled button sends nothing).
bool Accepts(const ScreenSession& session, int command) {
  if (FindCommand(session.screen(), command) == nullptr) return false;
  return FindControl(session.screen(), command) == nullptr || session.Enabled(command);
}

// What a screen returns when the wizard has ended under it: its Escape
// result, else its Enter result; every caller treats that as leaving.
int LeaveResult(const Screen& screen) {
  if (const Command* escape = FindCommand(screen, kEscapeCommand)) return escape->result;
  if (const Command* enter = FindCommand(screen, screen.enterCommand)) return enter->result;
  return -1;
}

std::string CheckBoxCaption(const ScreenSession& session, const Control& box) {
  return box.label != 0 ? session.Text(box.label) : session.Text(box.id);
}

// The English answer word of a control: its caption in the English block
// (the slot id is the English string id), whatever language the screen
// shows. A check box answers to the first word of its English caption.
constexpr int kLongestText = 1024;  // more than any slot holds
std::string EnglishWord(int slot, bool firstWordOnly) {
  if (slot == 0) return {};
  char text[kLongestText];
  platform::LoadText(slot, text, kLongestText);
  return Lower(firstWordOnly ? FirstWord(text) : Trim(text));
}

int CheckBoxSlot(const Screen& screen, const Control& box) {
  const Control* label = box.label != 0 ? FindControl(screen, box.label) : &box;
  return label != nullptr ? label->slot : 0;
}

// What a button, radio or check box answers to: the caption it shows and its
// English word.
struct AnswerWords {
  std::string shown, english;
  bool Match(const std::string& wanted) const {
    return wanted == shown || (!english.empty() && wanted == english);
  }
  // "weiter (next)" where the two differ, else just the caption.
  std::string Listed() const {
    if (english.empty() || english == shown) return shown;
    return shown + " (" + english + ")";
  }
};

AnswerWords WordsOf(const ScreenSession& session, const Control& control) {
  if (control.kind == ControlKind::CheckBox)
    return {Lower(FirstWord(CheckBoxCaption(session, control))),
            EnglishWord(CheckBoxSlot(session.screen(), control), true)};
  return {Lower(Trim(session.Text(control.id))), EnglishWord(control.slot, false)};
}

}  // namespace

// What the session reports while a screen is up. Workers call it from their
// threads, so it only records; the screen's loop acts on the records.
class TerminalView : public ScreenView {
 public:
  void ControlChanged(int) override {}
  void ProgressChanged() override {}
  void StartTimer(int timer, std::uint32_t ms) override {
    if (timer < 1 || timer > kTimerCount) return;
    interval_[timer - 1] = ms;
    deadline_[timer - 1] = platform::NowMs() + ms;
  }
  void StopTimer(int timer) override {
    if (timer >= 1 && timer <= kTimerCount) deadline_[timer - 1] = 0;
  }
  void CursorChanged() override {}
  void Collapse() override {}
  void SetVisible(bool visible) override {
    if (visible) reshow_ = true;
  }
  void Ended() override {}

  // Fires every due timer; like Win32 timers they repeat until stopped.
  void FireDueTimers(ScreenSession& session) {
    for (int i = 0; i < kTimerCount && !session.Ended(); ++i) {
      std::uint64_t deadline = deadline_[i];
      std::uint64_t now = platform::NowMs();
      if (deadline == 0 || now < deadline) continue;
      deadline_[i] = now + interval_[i];
      session.Timer(i + 1);
    }
  }
  bool TakeReshow() { return reshow_.exchange(false); }

 private:
  std::atomic<std::uint64_t> deadline_[kTimerCount] = {};  // wizard ms; 0: stopped
  std::atomic<std::uint32_t> interval_[kTimerCount] = {};
  std::atomic<bool> reshow_{false};
};

bool LineReader::TakeLine(std::string& line) {
  std::size_t end = pending_.find('\n');
  if (end == std::string::npos) {
    if (!ended_ || pending_.empty()) return false;
    end = pending_.size();  // a last line without its line feed
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end < pending_.size() ? end + 1 : end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

LineReader::Status LineReader::Next(std::string& line, int timeoutMs) {
  if (TakeLine(line)) return Status::Line;
  if (ended_) return Status::End;
  pollfd watch{fd_, POLLIN, 0};
  int ready = poll(&watch, 1, timeoutMs);
  if (ready < 0 && errno != EINTR) ended_ = true;
  if (ready <= 0) return ended_ ? Status::End : Status::Timeout;
  char chunk[4096];
  ssize_t got = read(fd_, chunk, sizeof chunk);
  if (got > 0) {
    pending_.append(chunk, static_cast<std::size_t>(got));
  } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
    ended_ = true;
  }
  if (TakeLine(line)) return Status::Line;
  return ended_ ? Status::End : Status::Timeout;
}

TerminalFrontEnd::TerminalFrontEnd(int input, std::FILE* output, std::FILE* errors)
    : input_(input), output_(output), errors_(errors), interactive_(isatty(fileno(output)) == 1) {}

TerminalFrontEnd::~TerminalFrontEnd() = default;

TerminalView& TerminalFrontEnd::NewView() {
  views_.push_back(std::make_unique<TerminalView>());
  return *views_.back();
}

void TerminalFrontEnd::PrintBlock(const ScreenSession& session) {
  const Screen& screen = session.screen();
  std::fprintf(output_, "[screen %d]\n", screen.id);
  if (screen.kind == Kind::Modal && !session.Title().empty())
    std::fprintf(output_, "%s\n", session.Title().c_str());
  for (const Control& control : screen.controls) {
    std::string text;
    switch (control.kind) {
      case ControlKind::Text:
      case ControlKind::Headline:
        if (screen.kind == Kind::Progress && control.id == kPercentControl) continue;
        if (IsCheckBoxLabel(screen, control.id)) continue;  // printed with its box
        text = session.Text(control.id);
        // The terminal has no colour to spare: a highlighted control (the
        // differing pair of an incompatible image) is marked instead.
        if (session.Highlighted(control.id) && !text.empty()) text = ">> " + text + " <<";
        break;
      case ControlKind::Radio:
        text = std::string(session.Checked(control.id) ? "(*) " : "( ) ") + session.Text(control.id);
        if (!session.Enabled(control.id)) text += " (unavailable)";
        break;
      case ControlKind::CheckBox:
        text = std::string(session.Checked(control.id) ? "[x] " : "[ ] ") +
               CheckBoxCaption(session, control);
        break;
      case ControlKind::Button:
      case ControlKind::ProgressBar:
        continue;
    }
    if (!text.empty()) std::fprintf(output_, "%s\n", PlainLines(text).c_str());
  }
  ++blocksPrinted_;
  std::fflush(output_);
}

void TerminalFrontEnd::PrintAnswers(const ScreenSession& session) {
  std::vector<std::string> answers;
  for (const Control& control : session.screen().controls) {
    if (!session.Enabled(control.id)) continue;
    if ((control.kind == ControlKind::Button && Accepts(session, control.id)) ||
        control.kind == ControlKind::Radio || control.kind == ControlKind::CheckBox)
      answers.push_back(WordsOf(session, control).Listed());
  }
  if (Accepts(session, session.screen().enterCommand)) answers.push_back("enter");
  if (Accepts(session, kEscapeCommand)) answers.push_back("escape");
  std::string line = "answers:";
  for (std::size_t i = 0; i < answers.size(); ++i) line += (i == 0 ? " " : ", ") + answers[i];
  std::fprintf(output_, "%s\n", line.c_str());
  std::fflush(output_);
}

void TerminalFrontEnd::Reject(const std::string& line) {
  std::fprintf(errors_, "not accepted here: %s\n", line.c_str());
  std::fflush(errors_);
}

// One answer; false when the screen does not accept it.
bool TerminalFrontEnd::Answer(ScreenSession& session, const std::string& answer) {
  const Screen& screen = session.screen();
  std::string wanted = Lower(Trim(answer));
  if (wanted.empty()) return false;
  if (wanted == "enter" || wanted == "escape") {
    int command = wanted == "enter" ? screen.enterCommand : kEscapeCommand;
    if (!Accepts(session, command)) return false;
    session.Command(command);
    return true;
  }
  for (const Control& control : screen.controls) {
    bool choice = control.kind == ControlKind::Button || control.kind == ControlKind::Radio ||
                  control.kind == ControlKind::CheckBox;
    if (!choice || !WordsOf(session, control).Match(wanted)) continue;
    if (control.kind == ControlKind::Button) {
      if (!Accepts(session, control.id)) return false;
      session.Command(control.id);
      return true;
    }
    if (control.kind == ControlKind::Radio) {
      if (!session.Enabled(control.id)) return false;
      session.UserChecked(control.id, true);
      if (!session.Ended()) PrintAnswers(session);  // Next may have become available
      return true;
    }
    // A check box: the answer toggles it.
    if (!session.Enabled(control.id)) return false;
    session.UserChecked(control.id, !session.Checked(control.id));
    std::fprintf(output_, "%s %s\n", session.Checked(control.id) ? "[x]" : "[ ]",
                 PlainLines(CheckBoxCaption(session, control)).c_str());
    std::fflush(output_);
    return true;
  }
  return false;
}

// End of input acts as Escape; a screen that ignores Escape gets Enter. A
// screen that still stays open is left with its leaving result rather than
// waiting for input that can no longer come.
void TerminalFrontEnd::InputEnded(ScreenSession& session) {
  if (Accepts(session, kEscapeCommand)) session.Command(kEscapeCommand);
  if (!session.Ended() && Accepts(session, session.screen().enterCommand))
    session.Command(session.screen().enterCommand);
  if (!session.Ended()) {
    std::fprintf(errors_, "input ended: leaving screen %d\n", session.id());
    std::fflush(errors_);
    session.End(LeaveResult(session.screen()));
  }
}

void TerminalFrontEnd::RunAnswers(ScreenSession& session, TerminalView& view) {
  PrintAnswers(session);
  while (!session.Ended() && !closed_) {
    view.FireDueTimers(session);
    if (session.Ended()) break;
    if (view.TakeReshow()) {
      PrintBlock(session);
      PrintAnswers(session);
    }
    std::string line;
    LineReader::Status status = input_.Next(line, kPollMs);
    if (status == LineReader::Status::End) {
      InputEnded(session);
    } else if (status == LineReader::Status::Line) {
      unsigned before = blocksPrinted_;
      if (!Answer(session, line)) {
        Reject(line);
      } else if (!session.Ended() && !closed_ && blocksPrinted_ != before) {
        // Another screen or a file dialog covered this one; show it again.
        PrintBlock(session);
        PrintAnswers(session);
        view.TakeReshow();
      }
    }
  }
}

void TerminalFrontEnd::RunProgress(ScreenSession& session, TerminalView& view) {
  long shown = -1;
  auto show = [&] {
    long percent = static_cast<long>(session.Percent());
    if (percent == shown) return;
    shown = percent;
    std::fprintf(output_, interactive_ ? "\rprogress: %ld%%" : "progress: %ld%%\n", percent);
    std::fflush(output_);
  };
  while (!session.Ended() && !closed_) {
    show();
    view.FireDueTimers(session);
    poll(nullptr, 0, kPollMs);
  }
  show();
  if (interactive_) std::fprintf(output_, "\n");
  std::fflush(output_);
}

int TerminalFrontEnd::RunModal(ScreenSession& session) {
  if (closed_) return LeaveResult(session.screen());
  TerminalView& view = NewView();
  session.AttachView(&view);
  session.Open();
  if (!session.Ended() && !closed_) {
    PrintBlock(session);
    if (session.screen().kind == Kind::Progress)
      RunProgress(session, view);
    else
      RunAnswers(session, view);
  }
  session.AttachView(nullptr);
  return session.Ended() ? session.Result() : LeaveResult(session.screen());
}

void TerminalFrontEnd::OpenModeless(ScreenSession& session) {
  session.AttachView(&NewView());
  session.Open();
  if (!closed_) PrintBlock(session);
}

void TerminalFrontEnd::CloseModeless(ScreenSession& session) { session.AttachView(nullptr); }

namespace {

// The dialogs add the default extension to a name typed without one.
std::string WithExtension(const std::string& path, const char* extension) {
  if (extension == nullptr || extension[0] == 0) return path;
  std::size_t nameStart = path.find_last_of("/\\");
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  if (path.find('.', nameStart) != std::string::npos) return path;
  return path + "." + extension;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder the dialog starts in, as a Linux user knows it. The wizard asks
// for Windows' "%USERPROFILE%\My Documents"; here that is the user's
// documents folder: XDG_DOCUMENTS_DIR, else ~/Documents, else the home
// folder. Any other folder is shown as asked.
std::string DialogFolder(const char* requested) {
  constexpr const char* kWindowsDocuments = "%USERPROFILE%";
  if (requested == nullptr) return {};
  if (std::strstr(requested, kWindowsDocuments) == nullptr) return requested;
  const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
  if (documents != nullptr && documents[0] != 0) return documents;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == 0) return ".";
  const std::string inHome = std::string(home) + "/Documents";
  return FolderExists(inHome) ? inHome : home;
}

}  // namespace

bool TerminalFrontEnd::ChooseFile(const FileDialogRequest& request, char* path,
                                  std::size_t capacity) {
  if (closed_ || path == nullptr || capacity == 0) return false;
  std::fprintf(output_, "[file dialog] %s\n", request.save ? "save" : "open");
  std::fprintf(output_, "folder: %s\n", DialogFolder(request.initialFolder).c_str());
  if (path[0] != 0) std::fprintf(output_, "name: %s\n", path);
  std::fprintf(output_, "answers: a path, or an empty line to cancel\n");
  ++blocksPrinted_;
  std::fflush(output_);
  for (;;) {
    std::string line;
    LineReader::Status status = input_.Next(line, kPollMs);
    if (closed_ || status == LineReader::Status::End) return false;
    if (status == LineReader::Status::Timeout) continue;
    std::string chosen = Trim(line);
    if (chosen.empty()) return false;
    // The default extension is added to a name typed without one; an open
    // dialog also takes an existing file named exactly as typed.
    std::string withExtension = WithExtension(chosen, request.defaultExtension);
    if (request.fileMustExist && !FileExists(withExtension) && FileExists(chosen)) {
      withExtension = chosen;
    }
    chosen = withExtension;
    // A name that does not fit is refused rather than cut to another file's.
    if (chosen.size() >= capacity || (request.fileMustExist && !FileExists(chosen))) {
      Reject(line);
      continue;
    }
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    return true;
  }
}

void TerminalFrontEnd::CloseMainWindow() { closed_ = true; }

}  // namespace screens
