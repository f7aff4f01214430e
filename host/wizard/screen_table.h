// Every wizard, error, wait and progress screen as data: template number,
// controls and the text each shows, commands and their results, the command
// Enter sends, pictures. The Win32 dialogs, the terminal front-end, the
// scripted front-end and the tests all read this one table; the few screens
// that do more than show text add behaviour in screen_behaviour.cpp.
#pragma once
#include <cstdint>
#include <span>

namespace screens {

enum class ControlKind {
  Text,         // a static text
  Headline,     // a static text in the headline font ("Arial", height 17, weight 900)
  Button,       // a push button; its id is the command it sends
  Radio,        // a radio button (screen 158)
  CheckBox,     // a check box (1134 on the closing screens)
  ProgressBar,  // control 1020 of the progress and backup screens
};

// What a label-and-value control shows after its label ("%s %s").
enum class Value {
  None,
  ModelID, Version, LanguageName,                 // the handheld (DeviceInfo)
  ImageModelID, ImageVersion, ImageLanguageName,  // the image header
  ImageSizeMB, FlashSizeMB,                       // "%d %s" with "Mbytes" (screen 151)
};

struct Control {
  int id;
  ControlKind kind;
  int slot;                // text slot filling it (0: none, or chosen at run time)
  Value value = Value::None;  // non-None: the control shows "<slot text> <value>"
  bool red = false;        // drawn in the warning colour
  bool checked = false;    // check box ticked when the screen opens
  bool blackFace = false;  // drawn in "Arial Black" (the banner of screen 166)
  int label = 0;           // check box: the static text beside it that names it
};

struct Command {
  int id;      // control id, or 1 (OK/Enter) and 2 (Cancel/Escape)
  int result;  // what the screen returns when it ends by this command
};

struct Picture {
  int bitmap;        // bitmap resource id
  int x, y;          // client position in pixels
  int width, height; // pixels
};

enum class Kind { Modal, Wait, Progress };

struct Screen {
  int id;              // dialog template number
  const char* role;    // short description, for people reading tests and logs
  Kind kind;
  int width, height;   // dialog units
  std::span<const Control> controls;
  std::span<const Command> commands;  // commands not listed are ignored
  int enterCommand;    // the command Enter sends (1 when there is no default button)
  std::span<const Picture> pictures;  // besides the side picture at (10, 10)
  bool sidePicture;    // wizard screens copy bitmap 127 to (10, 10)
};

constexpr int kEscapeCommand = 2;  // Escape always sends 2
constexpr int kTitleSlot = 11035;

// All screens, ordered by template number.
std::span<const Screen> AllScreens();
// The screen with template number `id`; null when there is none.
const Screen* FindScreen(int id);

}  // namespace screens
