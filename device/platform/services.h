// Handheld OS services for the agent's Windows phase: the coredll and
// aygshell calls it makes before the takeover. On the handheld they are bound
// by ordinal; in the simulator (hosted/) they act on a simulated handheld.
// Nothing here is called after the takeover.
#pragma once
#include <stdint.h>

namespace devos {

using Handle = uintptr_t;                    // file or search handle
constexpr Handle kInvalidHandle = ~Handle{0};
using Window = uintptr_t;                    // 0: none

// Windows CE values the agent passes or receives.
constexpr uint32_t kWmInitDialog = 0x0110;
constexpr uint32_t kWmCommand = 0x0111;
constexpr int kSmCxScreen = 0;
constexpr int kSmCyScreen = 1;
constexpr uint32_t kShfsHideTaskbar = 0x02;
constexpr uint32_t kShfsHideSipButton = 0x08;
constexpr uint32_t kShfsHideStartIcon = 0x20;
constexpr uint32_t kFileAttributeDirectory = 16;
constexpr uint32_t kInvalidFileSize = 0xFFFFFFFF;
constexpr uint32_t kMaxPath = 260;

struct Rect {
  int32_t left, top, right, bottom;
};

struct FindData {
  uint32_t attributes;
  char16_t name[kMaxPath];
};

// One RASCONN entry as the handheld lays it out (52 bytes).
struct RasConnection {
  uint32_t size;
  uint32_t handle;
  char16_t entryName[22];
};
static_assert(sizeof(RasConnection) == 52, "RASCONN entry size");

// Dialog procedure: returns nonzero when the message was handled.
using DialogProc = intptr_t (*)(Window dialog, uint32_t message, uintptr_t wParam, intptr_t lParam);

// SystemParametersInfoW(SPI_GETOEMINFO) into a buffer of `bytes`.
bool GetOemInfo(char16_t* buffer, uint32_t bytes);
// KernelIoControl; no returned-size pointer.
bool KernelIoControl(uint32_t code, const void* in, uint32_t inBytes, void* out, uint32_t outBytes);
// LoadStringW: at most maxChars characters including the terminator.
int LoadString(void* instance, uint32_t id, char16_t* buffer, int maxChars);

// FindResourceW + LoadResource + CreateDialogIndirectParamW, without owner.
Window CreateDialogFromTemplate(void* instance, uint32_t templateId, DialogProc proc,
                                intptr_t lParam);
bool SetDlgItemText(Window dialog, int controlId, const char16_t* text);
int GetSystemMetrics(int index);
bool GetWindowRect(Window window, Rect* rect);
bool MoveWindow(Window window, int x, int y, int width, int height, bool repaint);
Window GetForegroundWindow();
bool SHFullScreen(Window window, uint32_t flags);
void Sleep(uint32_t milliseconds);

// RasEnumConnections / RasHangUp: 0 or an error code.
uint32_t RasEnumConnections(RasConnection* entries, uint32_t* bufferBytes, uint32_t* count);
uint32_t RasHangUp(uint32_t connection);

// One wide line to the system debug output.
void OutputDebugString(const char16_t* text);

// Files: FindFirstFileW, FindNextFileW, FindClose, CreateFileW(GENERIC_READ,
// FILE_SHARE_READ, OPEN_EXISTING), GetFileSize, ReadFile, CloseHandle.
Handle FindFirstFile(const char16_t* pattern, FindData* data);
bool FindNextFile(Handle search, FindData* data);
bool FindClose(Handle search);
Handle OpenFileForRead(const char16_t* path);
uint32_t GetFileSize(Handle file);
bool ReadFile(Handle file, void* buffer, uint32_t bytes, uint32_t* bytesRead);
bool CloseHandle(Handle file);

}  // namespace devos
