// The Win32 front-end: one dialog procedure for every screen. It renders the
// screen's session (texts, enabled and checked states, progress), draws the
// side picture and the screen's own pictures, the headline font and the red
// warnings, and feeds the user's commands back to the session.
#include "platform/win32/dialog_front_end.h"

#include <commctrl.h>
#include <commdlg.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/win32_app.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace win32 {

namespace {

using screens::ControlKind;

constexpr COLORREF kWarningRed = 0x0000FF;  // COLORREF byte order: red
constexpr int kHeadlineHeight = 17;
constexpr int kHeadlineWeight = 900;
constexpr char kHeadlineFace[] = "Arial";
constexpr char kBannerFace[] = "Arial Black";
// The font made when a screen has none of its own.
constexpr int kFallbackHeight = 13;
constexpr int kFallbackWeight = 200;
constexpr int kSidePictureX = 10, kSidePictureY = 10;
constexpr int kSidePictureWidth = 240, kSidePictureHeight = 320;
// Pictures are placed in pixels of a 96-DPI display, the controls in dialog
// units, which grow with the display's DPI. The program declares itself
// DPI-aware, so Windows no longer stretches it: each picture's place and
// size grow by the same proportion, and at 96 DPI stay exactly as given.
constexpr int kDesignDpi = 96;
constexpr int kDialogUnitsAcross = 4, kDialogUnitsDown = 8;  // one base unit in dialog units
constexpr int kDownloadProgressScreen = 102;  // the only screen with its own cursor
constexpr int kProgressBar = 1020;
constexpr int kPercentText = 1023;
// The structure without the Windows 2000 fields: every Windows accepts it.
// 76 bytes in the shipped 32-bit program; the 64-bit build that runs under
// 64-bit Wine needs the same layout at its own size.
constexpr DWORD kOpenFileNameSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || kOpenFileNameSize == 76, "the structure size the shipped program passes");
// What a screen that could not be shown and has no Escape result returns.
constexpr int kNotShown = -1;
constexpr char kFileFilters[] = "ROM image (*.nbf)\0*.nbf\0All files (*.*)\0*.*\0";

// Hands a session's changes to its dialog. On the dialog's own thread they
// are applied at once; other threads post them (a worker must never wait for
// the GUI thread, and SetTimer only works on the window's own thread).
// Posters are never freed: a worker may still hold one after its dialog has
// gone, and posting to a window that no longer exists does nothing.
class Poster : public screens::ScreenView {
 public:
  std::atomic<HWND> window{nullptr};
  std::atomic<DWORD> thread{0};

  void ControlChanged(int control) override { Deliver(kControlChangedMessage, control, 0); }
  void ProgressChanged() override { Deliver(kProgressChangedMessage, 0, 0); }
  void StartTimer(int timer, std::uint32_t ms) override { Deliver(kStartTimerMessage, timer, ms); }
  void StopTimer(int timer) override { Deliver(kStopTimerMessage, timer, 0); }
  void CursorChanged() override {
    HWND target = window.load();
    if (target != nullptr) PostMessageA(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), HTCLIENT);
  }
  void Collapse() override { Deliver(kCollapseMessage, 0, 0); }
  void SetVisible(bool visible) override { Deliver(kVisibleMessage, visible ? 1 : 0, 0); }
  void Ended() override { Deliver(kEndedMessage, 0, 0); }

 private:
  void Deliver(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND target = window.load();
    if (target == nullptr) return;
    if (GetCurrentThreadId() == thread.load()) {
      SendMessageA(target, message, wParam, lParam);
    } else {
      PostMessageA(target, message, wParam, lParam);
    }
  }
};

struct ScreenPicture {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  int x = 0, y = 0, width = 0, height = 0;  // at 96 DPI, as the screen table gives them
};

// The display's DPI across and down (96 when it cannot be read).
struct Dpi {
  int x = kDesignDpi, y = kDesignDpi;
};

Dpi DisplayDpi() {
  Dpi dpi;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return dpi;
  const int x = GetDeviceCaps(screen, LOGPIXELSX), y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (x > 0) dpi.x = x;
  if (y > 0) dpi.y = y;
  return dpi;
}

// How a dialog's pictures grow: the dialog's base units now over the base
// units its font has at 96 DPI, across and down. The controls grow by these
// very ratios, which follow the font's metrics and not the DPI exactly, so
// pictures and controls keep their places to each other; at 96 DPI both
// ratios are 1 and the pictures stay pixel for pixel where they are given.
struct PictureScale {
  int numX = 1, denX = 1, numY = 1, denY = 1;
  int X(int pixels) const { return MulDiv(pixels, numX, denX); }
  int Y(int pixels) const { return MulDiv(pixels, numY, denY); }
  bool Identity() const { return numX == denX && numY == denY; }
};

// The base units of `font` as the dialog manager computes them: the average
// width of the Latin letters, and the character height.
SIZE FontBaseUnits(HDC dc, HFONT font) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  constexpr int kLetterCount = 52;
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SIZE letters{};
  GetTextExtentPoint32A(dc, kLetters, kLetterCount, &letters);
  SelectObject(dc, old);
  return SIZE{(letters.cx / (kLetterCount / 2) + 1) / 2, metrics.tmHeight};
}

PictureScale ScaleOf(HWND dialog) {
  PictureScale scale;
  const Dpi dpi = DisplayDpi();
  if (dpi.x == kDesignDpi && dpi.y == kDesignDpi) return scale;
  RECT units{0, 0, kDialogUnitsAcross, kDialogUnitsDown};  // one base unit each way
  MapDialogRect(dialog, &units);
  HFONT own = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  LOGFONTA font;
  if (own == nullptr || GetObjectA(own, sizeof font, &font) != sizeof font) {
    scale = PictureScale{dpi.x, kDesignDpi, dpi.y, kDesignDpi};
    return scale;
  }
  font.lfHeight = MulDiv(font.lfHeight, kDesignDpi, dpi.y);  // the same font on a 96-DPI display
  font.lfWidth = 0;
  HFONT design = CreateFontIndirectA(&font);
  HDC dc = GetDC(dialog);
  const SIZE base = design != nullptr && dc != nullptr ? FontBaseUnits(dc, design) : SIZE{0, 0};
  if (dc != nullptr) ReleaseDC(dialog, dc);
  if (design != nullptr) DeleteObject(design);
  if (base.cx <= 0 || base.cy <= 0 || units.right <= 0 || units.bottom <= 0) {
    return PictureScale{dpi.x, kDesignDpi, dpi.y, kDesignDpi};
  }
  return PictureScale{units.right, base.cx, units.bottom, base.cy};
}

// Draws `width` x `height` pixels of `source` (placed for 96 DPI at x, y)
// grown by `scale`: copied as they are at 96 DPI, stretched otherwise.
void DrawPicture(HDC dc, const PictureScale& scale, int x, int y, int width, int height, HDC source) {
  if (scale.Identity()) {
    BitBlt(dc, x, y, width, height, source, 0, 0, SRCCOPY);
    return;
  }
  // HALFTONE averages the pixels it drops or repeats; it needs the brush
  // origin set again afterwards.
  const int oldMode = SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, scale.X(x), scale.Y(y), scale.X(width), scale.Y(height), source, 0, 0, width, height, SRCCOPY);
  SetStretchBltMode(dc, oldMode);
}

// One open dialog and the GDI objects it owns while it is open.
struct DialogScreen {
  screens::ScreenSession* session = nullptr;
  bool modal = true;
  Poster* poster = new Poster;
  HWND window = nullptr;
  HFONT headlineFont = nullptr;
  HFONT bannerFont = nullptr;
  HBRUSH warningBrush = nullptr;
  std::vector<ScreenPicture> pictures;
  PictureScale pictureScale;  // set when the dialog has its font
};

std::vector<DialogScreen*> openScreens;  // GUI thread only

const screens::Control* FindControl(const screens::Screen& screen, int id) {
  for (const screens::Control& control : screen.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

DialogScreen* ScreenOf(HWND dialog) {
  return reinterpret_cast<DialogScreen*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The headline font: the screen's own font, taller and heavier, in `face`.
HFONT MakeHeadlineFont(HWND dialog, const char* face, const PictureScale& scale) {
  HFONT own = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  LOGFONTA font;
  if (own != nullptr && GetObjectA(own, sizeof font, &font) == sizeof font) {
    // Given for 96 DPI, like the pictures, and grown as they grow.
    font.lfHeight = scale.Y(kHeadlineHeight);
    font.lfWeight = kHeadlineWeight;
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectA(&font);
  }
  return CreateFontA(kFallbackHeight, 0, 0, 0, kFallbackWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     VARIABLE_PITCH | FF_SWISS, "");
}

void SetFonts(HWND dialog, DialogScreen& screen) {
  for (const screens::Control& control : screen.session->screen().controls) {
    HFONT* font = nullptr;
    const char* face = kHeadlineFace;
    if (control.blackFace) {
      font = &screen.bannerFont;
      face = kBannerFace;
    } else if (control.kind == ControlKind::Headline) {
      font = &screen.headlineFont;
    }
    if (font == nullptr) continue;
    if (*font == nullptr) *font = MakeHeadlineFont(dialog, face, screen.pictureScale);
    SendDlgItemMessageA(dialog, control.id, WM_SETFONT, reinterpret_cast<WPARAM>(*font), FALSE);
  }
}

void LoadPictures(DialogScreen& screen) {
  for (const screens::Picture& picture : screen.session->screen().pictures) {
    ScreenPicture loaded;
    loaded.x = picture.x;
    loaded.y = picture.y;
    loaded.width = picture.width;
    loaded.height = picture.height;
    loaded.bitmap = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(picture.bitmap));
    // Compatible with the display (the main window's "DISPLAY" context when
    // there is one; null means the screen as well).
    loaded.dc = CreateCompatibleDC(App.DisplayDC);
    if (loaded.dc != nullptr && loaded.bitmap != nullptr) loaded.previous = SelectObject(loaded.dc, loaded.bitmap);
    screen.pictures.push_back(loaded);
  }
}

void ReleaseObjects(DialogScreen& screen) {
  for (ScreenPicture& picture : screen.pictures) {
    if (picture.dc != nullptr) {
      if (picture.previous != nullptr) SelectObject(picture.dc, picture.previous);
      DeleteDC(picture.dc);
    }
    if (picture.bitmap != nullptr) DeleteObject(picture.bitmap);
  }
  screen.pictures.clear();
  if (screen.headlineFont != nullptr) DeleteObject(screen.headlineFont);
  if (screen.bannerFont != nullptr) DeleteObject(screen.bannerFont);
  // The original kept the last brush until the wizard ended; each screen
  // deletes its own here so that none leaks.
  if (screen.warningBrush != nullptr) DeleteObject(screen.warningBrush);
  screen.headlineFont = screen.bannerFont = nullptr;
  screen.warningBrush = nullptr;
}

// Copies one control's text, enabled and checked state from the session.
void RefreshControl(HWND dialog, const DialogScreen& screen, const screens::Control& control) {
  HWND item = GetDlgItem(dialog, control.id);
  if (item == nullptr) return;
  const screens::ScreenSession& session = *screen.session;
  if (control.kind != ControlKind::ProgressBar) {
    std::string text = session.Text(control.id);
    char shown[1024] = {};
    GetWindowTextA(item, shown, sizeof shown);
    if (text != shown) SetWindowTextA(item, text.c_str());  // unchanged texts do not flicker
  }
  bool enabled = session.Enabled(control.id);
  if ((IsWindowEnabled(item) != FALSE) != enabled) EnableWindow(item, enabled ? TRUE : FALSE);
  if (control.kind == ControlKind::Radio || control.kind == ControlKind::CheckBox) {
    CheckDlgButton(dialog, control.id, session.Checked(control.id) ? BST_CHECKED : BST_UNCHECKED);
  }
}

void RefreshAll(HWND dialog, const DialogScreen& screen) {
  for (const screens::Control& control : screen.session->screen().controls) {
    RefreshControl(dialog, screen, control);
  }
}

void RefreshProgress(HWND dialog, const DialogScreen& screen) {
  const screens::ScreenSession& session = *screen.session;
  HWND bar = GetDlgItem(dialog, kProgressBar);
  if (bar != nullptr) {
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(session.ProgressRange()));
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(session.ProgressPosition()), 0);
  }
  if (GetDlgItem(dialog, kPercentText) != nullptr) SetDlgItemInt(dialog, kPercentText, session.Percent(), FALSE);
}

// Centred on the primary screen, moved without repainting.
void Centre(HWND dialog) {
  RECT frame;
  GetWindowRect(dialog, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW);
}

// Focus on the button Enter stands for, so that Enter and the focused button
// agree; a screen without a default button keeps the focus on itself, so
// that Enter sends the command of the screen's Enter rule.
void SetInitialFocus(HWND dialog, const screens::Screen& screen) {
  const screens::Control* enter = FindControl(screen, screen.enterCommand);
  HWND button = GetDlgItem(dialog, screen.enterCommand);
  if (enter != nullptr && enter->kind == ControlKind::Button && button != nullptr) {
    SetFocus(button);
  } else {
    SetFocus(dialog);
  }
}

BOOL Initialise(HWND dialog, DialogScreen& screen) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&screen));
  screen.window = dialog;
  screen.poster->thread = GetCurrentThreadId();
  screen.poster->window = dialog;
  openScreens.push_back(&screen);
  screens::ScreenSession& session = *screen.session;
  session.AttachView(screen.poster);
  screen.warningBrush = CreateSolidBrush(GetSysColor(COLOR_SCROLLBAR));
  screen.pictureScale = ScaleOf(dialog);
  SetFonts(dialog, screen);
  LoadPictures(screen);
  session.Open();
  if (!IsWindow(dialog)) return FALSE;
  SetWindowTextA(dialog, session.Title().c_str());
  RefreshAll(dialog, screen);
  RefreshProgress(dialog, screen);
  Centre(dialog);
  SetInitialFocus(dialog, session.screen());
  return FALSE;  // the focus has been set
}

void Paint(HWND dialog, const DialogScreen& screen) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  const PictureScale& scale = screen.pictureScale;
  for (const ScreenPicture& picture : screen.pictures) {
    if (picture.dc != nullptr && picture.bitmap != nullptr) {
      DrawPicture(dc, scale, picture.x, picture.y, picture.width, picture.height, picture.dc);
    }
  }
  if (screen.session->screen().sidePicture && App.SidePictureDC != nullptr) {
    DrawPicture(dc, scale, kSidePictureX, kSidePictureY, kSidePictureWidth, kSidePictureHeight, App.SidePictureDC);
  }
  EndPaint(dialog, &paint);
}

// Red text for the warning controls, a red background behind the text of a
// highlighted one; both on the screen's scroll-bar-coloured brush.
INT_PTR StaticColour(const DialogScreen& screen, HDC dc, HWND item) {
  int id = GetDlgCtrlID(item);
  const screens::Control* control = FindControl(screen.session->screen(), id);
  if (control == nullptr || screen.warningBrush == nullptr) return FALSE;
  if (screen.session->Highlighted(id)) {
    SetBkColor(dc, kWarningRed);
    return reinterpret_cast<INT_PTR>(screen.warningBrush);
  }
  if (!control->red) return FALSE;
  SetTextColor(dc, kWarningRed);
  SetBkColor(dc, GetSysColor(COLOR_SCROLLBAR));
  return reinterpret_cast<INT_PTR>(screen.warningBrush);
}

// A radio button or check box the user clicked: tells the session every
// choice whose state changed (an automatic radio button also clears its
// partner).
void SyncChoices(HWND dialog, DialogScreen& screen) {
  for (const screens::Control& control : screen.session->screen().controls) {
    if (control.kind != ControlKind::Radio && control.kind != ControlKind::CheckBox) continue;
    bool checked = IsDlgButtonChecked(dialog, control.id) == BST_CHECKED;
    if (checked != screen.session->Checked(control.id)) screen.session->UserChecked(control.id, checked);
  }
}

void Command(HWND dialog, DialogScreen& screen, int id, int code) {
  if (code != BN_CLICKED) return;  // focus and other notifications
  const screens::Control* control = FindControl(screen.session->screen(), id);
  if (control != nullptr && (control->kind == ControlKind::Radio || control->kind == ControlKind::CheckBox)) {
    SyncChoices(dialog, screen);
    return;
  }
  screen.session->Command(id);
}

void End(HWND dialog, DialogScreen& screen) {
  if (screen.modal) {
    EndDialog(dialog, screen.session->Result());
  } else {
    // A wait screen that ends itself disappears; its owner destroys it.
    ShowWindow(dialog, SW_HIDE);
  }
}

void Forget(DialogScreen& screen) {
  for (auto it = openScreens.begin(); it != openScreens.end(); ++it) {
    if (*it == &screen) {
      openScreens.erase(it);
      break;
    }
  }
  screen.poster->window = nullptr;  // later changes from workers go nowhere
  screen.window = nullptr;
}

BOOL SetResult(HWND dialog, LONG_PTR result) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK ScreenProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return Initialise(dialog, *reinterpret_cast<DialogScreen*>(lParam));
  DialogScreen* screen = ScreenOf(dialog);
  if (screen == nullptr) return FALSE;
  screens::ScreenSession& session = *screen->session;
  switch (message) {
    case WM_PAINT:
      Paint(dialog, *screen);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return StaticColour(*screen, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_COMMAND:
      Command(dialog, *screen, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_TIMER:
      session.Timer(static_cast<int>(wParam));
      return TRUE;
    case WM_SETCURSOR:
      if (session.id() != kDownloadProgressScreen) return FALSE;
      SetCursor(LoadCursorA(nullptr, wizard::Workers.BusyCursor ? IDC_WAIT : IDC_ARROW));
      return SetResult(dialog, TRUE);
    case DM_GETDEFID:
      return SetResult(dialog, MAKELONG(session.screen().enterCommand, DC_HASDEFID));
    case kControlChangedMessage:
      if (const screens::Control* control = FindControl(session.screen(), static_cast<int>(wParam))) {
        RefreshControl(dialog, *screen, *control);
      }
      return TRUE;
    case kProgressChangedMessage:
      RefreshProgress(dialog, *screen);
      return TRUE;
    case kStartTimerMessage:
      SetTimer(dialog, wParam, platform::ScaledMs(static_cast<std::uint32_t>(lParam)), nullptr);
      return TRUE;
    case kStopTimerMessage:
      KillTimer(dialog, wParam);
      return TRUE;
    case kCollapseMessage:
      MoveWindow(dialog, 0, 0, 0, 0, TRUE);
      return TRUE;
    case kVisibleMessage:
      ShowWindow(dialog, wParam != 0 ? SW_SHOW : SW_HIDE);
      return TRUE;
    case kEndedMessage:
      End(dialog, *screen);
      return TRUE;
    case WM_DESTROY:
      // A wait screen also goes when its owner, the main window, is
      // destroyed: it is freed here, whoever destroys it.
      ReleaseObjects(*screen);
      Forget(*screen);
      SetWindowLongPtrA(dialog, DWLP_USER, 0);
      if (!screen->modal) delete screen;
      return FALSE;
    default:
      return FALSE;
  }
}

DialogScreen* FindOpen(const screens::ScreenSession& session) {
  for (DialogScreen* screen : openScreens) {
    if (screen->session == &session) return screen;
  }
  return nullptr;
}

}  // namespace

HWND DialogOf(const screens::ScreenSession& session) {
  DialogScreen* screen = FindOpen(session);
  return screen != nullptr ? screen->window : nullptr;
}

int DialogFrontEnd::RunModal(screens::ScreenSession& session) {
  DialogScreen screen;
  screen.session = &session;
  screen.modal = true;
  // Modal screens have no owner window.
  DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(session.id()), nullptr, ScreenProcedure,
                  reinterpret_cast<LPARAM>(&screen));
  session.AttachView(nullptr);
  if (!session.Ended()) {
    // The dialog went without the session ending: its template could not be
    // shown, or a quit message ended the modal loop. The screen counts as
    // left with Escape, so that the wizard stops rather than takes the
    // dialog's 0 for "Next".
    session.Command(screens::kEscapeCommand);
    if (!session.Ended()) return kNotShown;
  }
  return session.Result();
}

void DialogFrontEnd::OpenModeless(screens::ScreenSession& session) {
  DialogScreen* screen = new DialogScreen;
  screen->session = &session;
  screen->modal = false;
  HWND dialog = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(session.id()), App.MainWindow,
                                   ScreenProcedure, reinterpret_cast<LPARAM>(screen));
  if (dialog == nullptr) {
    session.AttachView(nullptr);
    delete screen;
    return;
  }
  ShowWindow(dialog, SW_SHOW);
  // The GUI thread works while a wait screen is up: draw it now, children too.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void DialogFrontEnd::CloseModeless(screens::ScreenSession& session) {
  DialogScreen* screen = FindOpen(session);
  if (screen == nullptr) return;
  session.AttachView(nullptr);
  DestroyWindow(screen->window);  // WM_DESTROY releases its objects and frees it
}

bool DialogFrontEnd::ChooseFile(const screens::FileDialogRequest& request, char* path, std::size_t capacity) {
  OPENFILENAMEA dialog;
  std::memset(&dialog, 0, sizeof dialog);
  dialog.lStructSize = kOpenFileNameSize;
  dialog.hwndOwner = request.owner != nullptr ? DialogOf(*request.owner) : App.MainWindow;
  dialog.lpstrFilter = kFileFilters;
  dialog.lpstrFile = path;
  dialog.nMaxFile = static_cast<DWORD>(capacity);
  dialog.lpstrInitialDir = request.initialFolder;  // not expanded
  dialog.lpstrDefExt = request.defaultExtension;
  if (request.fileMustExist) dialog.Flags |= OFN_FILEMUSTEXIST;
  if (request.noChangeDir) dialog.Flags |= OFN_NOCHANGEDIR;
  BOOL chosen = request.save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  return chosen != FALSE;
}

void DialogFrontEnd::CloseMainWindow() {
  if (App.MainWindow != nullptr) SendMessageA(App.MainWindow, WM_CLOSE, 0, 0);
}

}  // namespace win32
