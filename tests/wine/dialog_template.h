// The dialog templates of a program, read from its resources: for each
// control its id and its rectangle in dialog units. The probe uses them to
// tell which screen a window shows (133 and 160 have the same controls and
// differ only in layout) and to find where a control must stand.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace probe {

struct TemplateItem {
  int id;
  RECT units;  // left, top, right, bottom in dialog units
  std::string className;  // "Button", "Static", or a registered class name
};

struct DialogTemplate {
  int number;
  DWORD style;
  RECT units;
  int pointSize;     // the screen's font (DS_SETFONT), 0 without
  std::string face;
  std::vector<TemplateItem> items;
};

// Every dialog template of the program `module` (loaded as a data file).
std::vector<DialogTemplate> ReadTemplates(HMODULE module);

}  // namespace probe
