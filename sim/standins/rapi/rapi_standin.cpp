// Stand-in rapi.dll: the Ce... functions romwiz.exe uses, carried to
// handheld-sim over loopback TCP with the protocol of
// wire/rapi_protocol.h. The address comes from ROMWIZ_HANDHELD
// (host:port), else 127.0.0.1:9696.
//
// Like the real library, CeRapiInitEx fills the init record's event and
// returns at once; a thread made with CreateThread connects and greets the
// handheld, and the record's result is written and the event signalled when
// the attempt ends, on success and on failure alike.
//
// The stand-in is strict: it holds its caller to the library's documented
// contract and records every breach (breach_log.h), because a lenient
// stand-in written by the same hands as the program would hide a shared
// misreading. A remote call made before the start's event is signalled, or
// without a start, or on a start that failed, fails; a second CeRapiInitEx
// without CeRapiUninit is refused; CeRapiUninit without a start returns
// E_FAIL; a CeRapiInvoke input block that LocalFree cannot free fails the
// call. A failure of the connection itself is reported by CeRapiGetError,
// the handheld's own errors by CeGetLastError.
//
// With ROMWIZ_RAPI_OLD_ACTIVESYNC=1 it behaves like the older ActiveSync
// versions: the connection completes only while the thread that called
// CeRapiInitEx handles its messages (a window of that thread receives the
// news), so a caller that blocks in a plain wait never sees it.
//
// Only Win32 and winsock calls that Windows XP has; no C++ threads or
// mutexes (the -win32 runtime has none).
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "breach_log.h"
#include "wire/rapi_protocol.h"

namespace {

// RAPIINIT as the caller passes it.
struct RapiInit {
  DWORD cbSize;
  HANDLE heRapiInit;
  HRESULT hrRapiInit;
};

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

constexpr DWORD kInitRecordSize = 12;
constexpr DWORD kAttemptTimeoutMs = 10000;  // connect and greeting
constexpr DWORD kCallTimeoutMs = 5000;      // one call's answer
constexpr DWORD kPiece = 1024 * 1024;       // largest read or write sent in one frame
// CeRapiInit's documented answer to a start while one is outstanding.
constexpr HRESULT kAlreadyInitialized = static_cast<HRESULT>(0x8004101Fu);
constexpr char kOldActiveSyncVariable[] = "ROMWIZ_RAPI_OLD_ACTIVESYNC";
constexpr char kNotifyClass[] = "RomwizRapiStandInNotify";
constexpr UINT kAttemptEnded = WM_APP + 1;  // wParam: the attempt's generation

// Where the caller's start stands.
enum class Start {
  None,     // no CeRapiInitEx outstanding (never called, refused, or uninit since)
  Pending,  // started, its event not yet signalled
  Up,       // event signalled with S_OK
  Failed,   // event signalled with a failure
};

CRITICAL_SECTION g_lock;         // guards everything below
SOCKET g_socket = INVALID_SOCKET;
bool g_lost = false;
Start g_start = Start::None;
DWORD g_generation = 0;           // bumped by every accepted CeRapiInitEx and CeRapiUninit
bool g_winsockUp = false;
DWORD g_tls = TLS_OUT_OF_INDEXES; // the calling thread's last handheld error
HRESULT g_lastHresult = S_OK;     // the last call's transport result (CeRapiGetError)
HWND g_notifyWindow = nullptr;    // older-ActiveSync behaviour: the starting thread's window
DWORD g_notifyThread = 0;
HINSTANCE g_module = nullptr;

struct Attempt {
  RapiInit* record;
  HANDLE event;
  DWORD generation;
  SOCKET socket;   // the greeted connection, until it is handed over
  HRESULT result;
  bool ended;      // the thread is done; its news waits for the starting thread
};
Attempt* g_attempt = nullptr;  // the attempt under way (older behaviour: until its news is handled)

bool OldActiveSync() {
  char value[8] = {};
  const DWORD n = GetEnvironmentVariableA(kOldActiveSyncVariable, value, sizeof value);
  return n > 0 && n < sizeof value && value[0] == '1';
}

void SetError(DWORD error) {
  if (g_tls != TLS_OUT_OF_INDEXES) TlsSetValue(g_tls, reinterpret_cast<void*>(static_cast<ULONG_PTR>(error)));
}

DWORD GetError() {
  return g_tls == TLS_OUT_OF_INDEXES ? 0 : static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(TlsGetValue(g_tls)));
}

bool WaitSocket(SOCKET s, bool forWrite, DWORD ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv;
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(s, &errors);
  const int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &tv);
  return n > 0 && FD_ISSET(s, &set);
}

SOCKET Connect() {
  char address[128] = {};
  char host[128] = RAPI_DEFAULT_HOST;
  unsigned port = RAPI_DEFAULT_PORT;
  const DWORD n = GetEnvironmentVariableA(RAPI_ADDRESS_VARIABLE, address, sizeof address);
  if (n > 0 && n < sizeof address) {
    char* colon = std::strrchr(address, ':');
    if (colon) {
      *colon = 0;
      port = static_cast<unsigned>(std::strtoul(colon + 1, nullptr, 10));
      if (address[0]) lstrcpynA(host, address, sizeof host);
    } else {
      lstrcpynA(host, address, sizeof host);
    }
  }
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<u_short>(port));
  to.sin_addr.s_addr = inet_addr(host);
  if (to.sin_addr.s_addr == INADDR_NONE) {
    hostent* found = gethostbyname(host);
    if (!found || found->h_addrtype != AF_INET) return INVALID_SOCKET;
    std::memcpy(&to.sin_addr, found->h_addr_list[0], sizeof to.sin_addr);
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK && WaitSocket(s, true, kAttemptTimeoutMs)) {
    int error = 0;
    int length = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    ok = error == 0;
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  if (!ok) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  BOOL yes = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  return s;
}

bool SendAll(SOCKET s, const unsigned char* p, DWORD n) {
  while (n > 0) {
    const int put = send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
    if (put <= 0) return false;
    p += put;
    n -= static_cast<DWORD>(put);
  }
  return true;
}

bool ReceiveAll(SOCKET s, unsigned char* p, DWORD n, DWORD timeoutMs) {
  while (n > 0) {
    if (!WaitSocket(s, false, timeoutMs)) return false;
    const int got = recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<DWORD>(got);
  }
  return true;
}

// A received response: its error and payload (heap, freed by the caller).
struct Response {
  DWORD error = 0;
  unsigned char* data = nullptr;
  DWORD size = 0;
  ~Response() { std::free(data); }
};

bool Exchange(SOCKET s, DWORD op, const unsigned char* payload, DWORD size, Response& response, DWORD timeoutMs) {
  unsigned char head[12];
  rapi_put_u32(head, 4 + size);
  rapi_put_u32(head + 4, op);
  if (!SendAll(s, head, 8) || !SendAll(s, payload, size)) return false;
  if (!ReceiveAll(s, head, 12, timeoutMs)) return false;
  const DWORD length = rapi_get_u32(head);
  if (length < 8 || length > RAPI_MAX_FRAME || rapi_get_u32(head + 4) != op) return false;
  response.error = rapi_get_u32(head + 8);
  response.size = length - 8;
  response.data = static_cast<unsigned char*>(std::malloc(response.size ? response.size : 1));
  return response.data && ReceiveAll(s, response.data, response.size, timeoutMs);
}

// Ends the attempt of `generation` if it is still the current one: the
// record's result, the connection, the event. Called under the lock.
void FinishAttempt(DWORD generation) {
  Attempt* attempt = g_attempt;
  if (attempt == nullptr || attempt->generation != generation || generation != g_generation) return;
  g_attempt = nullptr;
  if (attempt->result == S_OK) {
    g_socket = attempt->socket;
    g_lost = false;
    attempt->socket = INVALID_SOCKET;
    g_start = Start::Up;
  } else {
    g_start = Start::Failed;
  }
  g_lastHresult = attempt->result;
  attempt->record->hrRapiInit = attempt->result;
  SetEvent(attempt->event);  // on failure too: the result tells
  if (attempt->socket != INVALID_SOCKET) closesocket(attempt->socket);
  delete attempt;
}

// Drops an attempt that no one will finish (an uninit came first).
void AbandonAttempt() {
  Attempt* attempt = g_attempt;
  if (attempt == nullptr) return;
  g_attempt = nullptr;
  if (attempt->ended) {  // its news was never handled
    if (attempt->socket != INVALID_SOCKET) closesocket(attempt->socket);
    delete attempt;
  } else {
    attempt->generation = 0;  // the thread still running sees it is no longer current
  }
}

LRESULT CALLBACK NotifyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAttemptEnded) {
    EnterCriticalSection(&g_lock);
    FinishAttempt(static_cast<DWORD>(wParam));
    LeaveCriticalSection(&g_lock);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Older-ActiveSync behaviour: a hidden window of the starting thread that
// learns of the attempt's end through a posted message.
HWND MakeNotifyWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = NotifyProcedure;
    windowClass.hInstance = g_module;
    windowClass.lpszClassName = kNotifyClass;
    registered = RegisterClassA(&windowClass) != 0;
  }
  return CreateWindowA(kNotifyClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, g_module, nullptr);
}

void DropNotifyWindow() {
  if (g_notifyWindow == nullptr) return;
  if (g_notifyThread == GetCurrentThreadId()) {
    DestroyWindow(g_notifyWindow);
  } else {
    PostMessageA(g_notifyWindow, WM_CLOSE, 0, 0);
  }
  g_notifyWindow = nullptr;
}

DWORD WINAPI AttemptThread(void* argument) {
  Attempt* attempt = static_cast<Attempt*>(argument);
  SOCKET s = Connect();
  HRESULT result = RAPI_E_FAIL;
  if (s != INVALID_SOCKET) {
    unsigned char hello[4];
    rapi_put_u32(hello, RAPI_PROTOCOL_VERSION);
    Response response;
    if (Exchange(s, RAPI_OP_HELLO, hello, 4, response, kAttemptTimeoutMs) && response.error == 0 &&
        response.size >= 4)
      result = static_cast<HRESULT>(rapi_get_u32(response.data));
  }
  EnterCriticalSection(&g_lock);
  const bool current = attempt->generation != 0 && attempt->generation == g_generation;
  if (current) {
    attempt->result = result;
    attempt->socket = result == S_OK ? s : INVALID_SOCKET;
    if (result == S_OK) s = INVALID_SOCKET;
    attempt->ended = true;
    if (g_notifyWindow) {
      // The news waits in the starting thread's queue until that thread
      // handles its messages.
      PostMessageA(g_notifyWindow, kAttemptEnded, attempt->generation, 0);
    } else {
      FinishAttempt(attempt->generation);
    }
  } else {
    delete attempt;
  }
  LeaveCriticalSection(&g_lock);
  if (s != INVALID_SOCKET) closesocket(s);
  return 0;
}

void CloseConnection() {
  if (g_socket != INVALID_SOCKET) closesocket(g_socket);
  g_socket = INVALID_SOCKET;
  g_lost = false;
}

const char* CallName(DWORD op) {
  static const char* const kNames[] = {
      "?", "hello", "CeCreateFile", "CeReadFile", "CeWriteFile", "CeCloseHandle", "CeGetFileSize",
      "CeDeleteFile", "CeMoveFile", "CeCopyFile", "CeCreateDirectory", "CeRemoveDirectory",
      "CeFindFirstFile", "CeFindNextFile", "CeFindClose", "CeCreateProcess", "CeGetSystemPowerStatusEx",
      "CeRapiInvoke", "CeRegOpenKeyEx", "CeRegCreateKeyEx", "CeRegQueryValueEx", "CeRegSetValueEx",
      "CeRegCloseKey"};
  return op < sizeof kNames / sizeof kNames[0] ? kNames[op] : "?";
}

// Why a call may not be made now, or null when it may. Under the lock.
const char* CallRefusal() {
  switch (g_start) {
    case Start::None: return "without a started connection (CeRapiInitEx)";
    case Start::Pending: return "before the connection's event was signalled";
    case Start::Failed: return "on a connection whose start failed";
    case Start::Up: return nullptr;
  }
  return nullptr;
}

// Set when the last call of this thread failed in the transport, not on
// the handheld (the registry calls then return ERROR_NOT_CONNECTED).
DWORD g_transportTls = TLS_OUT_OF_INDEXES;
void SetTransportFailed(bool failed) {
  if (g_transportTls != TLS_OUT_OF_INDEXES) TlsSetValue(g_transportTls, failed ? reinterpret_cast<void*>(1) : nullptr);
}
bool TransportFailed() {
  return g_transportTls != TLS_OUT_OF_INDEXES && TlsGetValue(g_transportTls) != nullptr;
}

// One remote call under the lock. A call the contract does not allow fails
// at once and is recorded; a broken connection fails every later call.
bool Call(DWORD op, const unsigned char* payload, DWORD size, Response& response) {
  EnterCriticalSection(&g_lock);
  bool ok = false;
  if (const char* refusal = CallRefusal()) {
    standin::RecordBreach("%s %s", CallName(op), refusal);
  } else if (g_socket != INVALID_SOCKET && !g_lost) {
    ok = Exchange(g_socket, op, payload, size, response, kCallTimeoutMs);
    if (!ok) g_lost = true;  // a silent or broken handheld: every later call fails at once
  }
  g_lastHresult = ok ? S_OK : RAPI_E_FAIL;
  LeaveCriticalSection(&g_lock);
  SetTransportFailed(!ok);
  if (!ok) return false;
  SetError(response.error);
  return response.error == 0;
}

// The error a registry call returns when its request failed.
LONG RegistryError() { return TransportFailed() ? static_cast<LONG>(ERROR_NOT_CONNECTED) : static_cast<LONG>(GetError()); }

// A request payload in a growing heap buffer.
class Payload {
 public:
  ~Payload() { std::free(data_); }
  Payload& U32(DWORD v) {
    unsigned char b[4];
    rapi_put_u32(b, v);
    return Raw(b, 4);
  }
  Payload& Str(LPCWSTR s) {
    DWORD n = 0;
    while (s && s[n]) ++n;
    U32(n);
    for (DWORD i = 0; i < n; ++i) {
      unsigned char b[2] = {static_cast<unsigned char>(s[i] & 0xFF), static_cast<unsigned char>(s[i] >> 8)};
      Raw(b, 2);
    }
    return *this;
  }
  Payload& Bytes(const void* p, DWORD n) {
    U32(n);
    return Raw(p, n);
  }
  const unsigned char* Data() const { return data_; }
  DWORD Size() const { return size_; }
  bool Failed() const { return failed_; }

 private:
  Payload& Raw(const void* p, DWORD n) {
    if (failed_ || n == 0) return *this;
    if (size_ + n > capacity_) {
      DWORD grown = capacity_ ? capacity_ * 2 : 256;
      while (grown < size_ + n) grown *= 2;
      void* bigger = std::realloc(data_, grown);
      if (!bigger) {
        failed_ = true;
        return *this;
      }
      data_ = static_cast<unsigned char*>(bigger);
      capacity_ = grown;
    }
    std::memcpy(data_ + size_, p, n);
    size_ += n;
    return *this;
  }
  unsigned char* data_ = nullptr;
  DWORD size_ = 0, capacity_ = 0;
  bool failed_ = false;
};

bool Send(DWORD op, const Payload& payload, Response& response) {
  if (payload.Failed()) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return Call(op, payload.Data(), payload.Size(), response);
}

HANDLE ToHandle(DWORD id) { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(id)); }
DWORD FromHandle(HANDLE h) { return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(h)); }

bool ReadFind(const Response& response, DWORD offset, CeFindData* out) {
  RapiReader r;
  rapi_reader_init(&r, response.data + offset, response.size - offset);
  CeFindData found = {};
  found.dwFileAttributes = rapi_read_u32(&r);
  found.nFileSizeHigh = rapi_read_u32(&r);
  found.nFileSizeLow = rapi_read_u32(&r);
  uint16_t name[RAPI_MAX_PATH];
  const uint32_t n = rapi_read_str(&r, name, RAPI_MAX_PATH);
  if (r.failed) return false;
  for (uint32_t i = 0; i <= n; ++i) found.cFileName[i] = name[i];
  if (out) *out = found;
  return true;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = module;
    InitializeCriticalSection(&g_lock);
    g_tls = TlsAlloc();
    g_transportTls = TlsAlloc();
  }
  // A program that ends on its own (not one that is killed) ends its start first.
  if (reason == DLL_PROCESS_DETACH && g_start != Start::None) {
    standin::RecordBreach("the program ended with a start outstanding (no CeRapiUninit)");
  }
  return TRUE;
}

HRESULT WINAPI CeRapiInitEx(RapiInit* init) {
  if (init == nullptr || init->cbSize != kInitRecordSize) return E_INVALIDARG;
  EnterCriticalSection(&g_lock);
  if (g_start != Start::None) {
    LeaveCriticalSection(&g_lock);
    standin::RecordBreach("CeRapiInitEx while an earlier start is outstanding (no CeRapiUninit)");
    init->heRapiInit = nullptr;
    init->hrRapiInit = kAlreadyInitialized;
    return kAlreadyInitialized;
  }
  if (!g_winsockUp) {
    WSADATA data;
    g_winsockUp = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ++g_generation;
  // Events are never closed here: a caller may still hold an earlier one.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Attempt* attempt = event && g_winsockUp ? new Attempt{init, event, g_generation, INVALID_SOCKET, RAPI_E_FAIL, false}
                                          : nullptr;
  init->heRapiInit = event;
  init->hrRapiInit = RAPI_E_PENDING;
  if (attempt && OldActiveSync()) {
    g_notifyWindow = MakeNotifyWindow();
    g_notifyThread = GetCurrentThreadId();
  }
  g_attempt = attempt;
  HANDLE thread = attempt ? CreateThread(nullptr, 0, AttemptThread, attempt, 0, nullptr) : nullptr;
  if (!thread) {
    g_attempt = nullptr;
    delete attempt;
    DropNotifyWindow();
    init->hrRapiInit = RAPI_E_FAIL;
    LeaveCriticalSection(&g_lock);
    return RAPI_E_FAIL;
  }
  g_start = Start::Pending;
  CloseHandle(thread);
  LeaveCriticalSection(&g_lock);
  return S_OK;
}

HRESULT WINAPI CeRapiUninit() {
  EnterCriticalSection(&g_lock);
  if (g_start == Start::None) {
    LeaveCriticalSection(&g_lock);
    standin::RecordBreach("CeRapiUninit without a start (no CeRapiInitEx outstanding)");
    return E_FAIL;
  }
  ++g_generation;
  AbandonAttempt();
  DropNotifyWindow();
  g_start = Start::None;
  CloseConnection();
  LeaveCriticalSection(&g_lock);
  return S_OK;
}

HRESULT WINAPI CeRapiGetError() { return g_lastHresult; }

DWORD WINAPI CeGetLastError() { return GetError(); }

HANDLE WINAPI CeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                           DWORD attributes, HANDLE) {
  Payload p;
  p.U32(access).U32(share).U32(disposition).U32(attributes).Str(path);
  Response r;
  if (!Send(RAPI_OP_CREATE_FILE, p, r) || r.size < 4) return INVALID_HANDLE_VALUE;
  return ToHandle(rapi_get_u32(r.data));
}

BOOL WINAPI CeReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
  DWORD total = 0;
  if (read) *read = 0;
  do {
    const DWORD want = count - total < kPiece ? count - total : kPiece;
    Payload p;
    p.U32(FromHandle(file)).U32(want);
    Response r;
    if (!Send(RAPI_OP_READ_FILE, p, r)) return FALSE;
    RapiReader in;
    rapi_reader_init(&in, r.data, r.size);
    uint32_t n = 0;
    const unsigned char* data = rapi_read_bytes(&in, &n);
    if (in.failed || n > want) {
      SetError(RAPI_ERROR_GEN_FAILURE);
      return FALSE;
    }
    std::memcpy(static_cast<unsigned char*>(buffer) + total, data, n);
    total += n;
    if (read) *read = total;
    if (n < want) break;
  } while (total < count);
  return TRUE;
}

BOOL WINAPI CeWriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED) {
  DWORD total = 0;
  if (written) *written = 0;
  do {
    const DWORD n = count - total < kPiece ? count - total : kPiece;
    Payload p;
    p.U32(FromHandle(file)).Bytes(static_cast<const unsigned char*>(data) + total, n);
    Response r;
    if (!Send(RAPI_OP_WRITE_FILE, p, r) || r.size < 4) return FALSE;
    const DWORD done = rapi_get_u32(r.data);
    // A handheld that takes nothing (a full store) or claims more than was
    // sent ends the write: asking again would never finish.
    if (done == 0 || done > n) {
      SetError(ERROR_WRITE_FAULT);
      return FALSE;
    }
    total += done;
    if (written) *written = total;
  } while (total < count);
  return TRUE;
}

BOOL WINAPI CeCloseHandle(HANDLE handle) {
  Payload p;
  p.U32(FromHandle(handle));
  Response r;
  return Send(RAPI_OP_CLOSE_HANDLE, p, r);
}

DWORD WINAPI CeGetFileSize(HANDLE file, LPDWORD high) {
  Payload p;
  p.U32(FromHandle(file));
  Response r;
  if (!Send(RAPI_OP_GET_FILE_SIZE, p, r) || r.size < 8) return 0xFFFFFFFFu;
  if (high) *high = rapi_get_u32(r.data + 4);
  return rapi_get_u32(r.data);
}

BOOL WINAPI CeDeleteFile(LPCWSTR path) {
  Payload p;
  p.Str(path);
  Response r;
  return Send(RAPI_OP_DELETE_FILE, p, r);
}

BOOL WINAPI CeMoveFile(LPCWSTR from, LPCWSTR to) {
  Payload p;
  p.Str(from).Str(to);
  Response r;
  return Send(RAPI_OP_MOVE_FILE, p, r);
}

BOOL WINAPI CeCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  Payload p;
  p.Str(from).Str(to).U32(failIfExists ? 1 : 0);
  Response r;
  return Send(RAPI_OP_COPY_FILE, p, r);
}

BOOL WINAPI CeCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  Payload p;
  p.Str(path);
  Response r;
  return Send(RAPI_OP_CREATE_DIRECTORY, p, r);
}

BOOL WINAPI CeRemoveDirectory(LPCWSTR path) {
  Payload p;
  p.Str(path);
  Response r;
  return Send(RAPI_OP_REMOVE_DIRECTORY, p, r);
}

HANDLE WINAPI CeFindFirstFile(LPCWSTR pattern, CeFindData* data) {
  Payload p;
  p.Str(pattern);
  Response r;
  if (!Send(RAPI_OP_FIND_FIRST, p, r) || r.size < 4 || !ReadFind(r, 4, data)) return INVALID_HANDLE_VALUE;
  return ToHandle(rapi_get_u32(r.data));
}

BOOL WINAPI CeFindNextFile(HANDLE find, CeFindData* data) {
  Payload p;
  p.U32(FromHandle(find));
  Response r;
  return Send(RAPI_OP_FIND_NEXT, p, r) && ReadFind(r, 0, data);
}

BOOL WINAPI CeFindClose(HANDLE find) {
  Payload p;
  p.U32(FromHandle(find));
  Response r;
  return Send(RAPI_OP_FIND_CLOSE, p, r);
}

BOOL WINAPI CeCreateProcess(LPCWSTR program, LPCWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                            BOOL, DWORD, LPVOID, LPWSTR, LPVOID, PROCESS_INFORMATION* info) {
  Payload p;
  p.Str(program).Str(commandLine);
  Response r;
  if (!Send(RAPI_OP_CREATE_PROCESS, p, r) || r.size < 16) return FALSE;
  if (info) {
    info->hProcess = ToHandle(rapi_get_u32(r.data));
    info->hThread = ToHandle(rapi_get_u32(r.data + 4));
    info->dwProcessId = rapi_get_u32(r.data + 8);
    info->dwThreadId = rapi_get_u32(r.data + 12);
  }
  return TRUE;
}

BOOL WINAPI CeGetSystemPowerStatusEx(void* status, BOOL refresh) {
  Payload p;
  p.U32(refresh ? 1 : 0);
  Response r;
  if (!Send(RAPI_OP_POWER_STATUS, p, r) || r.size < RAPI_POWER_STATUS_SIZE) return FALSE;
  // The wire carries SYSTEM_POWER_STATUS_EX byte for byte (little-endian, as x86).
  if (status) std::memcpy(status, r.data, RAPI_POWER_STATUS_SIZE);
  return TRUE;
}

HRESULT WINAPI CeRapiInvoke(LPCWSTR library, LPCWSTR function, DWORD inputSize, BYTE* input, DWORD* outputSize,
                            BYTE** output, void** stream, DWORD) {
  if (outputSize) *outputSize = 0;
  if (output) *output = nullptr;
  if (stream) *stream = nullptr;  // stream mode is not offered
  // The call takes the input block over and frees it with LocalFree, as
  // documented: a block from anywhere else cannot be freed, and fails.
  if (input && LocalSize(input) < inputSize) {
    standin::RecordBreach("CeRapiInvoke input block of %lu bytes is not LocalAlloc memory of that size",
                          static_cast<unsigned long>(inputSize));
    return E_INVALIDARG;
  }
  Payload p;
  p.Str(library).Str(function).Bytes(input, input ? inputSize : 0);
  if (input) LocalFree(input);
  Response r;
  if (!Send(RAPI_OP_INVOKE, p, r)) return RAPI_E_FAIL;
  RapiReader in;
  rapi_reader_init(&in, r.data, r.size);
  const HRESULT result = static_cast<HRESULT>(rapi_read_u32(&in));
  uint32_t n = 0;
  const unsigned char* data = rapi_read_bytes(&in, &n);
  if (in.failed) return RAPI_E_FAIL;
  if (n > 0 && output) {
    *output = static_cast<BYTE*>(LocalAlloc(LPTR, n));
    if (!*output) return E_OUTOFMEMORY;
    std::memcpy(*output, data, n);
    if (outputSize) *outputSize = n;
  }
  return result;
}

// The registry calls return the handheld's Win32 error directly.
LONG WINAPI CeRegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  Payload p;
  p.U32(FromHandle(key)).Str(subKey);
  Response r;
  if (!Send(RAPI_OP_REG_OPEN_KEY, p, r)) return RegistryError();
  if (r.size < 4) return ERROR_GEN_FAILURE;
  if (result) *result = static_cast<HKEY>(ToHandle(rapi_get_u32(r.data)));
  return ERROR_SUCCESS;
}

LONG WINAPI CeRegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                             PHKEY result, LPDWORD disposition) {
  Payload p;
  p.U32(FromHandle(key)).Str(subKey);
  Response r;
  if (!Send(RAPI_OP_REG_CREATE_KEY, p, r)) return RegistryError();
  if (r.size < 8) return ERROR_GEN_FAILURE;
  if (result) *result = static_cast<HKEY>(ToHandle(rapi_get_u32(r.data)));
  if (disposition) *disposition = rapi_get_u32(r.data + 4);
  return ERROR_SUCCESS;
}

LONG WINAPI CeRegQueryValueEx(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
  Payload p;
  p.U32(FromHandle(key)).Str(name);
  Response r;
  if (!Send(RAPI_OP_REG_QUERY_VALUE, p, r)) return RegistryError();
  RapiReader in;
  rapi_reader_init(&in, r.data, r.size);
  const uint32_t valueType = rapi_read_u32(&in);
  uint32_t n = 0;
  const unsigned char* bytes = rapi_read_bytes(&in, &n);
  if (in.failed) return ERROR_GEN_FAILURE;
  if (type) *type = valueType;
  if (!data) {
    if (size) *size = n;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  const DWORD capacity = *size;
  *size = n;
  if (n > capacity) return ERROR_MORE_DATA;
  std::memcpy(data, bytes, n);
  return ERROR_SUCCESS;
}

LONG WINAPI CeRegSetValueEx(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  Payload p;
  p.U32(FromHandle(key)).Str(name).U32(type).Bytes(data, data ? size : 0);
  Response r;
  return Send(RAPI_OP_REG_SET_VALUE, p, r) ? ERROR_SUCCESS : static_cast<LONG>(GetError());
}

LONG WINAPI CeRegCloseKey(HKEY key) {
  Payload p;
  p.U32(FromHandle(key));
  Response r;
  return Send(RAPI_OP_REG_CLOSE_KEY, p, r) ? ERROR_SUCCESS : static_cast<LONG>(GetError());
}

}  // extern "C"
