#include "scripted_front_end.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "image/image_file.h"
#include "platform/clock.h"
#include "platform/text_resources.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace testsupport {
namespace {

const ControlView* FindView(const Snapshot& snapshot, int control) {
  auto found = snapshot.controls.find(control);
  return found == snapshot.controls.end() ? nullptr : &found->second;
}

}  // namespace

std::string Snapshot::Text(int control) const {
  const ControlView* view = FindView(*this, control);
  return view == nullptr ? std::string() : view->text;
}
bool Snapshot::Enabled(int control) const {
  const ControlView* view = FindView(*this, control);
  return view != nullptr && view->enabled;
}
bool Snapshot::Checked(int control) const {
  const ControlView* view = FindView(*this, control);
  return view != nullptr && view->checked;
}
bool Snapshot::Highlighted(int control) const {
  const ControlView* view = FindView(*this, control);
  return view != nullptr && view->highlighted;
}

Snapshot Capture(const screens::ScreenSession& session) {
  Snapshot snapshot;
  snapshot.title = session.Title();
  snapshot.visible = session.Visible();
  snapshot.progressRange = session.ProgressRange();
  snapshot.progressPosition = session.ProgressPosition();
  snapshot.percent = session.Percent();
  for (const auto& control : session.screen().controls) {
    snapshot.controls[control.id] = ControlView{session.Text(control.id),
                                                session.Enabled(control.id),
                                                session.Checked(control.id),
                                                session.Highlighted(control.id)};
  }
  return snapshot;
}

// Records what a session asks of its view; it may be called from workers.
// Views live as long as the front-end, since a worker may still hold one
// after its screen has ended.
class ScriptedFrontEnd::View : public screens::ScreenView {
 public:
  View(ScriptedFrontEnd& owner, std::size_t showing) : owner_(owner), showing_(showing) {}
  void ControlChanged(int) override {}
  void ProgressChanged() override {}
  void StartTimer(int timer, std::uint32_t) override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.showings_[showing_].timersStarted.push_back(timer);
  }
  void StopTimer(int timer) override {
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.showings_[showing_].timersStopped.push_back(timer);
  }
  void CursorChanged() override {}
  void Collapse() override {}
  void SetVisible(bool) override {}
  void Ended() override {}

 private:
  ScriptedFrontEnd& owner_;
  std::size_t showing_;
};

namespace {
std::vector<std::unique_ptr<screens::ScreenView>>& Views() {
  static std::vector<std::unique_ptr<screens::ScreenView>> views;
  return views;
}
}  // namespace

ScriptedFrontEnd::ScriptedFrontEnd() { screens::SetFrontEnd(this); }

// Leaves no front-end installed.
ScriptedFrontEnd::~ScriptedFrontEnd() { screens::SetFrontEnd(nullptr); }

void ScriptedFrontEnd::Answer(int screen, int command) { Answer(screen, {}, command); }

void ScriptedFrontEnd::Answer(int screen, std::vector<std::pair<int, bool>> toggles, int command) {
  Step step;
  step.toggles = std::move(toggles);
  step.command = command;
  steps_[screen].push_back(step);
}

void ScriptedFrontEnd::FireTimer(int screen, int timer) {
  Step step;
  step.timer = timer;
  steps_[screen].push_back(step);
}

void ScriptedFrontEnd::ChooseFile(const std::string& path) { files_.emplace_back(path); }
void ScriptedFrontEnd::CancelFile() { files_.emplace_back(std::nullopt); }

std::vector<int> ScriptedFrontEnd::Walk() const {
  std::vector<int> walk;
  for (const auto& showing : showings_) walk.push_back(showing.screen);
  return walk;
}

const Showing& ScriptedFrontEnd::Last(int screen) const {
  for (auto it = showings_.rbegin(); it != showings_.rend(); ++it) {
    if (it->screen == screen) return *it;
  }
  ADD_FAILURE() << "screen " << screen << " was never shown";
  static Showing none = [] {
    Showing empty;
    empty.states.emplace_back();
    return empty;
  }();
  return none;
}

int ScriptedFrontEnd::TimesShown(int screen) const {
  int count = 0;
  for (const auto& showing : showings_) count += showing.screen == screen;
  return count;
}

std::size_t ScriptedFrontEnd::UnusedSteps() const {
  std::size_t count = files_.size();
  for (const auto& [screen, queue] : steps_) count += queue.size();
  return count;
}

void ScriptedFrontEnd::Apply(screens::ScreenSession& session, std::size_t showing,
                             const Step& step) {
  for (const auto& [control, checked] : step.toggles) session.UserChecked(control, checked);
  if (step.timer != 0) {
    session.Timer(step.timer);
    return;
  }
  showings_[showing].commands.push_back(step.command);
  session.Command(step.command);
}

int ScriptedFrontEnd::RunModal(screens::ScreenSession& session) {
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    showings_.push_back(Showing{});
    index = showings_.size() - 1;
    showings_[index].screen = session.id();
  }
  Views().push_back(std::make_unique<View>(*this, index));
  session.AttachView(Views().back().get());
  session.Open();
  showings_[index].states.push_back(Capture(session));
  while (!session.Ended()) {
    auto& queue = steps_[session.id()];
    if (queue.empty()) {
      if (session.screen().kind == screens::Kind::Progress) {
        // Its worker ends it.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgressWaitMs);
        while (!session.Ended() && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (session.Ended()) {
          showings_[index].states.push_back(Capture(session));  // as its worker left it
          break;
        }
      }
      ADD_FAILURE() << "no answer scripted for screen " << session.id();
      session.End(kUnscripted);
      break;
    }
    Step step = queue.front();
    queue.pop_front();
    Apply(session, index, step);
    showings_[index].states.push_back(Capture(session));
  }
  showings_[index].result = session.Result();
  return session.Result();
}

void ScriptedFrontEnd::OpenModeless(screens::ScreenSession& session) {
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    showings_.push_back(Showing{});
    index = showings_.size() - 1;
    showings_[index].screen = session.id();
    showings_[index].modeless = true;
  }
  Views().push_back(std::make_unique<View>(*this, index));
  session.AttachView(Views().back().get());
  session.Open();
  showings_[index].states.push_back(Capture(session));
}

void ScriptedFrontEnd::CloseModeless(screens::ScreenSession&) {}

bool ScriptedFrontEnd::ChooseFile(const screens::FileDialogRequest& request, char* path,
                                  std::size_t capacity) {
  FileDialogCall call;
  call.save = request.save;
  call.initialFolder = request.initialFolder;
  call.defaultExtension = request.defaultExtension;
  call.fileMustExist = request.fileMustExist;
  call.noChangeDir = request.noChangeDir;
  call.ownedByScreen = request.owner != nullptr;
  call.proposed = path;
  fileDialogs_.push_back(call);
  if (files_.empty()) {
    ADD_FAILURE() << "no file dialog answer scripted";
    return false;
  }
  std::optional<std::string> answer = files_.front();
  files_.pop_front();
  if (!answer) return false;
  std::snprintf(path, capacity, "%s", answer->c_str());
  return true;
}

void ScriptedFrontEnd::CloseMainWindow() { ++mainWindowClosed_; }

std::int32_t StartRemoteApiAndWait(rapi::InitRecord* init) {
  constexpr std::uint32_t kPatientRealMs = 60000;
  const std::int32_t result = rapi::CeRapiInitEx(init);
  rapi::WaitForConnection(*init, kPatientRealMs * platform::TimeScale());
  return result;
}

void ResetWizardForTest() {
  wizard::ResetWizardState();
  wizard::ResetImageHeader();
  wizard::LoadTextCatalogueFor(0, platform::LoadText);  // English, whatever the locale
  wizard::Ops = wizard::DefaultOperations();
}

}  // namespace testsupport
