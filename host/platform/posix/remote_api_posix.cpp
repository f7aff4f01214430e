// Remote API on Linux: a client of handheld-sim over loopback TCP (protocol in
// wire/rapi_protocol.h). The address comes from ROMWIZ_HANDHELD
// (host:port), else 127.0.0.1:9696.
//
// CeRapiInitEx connects in the background and signals its event (our own
// object behind InitRecord::event) when the attempt ends, whatever the
// outcome; the record's result is S_OK only when the handheld answered the
// greeting with success. One connection serves all threads: a lock keeps each
// request and its response together (the power poller calls from its own
// thread). A connection that fails once stays failed until the next
// CeRapiInitEx, and every call on it fails cleanly.
#include "platform/remote_api.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "wire/rapi_protocol.h"
#include "platform/clock.h"

namespace rapi {
namespace {

// Real milliseconds the background attempt may take to connect and be
// greeted; past it the attempt ends as a failure (the wizard's own wait is
// 3000 wizard milliseconds and normally decides first).
constexpr int kAttemptTimeoutMs = 10000;
// Real milliseconds one call waits for its answer; a handheld that stops
// answering (it was reset into its loader) then fails the call.
constexpr int kCallTimeoutMs = 5000;
constexpr std::uint32_t kSizeFailure = 0xFFFFFFFFu;
// RAPIINIT's documented size, whatever the size of our record on this platform.
constexpr std::uint32_t kInitRecordSize = 12;

struct Connection {
  explicit Connection(int socket) : fd(socket) {}
  ~Connection() { ::close(fd); }
  std::mutex callLock;  // one request/response at a time
  int fd;
  bool lost = false;
};

// The event behind InitRecord::event: one connection attempt.
struct Attempt {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  InitRecord* record = nullptr;  // cleared when the caller gave the attempt up
};

struct Globals {
  std::mutex lock;
  std::shared_ptr<Connection> connection;
  std::shared_ptr<Attempt> current;                // the attempt of the last CeRapiInitEx
  std::map<void*, std::shared_ptr<Attempt>> live;  // events that may still be waited on
  bool started = false;                            // a CeRapiInitEx succeeded and was not yet ended
};

// Never destroyed: background attempts may outlive main().
Globals& G() {
  static Globals* globals = new Globals;
  return *globals;
}

thread_local std::uint32_t t_lastError = 0;

bool ParseAddress(std::string& host, std::string& port) {
  host = RAPI_DEFAULT_HOST;
  port = std::to_string(RAPI_DEFAULT_PORT);
  const char* text = std::getenv(RAPI_ADDRESS_VARIABLE);
  if (text == nullptr || *text == 0) return true;
  const std::string address = text;
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos) {
    host = address;
  } else {
    if (colon > 0) host = address.substr(0, colon);
    port = address.substr(colon + 1);
  }
  return !host.empty() && !port.empty();
}

bool WaitReady(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (p.revents & events);
  }
}

// A connected socket, or -1.
int Connect(int timeoutMs) {
  std::string host, port;
  if (!ParseAddress(host, port)) return -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) return -1;
  int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    int rc = ::connect(fd, found->ai_addr, found->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS && WaitReady(fd, POLLOUT, timeoutMs)) {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      rc = error == 0 ? 0 : -1;
    }
    if (rc != 0) {
      ::close(fd);
      fd = -1;
    } else {
      const int yes = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
  }
  ::freeaddrinfo(found);
  return fd;
}

bool SendAll(int fd, const std::uint8_t* p, std::size_t n, int timeoutMs) {
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitReady(fd, POLLOUT, timeoutMs)) return false;
      continue;
    }
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool ReceiveAll(int fd, std::uint8_t* p, std::size_t n, int timeoutMs) {
  while (n > 0) {
    if (!WaitReady(fd, POLLIN, timeoutMs)) return false;
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

// Sends one request and reads its response. False on a broken or silent
// connection; `error` is the handheld's Win32 error of the call.
bool Exchange(int fd, std::uint32_t op, const std::vector<std::uint8_t>& payload, std::uint32_t& error,
              std::vector<std::uint8_t>& response, int timeoutMs) {
  std::vector<std::uint8_t> frame(8);
  rapi_put_u32(frame.data(), static_cast<std::uint32_t>(4 + payload.size()));
  rapi_put_u32(frame.data() + 4, op);
  frame.insert(frame.end(), payload.begin(), payload.end());
  if (frame.size() > RAPI_MAX_FRAME || !SendAll(fd, frame.data(), frame.size(), timeoutMs)) return false;
  std::uint8_t head[12];
  if (!ReceiveAll(fd, head, 4, timeoutMs)) return false;
  const std::uint32_t length = rapi_get_u32(head);
  if (length < 8 || length > RAPI_MAX_FRAME) return false;
  if (!ReceiveAll(fd, head + 4, 8, timeoutMs) || rapi_get_u32(head + 4) != op) return false;
  error = rapi_get_u32(head + 8);
  response.resize(length - 8);
  return ReceiveAll(fd, response.data(), response.size(), timeoutMs);
}

// A request payload under construction.
struct Payload {
  std::vector<std::uint8_t> bytes;
  Payload& U32(std::uint32_t v) {
    std::uint8_t b[4];
    rapi_put_u32(b, v);
    bytes.insert(bytes.end(), b, b + 4);
    return *this;
  }
  Payload& Str(const char16_t* s) {
    std::size_t n = 0;
    while (s != nullptr && s[n] != 0) ++n;
    U32(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(s[i] & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(s[i] >> 8));
    }
    return *this;
  }
  Payload& Bytes(const void* p, std::uint32_t n) {
    U32(n);
    const auto* b = static_cast<const std::uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
};

void AttemptEnded(const std::shared_ptr<Attempt>& attempt, int fd, std::int32_t result) {
  Globals& g = G();
  std::lock_guard<std::mutex> guard(g.lock);
  std::lock_guard<std::mutex> own(attempt->lock);
  const bool wanted = g.current == attempt && attempt->record != nullptr;
  if (wanted && result == RAPI_S_OK) {
    g.connection = std::make_shared<Connection>(fd);
  } else if (fd >= 0) {
    ::close(fd);
  }
  if (attempt->record) attempt->record->result = wanted ? result : RAPI_E_FAIL;
  attempt->done = true;
  attempt->ended.notify_all();
}

void RunAttempt(std::shared_ptr<Attempt> attempt) {
  const int fd = Connect(kAttemptTimeoutMs);
  std::int32_t result = RAPI_E_FAIL;
  if (fd >= 0) {
    std::uint32_t error = 0;
    std::vector<std::uint8_t> response;
    if (Exchange(fd, RAPI_OP_HELLO, Payload().U32(RAPI_PROTOCOL_VERSION).bytes, error, response,
                 kAttemptTimeoutMs) &&
        error == 0 && response.size() >= 4)
      result = static_cast<std::int32_t>(rapi_get_u32(response.data()));
  }
  AttemptEnded(attempt, result == RAPI_S_OK ? fd : -1, result);
  if (result != RAPI_S_OK && fd >= 0) ::close(fd);
}

// Gives the current attempt up: its record is never written again.
void AbandonCurrent(Globals& g) {
  if (g.current) {
    std::lock_guard<std::mutex> own(g.current->lock);
    g.current->record = nullptr;
    g.current->ended.notify_all();
  }
  g.current.reset();
}

// The open connection; a call made while the attempt is still under way
// waits for it (as SetDeviceClock calls right after CeRapiInitEx).
std::shared_ptr<Connection> CurrentConnection() {
  Globals& g = G();
  std::shared_ptr<Attempt> pending;
  {
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.connection || !g.current) return g.connection;
    pending = g.current;
  }
  {
    std::unique_lock<std::mutex> own(pending->lock);
    pending->ended.wait_for(own, std::chrono::milliseconds(kAttemptTimeoutMs),
                            [&] { return pending->done || pending->record == nullptr; });
  }
  std::lock_guard<std::mutex> guard(g.lock);
  return g.connection;
}

// One remote call. False when the call failed (t_lastError tells why).
bool Call(std::uint32_t op, const Payload& payload, std::vector<std::uint8_t>& response) {
  std::shared_ptr<Connection> connection = CurrentConnection();
  if (!connection) {
    t_lastError = RAPI_ERROR_NOT_CONNECTED;
    return false;
  }
  std::lock_guard<std::mutex> guard(connection->callLock);
  std::uint32_t error = 0;
  if (connection->lost || !Exchange(connection->fd, op, payload.bytes, error, response, kCallTimeoutMs)) {
    connection->lost = true;
    ::shutdown(connection->fd, SHUT_RDWR);
    t_lastError = RAPI_ERROR_NOT_CONNECTED;
    return false;
  }
  t_lastError = error;
  return error == 0;
}

Handle ToHandle(std::uint32_t id) { return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(id)); }

std::uint32_t FromHandle(Handle handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

bool ReadFind(RapiReader& r, FindData* data) {
  FindData out;
  out.attributes = rapi_read_u32(&r);
  out.sizeHigh = rapi_read_u32(&r);
  out.sizeLow = rapi_read_u32(&r);
  std::uint16_t name[RAPI_MAX_PATH];
  const std::uint32_t n = rapi_read_str(&r, name, RAPI_MAX_PATH);
  if (r.failed) return false;
  for (std::uint32_t i = 0; i <= n; ++i) out.name[i] = static_cast<char16_t>(name[i]);
  if (data) *data = out;
  return true;
}

}  // namespace

std::int32_t CeRapiInitEx(InitRecord* init) {
  if (init == nullptr || init->size != kInitRecordSize) return RAPI_E_FAIL;
  Globals& g = G();
  auto attempt = std::make_shared<Attempt>();
  attempt->record = init;
  {
    std::lock_guard<std::mutex> guard(g.lock);
    AbandonCurrent(g);
    g.connection.reset();
    g.current = attempt;
    g.live[attempt.get()] = attempt;
    init->event = attempt.get();
    init->result = RAPI_E_PENDING;
  }
  try {
    std::thread(RunAttempt, attempt).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> guard(g.lock);
    AbandonCurrent(g);
    init->result = RAPI_E_FAIL;
    return RAPI_E_FAIL;
  }
  std::lock_guard<std::mutex> guard(g.lock);
  g.started = true;
  return RAPI_S_OK;
}

std::int32_t CeRapiUninit() {
  Globals& g = G();
  std::lock_guard<std::mutex> guard(g.lock);
  AbandonCurrent(g);
  g.connection.reset();  // the socket closes when the last call on it returns
  g.live.clear();
  // As the library: one uninit per start.
  const bool started = g.started;
  g.started = false;
  return started ? RAPI_S_OK : RAPI_E_FAIL;
}

bool WaitForConnection(const InitRecord& init, std::uint32_t ms) {
  Globals& g = G();
  std::shared_ptr<Attempt> attempt;
  {
    std::lock_guard<std::mutex> guard(g.lock);
    const auto it = g.live.find(init.event);
    if (it == g.live.end()) return false;
    attempt = it->second;
  }
  bool signalled = false;
  {
    std::unique_lock<std::mutex> own(attempt->lock);
    const std::uint32_t realMs = platform::ScaledMsAtLeast(ms, kConnectionWaitFloorMs);
    attempt->ended.wait_for(own, std::chrono::milliseconds(realMs),
                            [&] { return attempt->done || attempt->record == nullptr; });
    signalled = attempt->done && attempt->record != nullptr;
  }
  if (!signalled) {
    // Not reachable: the attempt is given up so that it can never write into
    // a record its caller no longer looks at.
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.current == attempt) AbandonCurrent(g);
  }
  return signalled;
}

Handle CeCreateFile(const char16_t* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                    std::uint32_t attributes) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_CREATE_FILE, Payload().U32(access).U32(share).U32(disposition).U32(attributes).Str(path),
            response) ||
      response.size() < 4)
    return kInvalidHandle;
  return ToHandle(rapi_get_u32(response.data()));
}

bool CeReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
  if (read) *read = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t total = 0;
  // Large reads go in pieces that fit a frame.
  constexpr std::uint32_t kPiece = RAPI_MAX_FRAME / 2;
  do {
    const std::uint32_t want = std::min(count - total, kPiece);
    std::vector<std::uint8_t> response;
    if (!Call(RAPI_OP_READ_FILE, Payload().U32(FromHandle(file)).U32(want), response)) return false;
    RapiReader r;
    rapi_reader_init(&r, response.data(), static_cast<std::uint32_t>(response.size()));
    std::uint32_t n = 0;
    const unsigned char* data = rapi_read_bytes(&r, &n);
    if (r.failed || n > want) {
      t_lastError = RAPI_ERROR_GEN_FAILURE;
      return false;
    }
    std::memcpy(out + total, data, n);
    total += n;
    if (read) *read = total;
    if (n < want) break;  // end of file
  } while (total < count);
  return true;
}

bool CeWriteFile(Handle file, const void* data, std::uint32_t count, std::uint32_t* written) {
  if (written) *written = 0;
  const auto* in = static_cast<const std::uint8_t*>(data);
  constexpr std::uint32_t kPiece = RAPI_MAX_FRAME / 2;
  std::uint32_t total = 0;
  do {
    const std::uint32_t n = std::min(count - total, kPiece);
    std::vector<std::uint8_t> response;
    if (!Call(RAPI_OP_WRITE_FILE, Payload().U32(FromHandle(file)).Bytes(in + total, n), response) ||
        response.size() < 4)
      return false;
    const std::uint32_t wrote = rapi_get_u32(response.data());
    // A piece reported as written with no byte taken (or with more than was
    // sent) would never finish the loop: the write has failed.
    if (n != 0 && (wrote == 0 || wrote > n)) return false;
    total += wrote;
    if (written) *written = total;
  } while (total < count);
  return true;
}

bool CeCloseHandle(Handle handle) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_CLOSE_HANDLE, Payload().U32(FromHandle(handle)), response);
}

std::uint32_t CeGetFileSize(Handle file, std::uint32_t* high) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_GET_FILE_SIZE, Payload().U32(FromHandle(file)), response) || response.size() < 8)
    return kSizeFailure;
  if (high) *high = rapi_get_u32(response.data() + 4);
  return rapi_get_u32(response.data());
}

bool CeDeleteFile(const char16_t* path) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_DELETE_FILE, Payload().Str(path), response);
}

bool CeMoveFile(const char16_t* from, const char16_t* to) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_MOVE_FILE, Payload().Str(from).Str(to), response);
}

bool CeCopyFile(const char16_t* from, const char16_t* to, bool failIfExists) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_COPY_FILE, Payload().Str(from).Str(to).U32(failIfExists ? 1 : 0), response);
}

bool CeCreateDirectory(const char16_t* path) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_CREATE_DIRECTORY, Payload().Str(path), response);
}

bool CeRemoveDirectory(const char16_t* path) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_REMOVE_DIRECTORY, Payload().Str(path), response);
}

Handle CeFindFirstFile(const char16_t* pattern, FindData* data) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_FIND_FIRST, Payload().Str(pattern), response)) return kInvalidHandle;
  RapiReader r;
  rapi_reader_init(&r, response.data(), static_cast<std::uint32_t>(response.size()));
  const std::uint32_t handle = rapi_read_u32(&r);
  if (!ReadFind(r, data)) {
    t_lastError = RAPI_ERROR_GEN_FAILURE;
    return kInvalidHandle;
  }
  return ToHandle(handle);
}

bool CeFindNextFile(Handle find, FindData* data) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_FIND_NEXT, Payload().U32(FromHandle(find)), response)) return false;
  RapiReader r;
  rapi_reader_init(&r, response.data(), static_cast<std::uint32_t>(response.size()));
  return ReadFind(r, data);
}

bool CeFindClose(Handle find) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_FIND_CLOSE, Payload().U32(FromHandle(find)), response);
}

bool CeCreateProcess(const char16_t* program, const char16_t* commandLine, ProcessInfo* info) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_CREATE_PROCESS, Payload().Str(program).Str(commandLine ? commandLine : u""), response) ||
      response.size() < 16)
    return false;
  if (info) {
    info->process = ToHandle(rapi_get_u32(response.data()));
    info->thread = ToHandle(rapi_get_u32(response.data() + 4));
    info->processId = rapi_get_u32(response.data() + 8);
    info->threadId = rapi_get_u32(response.data() + 12);
  }
  return true;
}

bool CeGetSystemPowerStatusEx(PowerStatus* status, bool refresh) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_POWER_STATUS, Payload().U32(refresh ? 1 : 0), response) ||
      response.size() < RAPI_POWER_STATUS_SIZE)
    return false;
  if (status) {
    const std::uint8_t* b = response.data();
    status->ACLineStatus = b[0];
    status->BatteryFlag = b[1];
    status->BatteryLifePercent = b[2];
    status->Reserved1 = b[3];
    status->BatteryLifeTime = rapi_get_u32(b + 4);
    status->BatteryFullLifeTime = rapi_get_u32(b + 8);
    status->Reserved2 = b[12];
    status->BackupBatteryFlag = b[13];
    status->BackupBatteryLifePercent = b[14];
    status->Reserved3 = b[15];
    status->BackupBatteryLifeTime = rapi_get_u32(b + 16);
    status->BackupBatteryFullLifeTime = rapi_get_u32(b + 20);
  }
  return true;
}

std::int32_t CeRapiInvoke(const char16_t* library, const char16_t* function, std::uint32_t inputSize,
                          std::uint8_t* input, std::uint32_t* outputSize, std::uint8_t** output) {
  if (outputSize) *outputSize = 0;
  if (output) *output = nullptr;
  Payload payload;
  payload.Str(library).Str(function).Bytes(input, input ? inputSize : 0);
  FreeInvokeBlock(input);  // the call owns the input block on every path
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_INVOKE, payload, response)) return RAPI_E_FAIL;
  RapiReader r;
  rapi_reader_init(&r, response.data(), static_cast<std::uint32_t>(response.size()));
  const auto result = static_cast<std::int32_t>(rapi_read_u32(&r));
  std::uint32_t n = 0;
  const unsigned char* data = rapi_read_bytes(&r, &n);
  if (r.failed) return RAPI_E_FAIL;
  if (n > 0 && output) {
    *output = AllocInvokeBlock(n);
    if (*output == nullptr) return RAPI_E_FAIL;
    std::memcpy(*output, data, n);
    if (outputSize) *outputSize = n;
  }
  return result;
}

namespace {
// The Win32 error of a registry call that did not succeed.
std::int32_t RegistryError() {
  return static_cast<std::int32_t>(t_lastError ? t_lastError : RAPI_ERROR_GEN_FAILURE);
}
}  // namespace

std::int32_t CeRegOpenKeyEx(RegKey key, const char16_t* subKey, RegKey* result) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_REG_OPEN_KEY, Payload().U32(FromHandle(key)).Str(subKey), response)) return RegistryError();
  if (response.size() < 4) return RAPI_ERROR_GEN_FAILURE;
  if (result) *result = ToHandle(rapi_get_u32(response.data()));
  return kErrorSuccess;
}

std::int32_t CeRegCreateKeyEx(RegKey key, const char16_t* subKey, RegKey* result, std::uint32_t* disposition) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_REG_CREATE_KEY, Payload().U32(FromHandle(key)).Str(subKey), response)) return RegistryError();
  if (response.size() < 8) return RAPI_ERROR_GEN_FAILURE;
  if (result) *result = ToHandle(rapi_get_u32(response.data()));
  if (disposition) *disposition = rapi_get_u32(response.data() + 4);
  return kErrorSuccess;
}

std::int32_t CeRegQueryValueEx(RegKey key, const char16_t* valueName, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) {
  std::vector<std::uint8_t> response;
  if (!Call(RAPI_OP_REG_QUERY_VALUE, Payload().U32(FromHandle(key)).Str(valueName), response))
    return RegistryError();
  RapiReader r;
  rapi_reader_init(&r, response.data(), static_cast<std::uint32_t>(response.size()));
  const std::uint32_t valueType = rapi_read_u32(&r);
  std::uint32_t n = 0;
  const unsigned char* bytes = rapi_read_bytes(&r, &n);
  if (r.failed) return RAPI_ERROR_GEN_FAILURE;
  if (type) *type = valueType;
  if (data == nullptr) {
    if (size) *size = n;
    return kErrorSuccess;
  }
  if (size == nullptr) return RAPI_ERROR_INVALID_PARAMETER;
  const std::uint32_t capacity = *size;
  *size = n;
  if (n > capacity) return kErrorMoreData;
  std::memcpy(data, bytes, n);
  return kErrorSuccess;
}

std::int32_t CeRegSetValueEx(RegKey key, const char16_t* valueName, std::uint32_t type, const std::uint8_t* data,
                             std::uint32_t size) {
  std::vector<std::uint8_t> response;
  Payload payload;
  payload.U32(FromHandle(key)).Str(valueName).U32(type).Bytes(data, data ? size : 0);
  return Call(RAPI_OP_REG_SET_VALUE, payload, response) ? kErrorSuccess : RegistryError();
}

std::int32_t CeRegCloseKey(RegKey key) {
  std::vector<std::uint8_t> response;
  return Call(RAPI_OP_REG_CLOSE_KEY, Payload().U32(FromHandle(key)), response) ? kErrorSuccess : RegistryError();
}

std::uint8_t* AllocInvokeBlock(std::uint32_t size) {
  return static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

void FreeInvokeBlock(std::uint8_t* block) { std::free(block); }

std::uint32_t CeGetLastError() { return t_lastError; }

std::u16string AnsiToDevicePath(const char* text) {
  // Windows-1252: 0x80..0x9F hold typographic characters; the rest is Latin-1.
  static const char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::u16string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); p && *p; ++p)
    out += (*p >= 0x80 && *p < 0xA0) ? kHigh[*p - 0x80] : static_cast<char16_t>(*p);
  return out;
}

}  // namespace rapi
