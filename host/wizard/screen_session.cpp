// ScreenSession: a table entry made into a live screen, and the ways the
// driver and the other subsystems show screens.
#include "wizard/screen_session.h"

#include <cstdio>
#include <memory>

#include "base/bounded_text.h"
#include "wizard/image_header_record.h"
#include "wizard/catalogue.h"
#include "wizard/screen_hooks.h"
#include "wizard/wizard_state.h"

namespace screens {
namespace {

constexpr int kMbytesSlot = 11103;  // unit after the sizes on "ERROR 110"
// What ShowScreen returns for a template number the table does not hold, and
// for a screen without an Escape command once the wizard has ended.
constexpr int kNotShown = -1;

std::string SlotText(int slot) {
  if (slot == 0) return {};
  const char* text = wizard::Slot(slot);
  return text == nullptr ? std::string() : std::string(text);
}

// A fixed field of DeviceInfo, read no further than its capacity even if it
// lost its terminator.
template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, wizard::BoundedLength(text, N));
}

std::string LanguageName(const char* language) {
  const char* name = wizard::LanguageDisplayName(language == nullptr ? "" : language);
  return name == nullptr ? std::string() : std::string(name);
}

std::string ValueText(Value value) {
  const auto& device = wizard::Wizard.DeviceInfo;
  switch (value) {
    case Value::None: return {};
    case Value::ModelID: return Field(device.ModelID);
    case Value::Version: return Field(device.Version);
    case Value::LanguageName: return LanguageName(Field(device.Language).c_str());
    case Value::ImageModelID: return Field(wizard::ImageHeader.ImageModelID);
    case Value::ImageVersion: return Field(wizard::ImageHeader.ImageVersion);
    case Value::ImageLanguageName:
      return LanguageName(Field(wizard::ImageHeader.ImageLanguage).c_str());
    case Value::ImageSizeMB:
    case Value::FlashSizeMB: break;
  }
  // "%d %s": the size in whole megabytes and the unit.
  unsigned megabytes = value == Value::ImageSizeMB ? wizard::Wizard.ImageSizeKB >> 10
                                                   : wizard::Wizard.DeviceInfo.FlashSizeMB;
  char text[64];
  std::snprintf(text, sizeof text, "%u %s", megabytes, SlotText(kMbytesSlot).c_str());
  return text;
}

std::string ControlText(const Control& control) {
  if (control.value == Value::None) return SlotText(control.slot);
  if (control.value == Value::ImageSizeMB || control.value == Value::FlashSizeMB) {
    return ValueText(control.value);
  }
  // Label and value, "%s %s".
  return SlotText(control.slot) + " " + ValueText(control.value);
}

int EscapeResult(const Screen& screen) {
  for (const auto& command : screen.commands) {
    if (command.id == kEscapeCommand) return command.result;
  }
  return kNotShown;
}

}  // namespace

ScreenSession::ScreenSession(const Screen& screen)
    : screen_(screen),
      controls_(new ControlState[screen.controls.size()]),
      controlCount_(screen.controls.size()) {
  for (std::size_t i = 0; i < controlCount_; ++i) {
    controls_[i].id = screen.controls[i].id;
  }
}

ScreenSession::ControlState* ScreenSession::Find(int control) {
  for (std::size_t i = 0; i < controlCount_; ++i) {
    if (controls_[i].id == control) return &controls_[i];
  }
  return nullptr;
}

const ScreenSession::ControlState* ScreenSession::Find(int control) const {
  return const_cast<ScreenSession*>(this)->Find(control);
}

void ScreenSession::AttachView(ScreenView* view) { view_ = view; }

void ScreenSession::Fill() {
  title_ = SlotText(kTitleSlot);
  for (std::size_t i = 0; i < controlCount_; ++i) {
    const Control& control = screen_.controls[i];
    controls_[i].text = ControlText(control);
    controls_[i].enabled = true;
    controls_[i].checked = control.checked;
  }
}

void ScreenSession::Open() {
  Fill();
  behaviour::Opened(*this);
}

void ScreenSession::Command(int command) {
  if (Ended()) return;
  // A disabled button sends nothing (158's Next before a choice, 105's Next
  // while the handheld is on battery).
  if (const ControlState* control = Find(command); control != nullptr && !control->enabled) {
    return;
  }
  int result = 0;
  switch (behaviour::Command(*this, command, result)) {
    case behaviour::Outcome::Ignore: return;
    case behaviour::Outcome::End: End(result); return;
    case behaviour::Outcome::UseTable: break;
  }
  for (const auto& listed : screen_.commands) {
    if (listed.id == command) {
      End(listed.result);
      return;
    }
  }
}

void ScreenSession::Timer(int timer) {
  if (!Ended()) behaviour::Timer(*this, timer);
}

void ScreenSession::UserChecked(int control, bool checked) {
  ControlState* state = Find(control);
  if (state == nullptr || Ended()) return;
  Check(control, checked);
  // The radio buttons of a screen form one group.
  bool radio = false;
  for (const auto& listed : screen_.controls) {
    if (listed.id == control) radio = listed.kind == ControlKind::Radio;
  }
  if (radio && checked) {
    for (const auto& other : screen_.controls) {
      if (other.kind == ControlKind::Radio && other.id != control) Check(other.id, false);
    }
  }
  behaviour::UserChecked(*this, control, checked);
}

std::string ScreenSession::Title() const { return title_; }

std::string ScreenSession::Text(int control) const {
  const ControlState* state = Find(control);
  return state == nullptr ? std::string() : state->text;
}

bool ScreenSession::Enabled(int control) const {
  const ControlState* state = Find(control);
  return state != nullptr && state->enabled;
}

bool ScreenSession::Checked(int control) const {
  const ControlState* state = Find(control);
  return state != nullptr && state->checked;
}

bool ScreenSession::Highlighted(int control) const {
  return Find(control) != nullptr && behaviour::Highlighted(*this, control);
}

bool ScreenSession::Visible() const { return visible_; }
bool ScreenSession::Ended() const { return ended_; }
int ScreenSession::Result() const { return result_; }
std::uint32_t ScreenSession::ProgressRange() const { return range_; }
std::uint32_t ScreenSession::ProgressPosition() const { return position_; }
unsigned ScreenSession::Percent() const { return percent_; }

void ScreenSession::SetText(int control, const std::string& text) {
  ControlState* state = Find(control);
  if (state == nullptr) return;
  state->text = text;
  if (ScreenView* view = view_) view->ControlChanged(control);
}

void ScreenSession::Enable(int control, bool enabled) {
  ControlState* state = Find(control);
  if (state == nullptr || state->enabled.exchange(enabled) == enabled) return;
  if (ScreenView* view = view_) view->ControlChanged(control);
}

void ScreenSession::Check(int control, bool checked) {
  ControlState* state = Find(control);
  if (state == nullptr || state->checked.exchange(checked) == checked) return;
  if (ScreenView* view = view_) view->ControlChanged(control);
}

void ScreenSession::SetProgressRange(std::uint32_t range) {
  range_ = range;
  if (ScreenView* view = view_) view->ProgressChanged();
}

void ScreenSession::SetProgressPosition(std::uint32_t position) {
  position_ = position;
  if (ScreenView* view = view_) view->ProgressChanged();
}

void ScreenSession::SetPercent(unsigned percent) {
  percent_ = percent;
  if (ScreenView* view = view_) view->ProgressChanged();
}

void ScreenSession::StartTimer(int timer, std::uint32_t ms) {
  if (ScreenView* view = view_) view->StartTimer(timer, ms);
}

void ScreenSession::StopTimer(int timer) {
  if (ScreenView* view = view_) view->StopTimer(timer);
}

void ScreenSession::RefreshCursor() {
  if (ScreenView* view = view_) view->CursorChanged();
}

void ScreenSession::Collapse() {
  if (ScreenView* view = view_) view->Collapse();
}

void ScreenSession::SetVisible(bool visible) {
  visible_ = visible;
  if (ScreenView* view = view_) view->SetVisible(visible);
}

void ScreenSession::End(int result) {
  if (ending_.exchange(true)) return;  // first End wins
  result_ = result;
  ended_ = true;
  if (ScreenView* view = view_) view->Ended();
}

// Once the wizard has ended nothing more is shown: ShowScreen returns the
// screen's Escape result at once (kNotShown when it has none), which every
// caller treats as leaving.
int ShowScreen(int id) {
  const Screen* screen = FindScreen(id);
  if (screen == nullptr) return kNotShown;
  if (wizard::Wizard.WizardEnded) return EscapeResult(*screen);
  auto session = std::make_unique<ScreenSession>(*screen);
  // The front-end attaches its view, opens the session and runs it.
  int result = CurrentFrontEnd().RunModal(*session);
  if (!session->Ended()) session->End(result);
  result = session->Result();
  // A thread of the screen that did not end in time may still use the
  // session: it is then left allocated rather than freed under that thread.
  if (!behaviour::Closed(*session)) session.release();
  return result;
}

ScreenSession* OpenWaitScreen(int id) {
  const Screen* screen = FindScreen(id);
  if (screen == nullptr || wizard::Wizard.WizardEnded) return nullptr;
  auto* session = new ScreenSession(*screen);
  CurrentFrontEnd().OpenModeless(*session);
  return session;
}

void CloseWaitScreen(ScreenSession*& session) {
  if (session == nullptr) return;
  CurrentFrontEnd().CloseModeless(*session);
  behaviour::Closed(*session);
  delete session;
  session = nullptr;
}

}  // namespace screens
