// Screen checks from outside the program: the window tree against the
// screen table and the dialog template, the pixels against red and the
// headline font, the text extents against the control sizes.
#include "screen_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wizard/catalogue.h"
#include "wizard/screen_table.h"

namespace probe {

namespace {

using screens::ControlKind;

constexpr int kTitleSlot = screens::kTitleSlot;
constexpr int kPositionSlack = 1;  // pixels a control may stand off its template place (rounding)
constexpr int kUnnamed = 65535;    // statics without an id of their own
constexpr int kSidePictureX = 10, kSidePictureY = 10, kSidePictureWidth = 240, kSidePictureHeight = 320;
constexpr int kChoiceGap = 24;       // most pixels between a picture and the choice beside it
constexpr int kLabelGap = 12;        // most pixels between a check box and the text naming it
constexpr int kLabelTopSlack = 4;    // a label's top may differ this much from its box's
constexpr int kBoxWidth = 16;        // a radio button's or check box's mark and its gap, in pixels
constexpr int kButtonMargin = 4;     // a push button's caption keeps this much room on each side
// The headline font: the screen's font, height 17, weight 900.
constexpr int kHeadlineHeight = 17, kHeadlineWeight = 900;

// The pictures and the headline font are given for a 96-DPI display; at
// other settings the program scales them as its dialog units scale.
constexpr int kDesignDpi = 96;
int DisplayDpi(int axis) {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, axis);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDesignDpi;
}
int ForDpiX(int pixels) { return MulDiv(pixels, DisplayDpi(LOGPIXELSX), kDesignDpi); }
int ForDpiY(int pixels) { return MulDiv(pixels, DisplayDpi(LOGPIXELSY), kDesignDpi); }

bool IsRed(COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80; }

// The window's pixels as they are on the screen, captured once.
struct Capture {
  RECT frame{};
  int width = 0, height = 0;
  std::vector<DWORD> pixels;  // 0x00RRGGBB, top-down
  COLORREF At(int x, int y) const {  // screen coordinates
    int cx = x - frame.left, cy = y - frame.top;
    if (cx < 0 || cy < 0 || cx >= width || cy >= height) return 0;
    DWORD p = pixels[static_cast<size_t>(cy) * width + cx];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
};

void CaptureRect(const RECT& frame, Capture& capture) {
  capture.frame = frame;
  capture.width = frame.right - frame.left;
  capture.height = frame.bottom - frame.top;
  capture.pixels.assign(static_cast<size_t>(capture.width) * capture.height, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, capture.width, capture.height, screen, frame.left, frame.top, SRCCOPY);
  GdiFlush();
  std::memcpy(capture.pixels.data(), bits, capture.pixels.size() * sizeof(DWORD));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

RECT ClientRectOf(HWND window, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The dialog base units of the template's font, as the dialog manager
// computes them: the average width of the Latin letters and the character
// height. (MapDialogRect does not work on another process's dialog.)
SIZE BaseUnitsAt(const DialogTemplate& dialog, int dpi) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  constexpr int kLetterCount = 52;
  HDC screen = GetDC(nullptr);
  int height = -MulDiv(dialog.pointSize, dpi, 72);
  HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, dialog.face.c_str());
  HGDIOBJ old = SelectObject(screen, font);
  TEXTMETRICA metrics;
  GetTextMetricsA(screen, &metrics);
  SIZE letters{};
  GetTextExtentPoint32A(screen, kLetters, kLetterCount, &letters);
  SelectObject(screen, old);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  return SIZE{(letters.cx / (kLetterCount / 2) + 1) / 2, metrics.tmHeight};
}

SIZE BaseUnits(const DialogTemplate& dialog) { return BaseUnitsAt(dialog, DisplayDpi(LOGPIXELSY)); }

// A picture given in pixels of a 96-DPI display grows as the dialog's base
// units grow from that display to this one: with the controls.
RECT PictureRect(const DialogTemplate& dialog, int x, int y, int width, int height) {
  const SIZE now = BaseUnits(dialog), design = BaseUnitsAt(dialog, kDesignDpi);
  auto across = [&](int v) { return MulDiv(v, now.cx, design.cx); };
  auto down = [&](int v) { return MulDiv(v, now.cy, design.cy); };
  return RECT{across(x), down(y), across(x) + across(width), down(y) + down(height)};
}

// Position and size are mapped each on its own, as the dialog manager does.
RECT Mapped(SIZE base, RECT units) {
  int left = MulDiv(units.left, base.cx, 4), top = MulDiv(units.top, base.cy, 8);
  return RECT{left, top, left + MulDiv(units.right - units.left, base.cx, 4),
              top + MulDiv(units.bottom - units.top, base.cy, 8)};
}

bool Near(const RECT& a, const RECT& b) {
  return std::abs(a.left - b.left) <= kPositionSlack && std::abs(a.top - b.top) <= kPositionSlack &&
         std::abs(a.right - b.right) <= kPositionSlack && std::abs(a.bottom - b.bottom) <= kPositionSlack;
}

bool Overlap(const RECT& a, const RECT& b) {
  RECT both;
  return IntersectRect(&both, &a, &b) != FALSE;
}

std::string Describe(const RECT& r) {
  char text[64];
  std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
  return text;
}

std::string TextOf(HWND item) {
  char text[2048] = {};
  SendMessageA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string Lower(std::string s) {
  CharLowerBuffA(&s[0], static_cast<DWORD>(s.size()));
  return s;
}

// Does `window` show template `dialog`: every control of the template is
// there, where the template puts it?
bool Shows(HWND window, const DialogTemplate& dialog) {
  if (dialog.items.empty()) return false;
  SIZE base = BaseUnits(dialog);
  for (const TemplateItem& item : dialog.items) {
    HWND child = GetDlgItem(window, item.id);
    if (child == nullptr) return false;
    if (item.id == kUnnamed) continue;  // several share the id
    if (!Near(ClientRectOf(window, child), Mapped(base, item.units))) return false;
  }
  return true;
}

struct Search {
  const DialogTemplate* dialog;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  if (!Shows(window, *search->dialog)) return TRUE;
  search->found = window;
  return FALSE;
}

const DialogTemplate* TemplateOf(const Program& program, int number) {
  for (const DialogTemplate& dialog : program.templates) {
    if (dialog.number == number) return &dialog;
  }
  return nullptr;
}

// ---- fonts and text extents ----------------------------------------------------

HFONT ScreenFont(const DialogTemplate& dialog) {
  HDC screen = GetDC(nullptr);
  int height = -MulDiv(dialog.pointSize, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, dialog.face.c_str());
}

HFONT HeadlineFont(const DialogTemplate& dialog, const char* face) {
  LOGFONTA font;
  HFONT base = ScreenFont(dialog);
  GetObjectA(base, sizeof font, &font);
  DeleteObject(base);
  // Given for 96 DPI and grown as the dialog's base units grow, like the pictures.
  font.lfHeight = MulDiv(kHeadlineHeight, BaseUnits(dialog).cy, BaseUnitsAt(dialog, kDesignDpi).cy);
  font.lfWeight = kHeadlineWeight;
  lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectA(&font);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

// Rows of ink of the first line of `text` drawn in `font` (the height of its
// glyphs, from the top of the highest to the bottom of the lowest).
int RenderedInkHeight(HFONT font, const std::string& line) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  constexpr int kWidth = 800, kHeight = 60;
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  HGDIOBJ oldFont = SelectObject(memory, font);
  RECT all{0, 0, kWidth, kHeight};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(memory, RGB(0, 0, 0));
  SetBkMode(memory, TRANSPARENT);
  TextOutA(memory, 2, 2, line.c_str(), static_cast<int>(line.size()));
  int top = -1, bottom = -1;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      COLORREF c = GetPixel(memory, x, y);
      if (GetRValue(c) < 128) {
        if (top < 0) top = y;
        bottom = y;
        break;
      }
    }
  }
  SelectObject(memory, oldFont);
  SelectObject(memory, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return top < 0 ? 0 : bottom - top + 1;
}

// The same on the screen, in the control's rectangle: the first run of rows
// holding ink (pixels much darker than the control's background).
int ShownInkHeight(const Capture& capture, const RECT& area) {
  COLORREF background = capture.At(area.right - 1, area.bottom - 1);
  int backgroundLevel = (GetRValue(background) + GetGValue(background) + GetBValue(background)) / 3;
  int top = -1, bottom = -1;
  for (int y = area.top; y < area.bottom; ++y) {
    bool ink = false;
    for (int x = area.left; x < area.right && !ink; ++x) {
      COLORREF c = capture.At(x, y);
      int level = (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3;
      ink = backgroundLevel - level > 100 || IsRed(c);
    }
    if (ink) {
      if (top < 0) top = y;
      bottom = y;
    } else if (top >= 0) {
      break;
    }
  }
  return top < 0 ? 0 : bottom - top + 1;
}

int RedPixels(const Capture& capture, const RECT& area) {
  int count = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) count += IsRed(capture.At(x, y)) ? 1 : 0;
  }
  return count;
}

RECT ToScreen(HWND window, RECT r) {
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Does `text` fit `box` (pixels) as control `control` of `dialog` shows it:
// no line wraps where the text has no break of its own, and a text's lines
// are not cut off at the bottom.
std::vector<std::string> FitProblems(const DialogTemplate& dialog, const screens::Control& control,
                                     const std::string& text, RECT box) {
  std::vector<std::string> problems;
  if (control.kind == ControlKind::ProgressBar || text.empty()) return problems;
  bool headline = control.kind == ControlKind::Headline || control.blackFace;
  HFONT font = headline ? HeadlineFont(dialog, control.blackFace ? "Arial Black" : "Arial") : ScreenFont(dialog);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  int width = box.right - box.left, height = box.bottom - box.top;
  int room = width;
  if (control.kind == ControlKind::Radio || control.kind == ControlKind::CheckBox) room -= ForDpiX(kBoxWidth);
  if (control.kind == ControlKind::Button) room -= 2 * kButtonMargin;
  std::vector<std::string> lines = Lines(text);
  bool caption = control.kind == ControlKind::Button || control.kind == ControlKind::Radio ||
                 control.kind == ControlKind::CheckBox;
  bool ownBreaks = lines.size() > 1 || caption;
  for (const std::string& line : lines) {
    if (!ownBreaks) break;
    SIZE extent{};
    GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &extent);
    if (extent.cx > room) {
      problems.push_back("\"" + line + "\" is " + std::to_string(extent.cx) + " px wide in " + std::to_string(room) +
                         " px: it wraps");
    }
  }
  if (control.kind == ControlKind::Text || control.kind == ControlKind::Headline) {
    RECT needed{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    if (needed.bottom > height) {
      problems.push_back("needs " + std::to_string(needed.bottom) + " px of height, has " + std::to_string(height));
    }
  } else if (metrics.tmHeight > height) {
    problems.push_back("its caption is " + std::to_string(metrics.tmHeight) + " px high in " +
                       std::to_string(height));
  }
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  return problems;
}

struct Checker {
  const Program& program;
  const screens::Screen& screen;
  const DialogTemplate& dialog;
  HWND window;
  std::vector<std::string>& problems;
  Capture capture;

  void Problem(int id, const std::string& what) {
    problems.push_back("control " + std::to_string(id) + ": " + what);
  }

  void CheckFrame() {
    LONG style = GetWindowLongA(window, GWL_STYLE);
    bool titled = (style & WS_CAPTION) == WS_CAPTION;
    if (screen.kind == screens::Kind::Modal) {
      if (!titled) problems.push_back("no title bar");
      std::string title = TextOf(window);
      if (title != SlotText(program, kTitleSlot)) problems.push_back("title \"" + title + "\"");
    } else if (titled) {
      problems.push_back("a wait or progress screen with a title bar");
    }
  }

  void CheckKind(const screens::Control& control, HWND item) {
    char className[64] = {};
    GetClassNameA(item, className, sizeof className);
    LONG type = GetWindowLongA(item, GWL_STYLE) & BS_TYPEMASK;
    std::string cls = Lower(className);
    bool ok = true;
    switch (control.kind) {
      case ControlKind::Text:
      case ControlKind::Headline: ok = cls == "static"; break;
      case ControlKind::Button: ok = cls == "button" && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON); break;
      case ControlKind::Radio: ok = cls == "button" && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON); break;
      case ControlKind::CheckBox: ok = cls == "button" && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX); break;
      case ControlKind::ProgressBar: ok = cls == "msctls_progress32"; break;
    }
    if (!ok) Problem(control.id, std::string("is a ") + className + " of type " + std::to_string(type));
  }

  void CheckText(const screens::Control& control, HWND item) {
    if (control.kind == ControlKind::ProgressBar || control.slot == 0) return;
    std::string shown = TextOf(item);
    std::string slot = SlotText(program, control.slot);
    bool ok;
    if (control.value == screens::Value::None) {
      ok = shown == slot;
    } else if (control.value == screens::Value::ImageSizeMB || control.value == screens::Value::FlashSizeMB) {
      ok = shown.size() > slot.size() + 1 && shown.compare(shown.size() - slot.size(), slot.size(), slot) == 0;
    } else {
      ok = shown.size() > slot.size() + 1 && shown.compare(0, slot.size() + 1, slot + " ") == 0;
    }
    if (slot.empty()) Problem(control.id, "string " + std::to_string(control.slot) + " is empty");
    if (!ok) Problem(control.id, "shows \"" + shown + "\", string " + std::to_string(control.slot) + " is \"" + slot + "\"");
  }

  void CheckRed(const screens::Control& control, HWND item, const std::set<int>& highlighted) {
    if (control.kind != ControlKind::Text && control.kind != ControlKind::Headline) return;
    int red = RedPixels(capture, ToScreen(window, ClientRectOf(window, item)));
    bool wanted = control.red || highlighted.count(control.id) != 0;
    if (wanted && red == 0) Problem(control.id, "is not red");
    if (!wanted && red != 0) Problem(control.id, "has " + std::to_string(red) + " red pixels");
  }

  void CheckHeadline(const screens::Control& control, HWND item) {
    bool headline = control.kind == ControlKind::Headline || control.blackFace;
    if (control.kind != ControlKind::Text && !headline) return;
    std::string first = Lines(TextOf(item))[0];
    if (first.find_first_not_of(' ') == std::string::npos) return;
    HFONT normal = ScreenFont(dialog);
    HFONT heavy = HeadlineFont(dialog, control.blackFace ? "Arial Black" : "Arial");
    int normalInk = RenderedInkHeight(normal, first);
    int heavyInk = RenderedInkHeight(heavy, first);
    DeleteObject(normal);
    DeleteObject(heavy);
    int shown = ShownInkHeight(capture, ToScreen(window, ClientRectOf(window, item)));
    bool looksHeavy = std::abs(shown - heavyInk) < std::abs(shown - normalInk);
    if (normalInk == heavyInk) return;  // the two fonts cannot be told apart by this text
    if (headline && !looksHeavy) {
      Problem(control.id, "not in the headline font (ink " + std::to_string(shown) + " px, headline " +
                              std::to_string(heavyInk) + ", normal " + std::to_string(normalInk) + ")");
    }
    if (!headline && looksHeavy) Problem(control.id, "in a headline font");
  }

  // The text must fit: in a text that sets its own line breaks no line may
  // be wider than the control (it would break where the text does not), a
  // caption must stand on one line, and a text of one paragraph may wrap at
  // its blanks but must not be cut off at the bottom.
  void CheckFit(const screens::Control& control, HWND item) {
    std::string text = TextOf(item);
    for (const std::string& problem : FitProblems(dialog, control, text, ClientRectOf(window, item))) {
      Problem(control.id, problem);
    }
  }

  std::vector<RECT> Pictures() {
    std::vector<RECT> pictures;
    if (screen.sidePicture) {
      pictures.push_back(PictureRect(dialog, kSidePictureX, kSidePictureY, kSidePictureWidth, kSidePictureHeight));
    }
    for (const screens::Picture& p : screen.pictures) pictures.push_back(PictureRect(dialog, p.x, p.y, p.width, p.height));
    return pictures;
  }

  void CheckLayout() {
    RECT client;
    GetClientRect(window, &client);
    std::vector<std::pair<int, RECT>> boxes;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (!IsWindowVisible(child)) continue;
      RECT r = ClientRectOf(window, child);
      int id = GetDlgCtrlID(child);
      RECT inside;
      IntersectRect(&inside, &r, &client);
      if (!EqualRect(&inside, &r)) Problem(id, "reaches outside the screen " + Describe(r));
      boxes.push_back({id, r});
    }
    for (size_t i = 0; i < boxes.size(); ++i) {
      for (size_t j = i + 1; j < boxes.size(); ++j) {
        if (Overlap(boxes[i].second, boxes[j].second)) {
          Problem(boxes[i].first, "overlaps control " + std::to_string(boxes[j].first) + " " +
                                      Describe(boxes[i].second) + " " + Describe(boxes[j].second));
        }
      }
    }
    for (const RECT& picture : Pictures()) {
      RECT inside;
      IntersectRect(&inside, &picture, &client);
      if (!EqualRect(&inside, &picture)) {
        problems.push_back("picture " + Describe(picture) + " is cut off by the client area " + Describe(client));
      }
      for (const auto& box : boxes) {
        if (Overlap(picture, box.second)) Problem(box.first, "overlaps the picture " + Describe(picture));
      }
    }
  }

  // A radio button stands right beside its picture; a check box right
  // beside the text that names it.
  void CheckChoices() {
    std::vector<RECT> pictures;
    for (const screens::Picture& p : screen.pictures) pictures.push_back(PictureRect(dialog, p.x, p.y, p.width, p.height));
    for (const screens::Control& control : screen.controls) {
      HWND item = GetDlgItem(window, control.id);
      if (item == nullptr) continue;
      RECT r = ClientRectOf(window, item);
      if (control.kind == ControlKind::Radio) {
        int middle = (r.top + r.bottom) / 2;
        bool beside = false;
        for (const RECT& p : pictures) {
          bool level = middle >= p.top && middle <= p.bottom;
          int gap = r.left >= p.right ? r.left - p.right : p.left - r.right;
          beside = beside || (level && gap >= 0 && gap <= ForDpiX(kChoiceGap));
        }
        if (!beside) Problem(control.id, "stands " + Describe(r) + ", not beside its picture");
      }
      if (control.kind == ControlKind::CheckBox && control.label != 0) {
        HWND label = GetDlgItem(window, control.label);
        if (label == nullptr) continue;
        RECT l = ClientRectOf(window, label);
        int gap = l.left - r.right;
        if (gap < 0 || gap > ForDpiX(kLabelGap) || std::abs(l.top - r.top) > ForDpiY(kLabelTopSlack)) {
          Problem(control.id, "stands " + Describe(r) + ", not beside its text " + Describe(l));
        }
      }
    }
  }
};

}  // namespace

bool OpenProgram(const char* exe, Program& program) {
  program.module = LoadLibraryExA(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (program.module == nullptr) return false;
  program.templates = ReadTemplates(program.module);
  return !program.templates.empty();
}

namespace {
std::string LoadedString(const Program& program, int id) {
  char text[2048] = {};
  if (id != 0) LoadStringA(program.module, static_cast<UINT>(id), text, sizeof text);
  return text;
}
}  // namespace

std::string SlotText(const Program& program, int slot) {
  // The block the program under test reads (WINE_PROBE_BLOCK, e.g. 12000
  // for German); a slot the block has no text for shows the English one,
  // as in the program.
  const char* block = std::getenv("WINE_PROBE_BLOCK");
  int base = block != nullptr ? std::atoi(block) : wizard::kEnglishBlock;
  if (base == 0) base = wizard::kEnglishBlock;
  std::string text = LoadedString(program, wizard::BlockStringId(slot, base));
  return text.empty() ? LoadedString(program, slot) : text;
}

HWND FindTemplateWindow(const Program& program, int number) {
  const DialogTemplate* dialog = TemplateOf(program, number);
  if (dialog == nullptr) return nullptr;
  Search search{dialog, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitTemplateWindow(const Program& program, int number, int ms) {
  DWORD start = GetTickCount();
  for (;;) {
    // Up and in front, so that the keys pressed next reach it.
    HWND window = FindTemplateWindow(program, number);
    if (window != nullptr && GetForegroundWindow() == window) return window;
    if (static_cast<int>(GetTickCount() - start) > ms) return nullptr;
    Sleep(50);
  }
}

namespace {

// What a screen check covers: everything, or the layout alone (the DPI pass,
// where texts and colours are the 96 DPI pass's business).
enum class CheckScope { Whole, Layout };

void CheckShownScreen(const Program& program, int number, HWND window, const std::set<int>& highlighted,
                      CheckScope scope, std::vector<std::string>& problems) {
  const screens::Screen* screen = screens::FindScreen(number);
  const DialogTemplate* dialog = TemplateOf(program, number);
  if (screen == nullptr || dialog == nullptr) {
    problems.push_back("no screen " + std::to_string(number) + " in the table or the program");
    return;
  }
  Checker checker{program, *screen, *dialog, window, problems, {}};
  const bool whole = scope == CheckScope::Whole;
  if (whole) {
    RECT frame;
    GetWindowRect(window, &frame);
    CaptureRect(frame, checker.capture);
    checker.CheckFrame();
  }
  for (const screens::Control& control : screen->controls) {
    HWND item = GetDlgItem(window, control.id);
    if (item == nullptr || !IsWindowVisible(item)) {
      checker.Problem(control.id, "missing");
      continue;
    }
    if (whole) {
      checker.CheckKind(control, item);
      checker.CheckText(control, item);
      checker.CheckRed(control, item, highlighted);
      if (highlighted.count(control.id) == 0) checker.CheckHeadline(control, item);
    }
    checker.CheckFit(control, item);
  }
  checker.CheckLayout();
  checker.CheckChoices();
}

}  // namespace

void CheckScreen(const Program& program, int number, HWND window, const std::set<int>& highlighted,
                 std::vector<std::string>& problems) {
  CheckShownScreen(program, number, window, highlighted, CheckScope::Whole, problems);
}

void CheckScreenLayout(const Program& program, int number, HWND window, std::vector<std::string>& problems) {
  CheckShownScreen(program, number, window, {}, CheckScope::Layout, problems);
}

std::string PicturePlaces(const Program& program, int number) {
  const screens::Screen* screen = screens::FindScreen(number);
  const DialogTemplate* dialog = TemplateOf(program, number);
  if (screen == nullptr || dialog == nullptr) return {};
  std::string places;
  if (screen->sidePicture) {
    places += "side picture " + Describe(PictureRect(*dialog, kSidePictureX, kSidePictureY, kSidePictureWidth,
                                                     kSidePictureHeight));
  }
  for (const screens::Picture& p : screen->pictures) {
    places += (places.empty() ? "picture " : ", picture ") + std::to_string(p.bitmap) + " " +
              Describe(PictureRect(*dialog, p.x, p.y, p.width, p.height));
  }
  return places;
}

void CheckAllTexts(const Program& program, std::vector<std::string>& problems) {
  for (const screens::Screen& screen : screens::AllScreens()) {
    const DialogTemplate* dialog = TemplateOf(program, screen.id);
    if (dialog == nullptr) continue;
    SIZE base = BaseUnits(*dialog);
    for (const screens::Control& control : screen.controls) {
      // Texts with a value after them, or chosen at run time, are seen by the journeys.
      if (control.slot == 0 || control.value != screens::Value::None) continue;
      for (const TemplateItem& item : dialog->items) {
        if (item.id != control.id) continue;
        for (const std::string& problem : FitProblems(*dialog, control, SlotText(program, control.slot),
                                                      Mapped(base, item.units))) {
          problems.push_back("screen " + std::to_string(screen.id) + ", control " + std::to_string(control.id) +
                             " (string " + std::to_string(control.slot) + "): " + problem);
        }
      }
    }
  }
}

}  // namespace probe
