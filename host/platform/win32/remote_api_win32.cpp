// Remote API on Windows: "rapi.dll" (ActiveSync's or Windows Mobile Device
// Center's library, or our stand-in) is loaded at run time from the system
// folder, where both install it, and each Ce... function is bound by name,
// so the program starts on a PC without ActiveSync. Only the system folder:
// a bare name would search the program's own folder first, and a rapi.dll
// dropped beside romwiz.exe (a download folder) would run with the user's
// rights. The declarations are our own, from the documented signatures (all
// stdcall). Without the library every call fails and no connection event is
// ever signalled, so the wizard takes its not-reachable road.
//
// The library's contract, as documented: every CeRapiInitEx that succeeds is
// ended by one CeRapiUninit; the start's event is waited for while the
// thread handles its messages (MsgWaitForMultipleObjects), since older
// ActiveSync versions complete the connection through the starting thread's
// messages; remote calls are made only once the event is signalled with
// success.
#include "platform/remote_api.h"

#include <windows.h>

#include <atomic>

#include "platform/clock.h"

namespace rapi {
namespace {

static_assert(sizeof(void*) != 4 || sizeof(InitRecord) == 12, "InitRecord must match RAPIINIT");
static_assert(sizeof(PowerStatus) == 24, "PowerStatus must match SYSTEM_POWER_STATUS_EX");
static_assert(sizeof(ProcessInfo) == 4 * sizeof(void*) || sizeof(void*) != 4,
              "ProcessInfo must match PROCESS_INFORMATION");
static_assert(sizeof(char16_t) == sizeof(WCHAR), "handheld paths are WCHAR strings");
static_assert(sizeof(RegKey) == sizeof(HKEY), "registry keys are HKEYs");

constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
constexpr std::uint32_t kSizeFailure = 0xFFFFFFFFu;

// CE_FIND_DATA as the library fills it.
struct CeFindData {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

using InitExFn = HRESULT(WINAPI*)(void* init);
using UninitFn = HRESULT(WINAPI*)();
using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using GetFileSizeFn = DWORD(WINAPI*)(HANDLE, LPDWORD);
using PathFn = BOOL(WINAPI*)(LPCWSTR);
using TwoPathFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR);
using CopyFileFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, BOOL);
using CreateDirectoryFn = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
using FindFirstFn = HANDLE(WINAPI*)(LPCWSTR, CeFindData*);
using FindNextFn = BOOL(WINAPI*)(HANDLE, CeFindData*);
using FindCloseFn = BOOL(WINAPI*)(HANDLE);
using CreateProcessFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                      LPVOID, LPWSTR, LPVOID, PROCESS_INFORMATION*);
using PowerStatusFn = BOOL(WINAPI*)(void*, BOOL);
using InvokeFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, BYTE*, DWORD*, BYTE**, void**, DWORD);
using LastErrorFn = DWORD(WINAPI*)();
using RegOpenKeyFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using RegCreateKeyFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                                     LPDWORD);
using RegQueryValueFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using RegSetValueFn = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
using RegCloseKeyFn = LONG(WINAPI*)(HKEY);

struct Library {
  InitExFn initEx = nullptr;
  UninitFn uninit = nullptr;
  CreateFileFn createFile = nullptr;
  ReadFileFn readFile = nullptr;
  WriteFileFn writeFile = nullptr;
  CloseHandleFn closeHandle = nullptr;
  GetFileSizeFn getFileSize = nullptr;
  PathFn deleteFile = nullptr;
  TwoPathFn moveFile = nullptr;
  CopyFileFn copyFile = nullptr;
  CreateDirectoryFn createDirectory = nullptr;
  PathFn removeDirectory = nullptr;
  FindFirstFn findFirst = nullptr;
  FindNextFn findNext = nullptr;
  FindCloseFn findClose = nullptr;
  CreateProcessFn createProcess = nullptr;
  PowerStatusFn powerStatus = nullptr;
  InvokeFn invoke = nullptr;
  LastErrorFn lastError = nullptr;
  RegOpenKeyFn regOpenKey = nullptr;
  RegCreateKeyFn regCreateKey = nullptr;
  RegQueryValueFn regQueryValue = nullptr;
  RegSetValueFn regSetValue = nullptr;
  RegCloseKeyFn regCloseKey = nullptr;
};

Library library;
// 0: not loaded yet, 1: loading, 2: done (bound or not). The power poller may
// make the first call from its own thread.
std::atomic<int> loadState{0};
// A CeRapiInitEx succeeded and no CeRapiUninit has ended it yet. Starts and
// ends happen on the GUI thread only.
bool startOutstanding = false;

constexpr char kLibraryName[] = "rapi.dll";

// The library's full path in the system folder; false when it does not fit.
bool SystemLibraryPath(char (&path)[MAX_PATH]) {
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + sizeof kLibraryName > MAX_PATH) return false;
  lstrcatA(path, "\\");
  lstrcatA(path, kLibraryName);
  return true;
}

// LOAD_WITH_ALTERED_SEARCH_PATH: the library's own dependencies are looked
// for in its folder first, not in the program's (Windows XP has no narrower
// search flags without an update).
HMODULE LoadSystemLibrary() {
  char path[MAX_PATH] = {};
  if (!SystemLibraryPath(path)) return nullptr;
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Fn>
void Bind(HMODULE module, Fn& fn, const char* name) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Library& Rapi() {
  int expected = 0;
  if (loadState.compare_exchange_strong(expected, 1)) {
    if (HMODULE m = LoadSystemLibrary()) {
      Bind(m, library.initEx, "CeRapiInitEx");
      Bind(m, library.uninit, "CeRapiUninit");
      Bind(m, library.createFile, "CeCreateFile");
      Bind(m, library.readFile, "CeReadFile");
      Bind(m, library.writeFile, "CeWriteFile");
      Bind(m, library.closeHandle, "CeCloseHandle");
      Bind(m, library.getFileSize, "CeGetFileSize");
      Bind(m, library.deleteFile, "CeDeleteFile");
      Bind(m, library.moveFile, "CeMoveFile");
      Bind(m, library.copyFile, "CeCopyFile");
      Bind(m, library.createDirectory, "CeCreateDirectory");
      Bind(m, library.removeDirectory, "CeRemoveDirectory");
      Bind(m, library.findFirst, "CeFindFirstFile");
      Bind(m, library.findNext, "CeFindNextFile");
      Bind(m, library.findClose, "CeFindClose");
      Bind(m, library.createProcess, "CeCreateProcess");
      Bind(m, library.powerStatus, "CeGetSystemPowerStatusEx");
      Bind(m, library.invoke, "CeRapiInvoke");
      Bind(m, library.lastError, "CeGetLastError");
      Bind(m, library.regOpenKey, "CeRegOpenKeyEx");
      Bind(m, library.regCreateKey, "CeRegCreateKeyEx");
      Bind(m, library.regQueryValue, "CeRegQueryValueEx");
      Bind(m, library.regSetValue, "CeRegSetValueEx");
      Bind(m, library.regCloseKey, "CeRegCloseKey");
      // The library stays loaded for the life of the process.
    }
    loadState = 2;
  } else {
    while (loadState.load() != 2) Sleep(0);
  }
  return library;
}

LPCWSTR W(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

}  // namespace

std::int32_t CeRapiInitEx(InitRecord* init) {
  if (init == nullptr) return kFail;
  if (!Rapi().initEx) {
    init->event = nullptr;
    init->result = kFail;
    return kFail;
  }
  // The library fills the event and, later, the result of the same record.
  const HRESULT result = Rapi().initEx(init);
  if (SUCCEEDED(result)) startOutstanding = true;
  return result;
}

// One uninit per start: the fatal paths close the connection "where one is
// open" and may meet one already closed, or a start that failed.
std::int32_t CeRapiUninit() {
  if (!startOutstanding || !Rapi().uninit) return kFail;
  startOutstanding = false;
  return Rapi().uninit();
}

namespace {

// Messages the wait leaves queued: what the user types and clicks is acted
// on only where the wizard looks for it, never in the middle of a check.
struct MessageRange {
  UINT first, last;
};
constexpr UINT kLastMessage = 0xFFFFFFFFu;
// Non-client mouse messages (WM_NCMOUSEMOVE..WM_NCXBUTTONDBLCLK), keyboard
// messages (WM_KEYFIRST..WM_KEYLAST) and client mouse messages
// (WM_MOUSEFIRST..WM_MOUSEHWHEEL) are input; everything between is handled.
constexpr MessageRange kHandled[] = {
    {0x0000, 0x009F}, {0x00AE, 0x00FF}, {0x010A, 0x01FF}, {0x020F, kLastMessage}};

// Handles the queued messages of the wait's kinds. False when WM_QUIT was
// met (its exit code in `quitCode`): it is posted again once the wait ends.
bool HandleWaitingMessages(bool& quit, WPARAM& quitCode) {
  for (const MessageRange& range : kHandled) {
    MSG message;
    while (PeekMessageA(&message, nullptr, range.first, range.last, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = message.wParam;
        return false;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return true;
}

}  // namespace

// The documented wait: MsgWaitForMultipleObjects on the start's event, with
// the thread's sent, posted, timer and paint messages handled meanwhile (the
// older ActiveSync versions bring the connection up through them). Input is
// left queued, so it does not wake the wait.
bool WaitForConnection(const InitRecord& init, std::uint32_t ms) {
  if (init.event == nullptr) return false;
  HANDLE event = static_cast<HANDLE>(init.event);
  const DWORD budget = platform::ScaledMsAtLeast(ms, kConnectionWaitFloorMs);
  const DWORD start = GetTickCount();
  constexpr DWORD kWakeOn = QS_SENDMESSAGE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT;
  bool quit = false, signalled = false;
  WPARAM quitCode = 0;
  // Messages queued before the wait do not wake it: they are handled first.
  while (HandleWaitingMessages(quit, quitCode)) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= budget) break;
    const DWORD woke = MsgWaitForMultipleObjects(1, &event, FALSE, budget - elapsed, kWakeOn);
    if (woke == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (woke != WAIT_OBJECT_0 + 1) break;  // the budget is spent, or the wait failed
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  // The news may have been handled on the last pass.
  return signalled || WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

Handle CeCreateFile(const char16_t* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                    std::uint32_t attributes) {
  if (!Rapi().createFile) return kInvalidHandle;
  return Rapi().createFile(W(path), access, share, nullptr, disposition, attributes, nullptr);
}

bool CeReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
  DWORD done = 0;
  const bool ok = Rapi().readFile && Rapi().readFile(file, buffer, count, &done, nullptr);
  if (read) *read = done;
  return ok;
}

bool CeWriteFile(Handle file, const void* data, std::uint32_t count, std::uint32_t* written) {
  DWORD done = 0;
  const bool ok = Rapi().writeFile && Rapi().writeFile(file, data, count, &done, nullptr);
  if (written) *written = done;
  return ok;
}

bool CeCloseHandle(Handle handle) { return Rapi().closeHandle && Rapi().closeHandle(handle); }

std::uint32_t CeGetFileSize(Handle file, std::uint32_t* high) {
  if (!Rapi().getFileSize) return kSizeFailure;
  DWORD upper = 0;
  const DWORD low = Rapi().getFileSize(file, &upper);
  if (high) *high = upper;
  return low;
}

bool CeDeleteFile(const char16_t* path) { return Rapi().deleteFile && Rapi().deleteFile(W(path)); }

bool CeMoveFile(const char16_t* from, const char16_t* to) {
  return Rapi().moveFile && Rapi().moveFile(W(from), W(to));
}

bool CeCopyFile(const char16_t* from, const char16_t* to, bool failIfExists) {
  return Rapi().copyFile && Rapi().copyFile(W(from), W(to), failIfExists ? TRUE : FALSE);
}

bool CeCreateDirectory(const char16_t* path) {
  return Rapi().createDirectory && Rapi().createDirectory(W(path), nullptr);
}

bool CeRemoveDirectory(const char16_t* path) { return Rapi().removeDirectory && Rapi().removeDirectory(W(path)); }

namespace {
void CopyFind(const CeFindData& in, FindData* out) {
  if (!out) return;
  out->attributes = in.dwFileAttributes;
  out->sizeHigh = in.nFileSizeHigh;
  out->sizeLow = in.nFileSizeLow;
  for (int i = 0; i < MAX_PATH; ++i) out->name[i] = static_cast<char16_t>(in.cFileName[i]);
  out->name[MAX_PATH - 1] = 0;
}
}  // namespace

Handle CeFindFirstFile(const char16_t* pattern, FindData* data) {
  if (!Rapi().findFirst) return kInvalidHandle;
  CeFindData found{};
  Handle h = Rapi().findFirst(W(pattern), &found);
  if (h != kInvalidHandle) CopyFind(found, data);
  return h;
}

bool CeFindNextFile(Handle find, FindData* data) {
  if (!Rapi().findNext) return false;
  CeFindData found{};
  if (!Rapi().findNext(find, &found)) return false;
  CopyFind(found, data);
  return true;
}

bool CeFindClose(Handle find) { return Rapi().findClose && Rapi().findClose(find); }

bool CeCreateProcess(const char16_t* program, const char16_t* commandLine, ProcessInfo* info) {
  if (!Rapi().createProcess) return false;
  PROCESS_INFORMATION pi{};
  if (!Rapi().createProcess(W(program), W(commandLine), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
    return false;
  if (info) {
    info->process = pi.hProcess;
    info->thread = pi.hThread;
    info->processId = pi.dwProcessId;
    info->threadId = pi.dwThreadId;
  }
  return true;
}

bool CeGetSystemPowerStatusEx(PowerStatus* status, bool refresh) {
  return Rapi().powerStatus && Rapi().powerStatus(status, refresh ? TRUE : FALSE);
}

std::int32_t CeRapiInvoke(const char16_t* library, const char16_t* function, std::uint32_t inputSize,
                          std::uint8_t* input, std::uint32_t* outputSize, std::uint8_t** output) {
  if (outputSize) *outputSize = 0;
  if (output) *output = nullptr;
  if (!Rapi().invoke) {
    FreeInvokeBlock(input);  // the library would have taken it over
    return kFail;
  }
  DWORD size = 0;
  BYTE* block = nullptr;
  const HRESULT hr = Rapi().invoke(W(library), W(function), inputSize, input, &size, &block, nullptr, 0);
  if (output) {
    *output = block;
    if (outputSize) *outputSize = size;
  } else if (block) {
    LocalFree(block);
  }
  return hr;
}

namespace {
HKEY K(RegKey key) { return static_cast<HKEY>(key); }
// The error of a registry call the library does not offer.
constexpr std::int32_t kNoRegistryCall = ERROR_MOD_NOT_FOUND;
}  // namespace

// Reserved arguments are 0, and the access mask is 0: the handheld ignores it.
std::int32_t CeRegOpenKeyEx(RegKey key, const char16_t* subKey, RegKey* result) {
  if (!Rapi().regOpenKey) return kNoRegistryCall;
  HKEY opened = nullptr;
  const LONG error = Rapi().regOpenKey(K(key), W(subKey), 0, 0, &opened);
  if (error == ERROR_SUCCESS && result) *result = opened;
  return error;
}

std::int32_t CeRegCreateKeyEx(RegKey key, const char16_t* subKey, RegKey* result, std::uint32_t* disposition) {
  if (!Rapi().regCreateKey) return kNoRegistryCall;
  HKEY opened = nullptr;
  DWORD how = 0;
  const LONG error = Rapi().regCreateKey(K(key), W(subKey), 0, nullptr, 0, 0, nullptr, &opened, &how);
  if (error == ERROR_SUCCESS) {
    if (result) *result = opened;
    if (disposition) *disposition = how;
  }
  return error;
}

std::int32_t CeRegQueryValueEx(RegKey key, const char16_t* valueName, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) {
  if (!Rapi().regQueryValue) return kNoRegistryCall;
  DWORD valueType = 0, bytes = size ? *size : 0;
  const LONG error = Rapi().regQueryValue(K(key), W(valueName), nullptr, &valueType, data, size ? &bytes : nullptr);
  if (type) *type = valueType;
  if (size) *size = bytes;
  return error;
}

std::int32_t CeRegSetValueEx(RegKey key, const char16_t* valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) {
  if (!Rapi().regSetValue) return kNoRegistryCall;
  return Rapi().regSetValue(K(key), W(valueName), 0, type, data, size);
}

std::int32_t CeRegCloseKey(RegKey key) {
  return Rapi().regCloseKey ? Rapi().regCloseKey(K(key)) : kNoRegistryCall;
}

std::uint8_t* AllocInvokeBlock(std::uint32_t size) {
  return static_cast<std::uint8_t*>(LocalAlloc(LPTR, size == 0 ? 1 : size));
}

void FreeInvokeBlock(std::uint8_t* block) {
  if (block) LocalFree(block);
}

std::uint32_t CeGetLastError() { return Rapi().lastError ? Rapi().lastError() : ERROR_MOD_NOT_FOUND; }

std::u16string AnsiToDevicePath(const char* text) {
  if (text == nullptr || *text == 0) return std::u16string();
  const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 1) return std::u16string();
  std::u16string out(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<LPWSTR>(&out[0]), units);
  out.resize(static_cast<std::size_t>(units - 1));
  return out;
}

}  // namespace rapi
