// Finds a screen of a running romwiz.exe by its dialog template and compares
// what it shows with the screen table: frame and title, the text of every
// control, which controls are red, the headline font, and whether the
// layout holds (no overlaps, no clipped or wrapped text, pictures whole,
// choices beside what they name). Works from outside the program, on its
// windows and on the pixels on the screen.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "dialog_template.h"

namespace probe {

struct Program {
  HMODULE module;  // romwiz.exe loaded as a data file: its strings and templates
  std::vector<DialogTemplate> templates;
};

bool OpenProgram(const char* exe, Program& program);
std::string SlotText(const Program& program, int slot);

// The visible top-level window that shows template `number` (its controls
// where the template puts them); null when none does.
HWND FindTemplateWindow(const Program& program, int number);
// Waits up to `ms` for it to be up and the foreground window.
HWND WaitTemplateWindow(const Program& program, int number, int ms);

// Compares the window with the screen table; each problem found is one line
// of `problems`. `highlighted`: controls that must have a red background.
void CheckScreen(const Program& program, int number, HWND window, const std::set<int>& highlighted,
                 std::vector<std::string>& problems);

// The layout alone, for a screen whose texts were not set by a journey:
// nothing overlaps or is cut off, texts break only where they set their own
// breaks, choices stand beside what they name, the pictures whole.
void CheckScreenLayout(const Program& program, int number, HWND window, std::vector<std::string>& problems);

// Where the screen's pictures stand at this display's DPI, as
// "side picture (l,t)-(r,b), picture <bitmap> (l,t)-(r,b)".
std::string PicturePlaces(const Program& program, int number);

// Every fixed text of every screen, in the block WINE_PROBE_BLOCK names, fits
// its control as the template sizes it; each text that does not is one line
// of `problems`. Needs no running program.
void CheckAllTexts(const Program& program, std::vector<std::string>& problems);

}  // namespace probe
