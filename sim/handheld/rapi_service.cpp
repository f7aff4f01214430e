#include "rapi_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device_registry.h"
#include "handheld.h"
#include "wire/rapi_protocol.h"

namespace handheld {
namespace {

constexpr std::uint32_t kLargestRead = RAPI_MAX_FRAME - 64;  // room for the response's own words

struct CallName {
  std::uint32_t op;
  const char* name;
};
constexpr CallName kCallNames[] = {
    {RAPI_OP_HELLO, "CeRapiInitEx"},
    {RAPI_OP_CREATE_FILE, "CeCreateFile"},
    {RAPI_OP_READ_FILE, "CeReadFile"},
    {RAPI_OP_WRITE_FILE, "CeWriteFile"},
    {RAPI_OP_CLOSE_HANDLE, "CeCloseHandle"},
    {RAPI_OP_GET_FILE_SIZE, "CeGetFileSize"},
    {RAPI_OP_DELETE_FILE, "CeDeleteFile"},
    {RAPI_OP_MOVE_FILE, "CeMoveFile"},
    {RAPI_OP_COPY_FILE, "CeCopyFile"},
    {RAPI_OP_CREATE_DIRECTORY, "CeCreateDirectory"},
    {RAPI_OP_REMOVE_DIRECTORY, "CeRemoveDirectory"},
    {RAPI_OP_FIND_FIRST, "CeFindFirstFile"},
    {RAPI_OP_FIND_NEXT, "CeFindNextFile"},
    {RAPI_OP_FIND_CLOSE, "CeFindClose"},
    {RAPI_OP_CREATE_PROCESS, "CeCreateProcess"},
    {RAPI_OP_POWER_STATUS, "CeGetSystemPowerStatusEx"},
    {RAPI_OP_INVOKE, "CeRapiInvoke"},
    {RAPI_OP_REG_OPEN_KEY, "CeRegOpenKeyEx"},
    {RAPI_OP_REG_CREATE_KEY, "CeRegCreateKeyEx"},
    {RAPI_OP_REG_QUERY_VALUE, "CeRegQueryValueEx"},
    {RAPI_OP_REG_SET_VALUE, "CeRegSetValueEx"},
    {RAPI_OP_REG_CLOSE_KEY, "CeRegCloseKey"},
};

bool ReadAll(int fd, void* buffer, std::size_t n) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (n > 0) {
    const ssize_t got = ::recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

// A response payload under construction.
struct Out {
  std::vector<std::uint8_t> bytes;
  void U32(std::uint32_t v) {
    std::uint8_t b[4];
    rapi_put_u32(b, v);
    bytes.insert(bytes.end(), b, b + 4);
  }
  void Bytes(const std::uint8_t* p, std::size_t n) {
    U32(static_cast<std::uint32_t>(n));
    bytes.insert(bytes.end(), p, p + n);
  }
  void Str(const std::u16string& s) {
    U32(static_cast<std::uint32_t>(s.size()));
    for (char16_t c : s) {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  void Find(const FindEntry& e) {
    U32(e.attributes);
    U32(static_cast<std::uint32_t>(e.size >> 32));
    U32(static_cast<std::uint32_t>(e.size));
    std::u16string name = Utf8ToUtf16(e.name);
    if (name.size() >= RAPI_MAX_PATH) name.resize(RAPI_MAX_PATH - 1);
    Str(name);
  }
};

std::u16string ReadStr(RapiReader& r) {
  std::uint16_t units[RAPI_MAX_PATH];
  const std::uint32_t n = rapi_read_str(&r, units, RAPI_MAX_PATH);
  return std::u16string(units, units + n);
}

// The registry calls; returns the Win32 error and fills `out`.
std::uint32_t DispatchRegistry(Handheld& h, Session& s, std::uint32_t op, RapiReader& in, Out& out) {
  const std::uint32_t key = rapi_read_u32(&in);
  std::uint32_t error = 0;
  switch (op) {
    case RAPI_OP_REG_OPEN_KEY: {
      const std::u16string subKey = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::uint32_t handle = 0;
      if (!(error = RegOpenKey(h, s, key, subKey, handle))) out.U32(handle);
      return error;
    }
    case RAPI_OP_REG_CREATE_KEY: {
      const std::u16string subKey = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::uint32_t handle = 0, disposition = 0;
      if (!(error = RegCreateKey(h, s, key, subKey, handle, disposition))) {
        out.U32(handle);
        out.U32(disposition);
      }
      return error;
    }
    case RAPI_OP_REG_QUERY_VALUE: {
      const std::u16string name = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::uint32_t type = 0;
      std::vector<std::uint8_t> data;
      if (!(error = RegQueryValue(h, s, key, name, type, data))) {
        out.U32(type);
        out.Bytes(data.data(), data.size());
      }
      return error;
    }
    case RAPI_OP_REG_SET_VALUE: {
      const std::u16string name = ReadStr(in);
      const std::uint32_t type = rapi_read_u32(&in);
      std::uint32_t n = 0;
      const std::uint8_t* data = rapi_read_bytes(&in, &n);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      return RegSetValue(h, s, key, name, type, std::vector<std::uint8_t>(data, data + n));
    }
    case RAPI_OP_REG_CLOSE_KEY: return in.failed ? RAPI_ERROR_INVALID_PARAMETER : RegCloseKey(s, key);
    default: return RAPI_ERROR_NOT_SUPPORTED;
  }
}

// Carries out one request; returns the Win32 error and fills `out`.
std::uint32_t Dispatch(Handheld& h, Session& s, const HandheldState& state, std::uint32_t op, RapiReader& in,
                       Out& out) {
  if (op == RAPI_OP_HELLO) {
    rapi_read_u32(&in);  // the client's protocol version; version 1 is the only one
    const bool fails = state.faults.initFails || state.faults.failCalls.count("CeRapiInitEx");
    out.U32(static_cast<std::uint32_t>(fails ? RAPI_E_FAIL : RAPI_S_OK));
    return 0;
  }
  if (state.faults.failCalls.count(RemoteCallName(op))) return RAPI_ERROR_GEN_FAILURE;
  std::uint32_t error = 0;
  switch (op) {
    case RAPI_OP_CREATE_FILE: {
      const std::uint32_t access = rapi_read_u32(&in), share = rapi_read_u32(&in),
                          disposition = rapi_read_u32(&in), attributes = rapi_read_u32(&in);
      const std::u16string path = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::uint32_t handle = 0;
      if (!(error = h.CreateFile(s, path, access, share, disposition, attributes, handle))) out.U32(handle);
      return error;
    }
    case RAPI_OP_READ_FILE: {
      const std::uint32_t handle = rapi_read_u32(&in), count = std::min(rapi_read_u32(&in), kLargestRead);
      std::vector<std::uint8_t> data;
      if (!(error = h.ReadFile(s, handle, count, data))) out.Bytes(data.data(), data.size());
      return error;
    }
    case RAPI_OP_WRITE_FILE: {
      const std::uint32_t handle = rapi_read_u32(&in);
      std::uint32_t n = 0, written = 0;
      const std::uint8_t* data = rapi_read_bytes(&in, &n);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      if (!(error = h.WriteFile(s, handle, data, n, written))) out.U32(written);
      return error;
    }
    case RAPI_OP_CLOSE_HANDLE: return h.CloseHandle(s, rapi_read_u32(&in));
    case RAPI_OP_GET_FILE_SIZE: {
      std::uint64_t size = 0;
      if (!(error = h.GetFileSize(s, rapi_read_u32(&in), size))) {
        out.U32(static_cast<std::uint32_t>(size));
        out.U32(static_cast<std::uint32_t>(size >> 32));
      }
      return error;
    }
    case RAPI_OP_DELETE_FILE: {
      const std::u16string path = ReadStr(in);
      return in.failed ? RAPI_ERROR_INVALID_PARAMETER : h.DeleteFile(path);
    }
    case RAPI_OP_MOVE_FILE: {
      const std::u16string from = ReadStr(in), to = ReadStr(in);
      return in.failed ? RAPI_ERROR_INVALID_PARAMETER : h.MoveFile(from, to);
    }
    case RAPI_OP_COPY_FILE: {
      const std::u16string from = ReadStr(in), to = ReadStr(in);
      const bool failIfExists = rapi_read_u32(&in) != 0;
      return in.failed ? RAPI_ERROR_INVALID_PARAMETER : h.CopyFile(from, to, failIfExists);
    }
    case RAPI_OP_CREATE_DIRECTORY: {
      const std::u16string path = ReadStr(in);
      return in.failed ? RAPI_ERROR_INVALID_PARAMETER : h.CreateDirectory(path);
    }
    case RAPI_OP_REMOVE_DIRECTORY: {
      const std::u16string path = ReadStr(in);
      return in.failed ? RAPI_ERROR_INVALID_PARAMETER : h.RemoveDirectory(path);
    }
    case RAPI_OP_FIND_FIRST: {
      const std::u16string pattern = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::uint32_t handle = 0;
      FindEntry entry;
      if (!(error = h.FindFirst(s, pattern, handle, entry))) {
        out.U32(handle);
        out.Find(entry);
      }
      return error;
    }
    case RAPI_OP_FIND_NEXT: {
      FindEntry entry;
      if (!(error = h.FindNext(s, rapi_read_u32(&in), entry))) out.Find(entry);
      return error;
    }
    case RAPI_OP_FIND_CLOSE: return h.CloseHandle(s, rapi_read_u32(&in));
    case RAPI_OP_CREATE_PROCESS: {
      const std::u16string program = ReadStr(in), commandLine = ReadStr(in);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      ProcessIds ids;
      if (!(error = h.CreateProcess(s, program, commandLine, ids))) {
        out.U32(ids.process);
        out.U32(ids.thread);
        out.U32(ids.processId);
        out.U32(ids.threadId);
      }
      return error;
    }
    case RAPI_OP_POWER_STATUS: {
      const std::vector<std::uint8_t> status = h.PowerStatus();
      out.bytes.insert(out.bytes.end(), status.begin(), status.end());
      return 0;
    }
    case RAPI_OP_INVOKE: {
      const std::u16string library = ReadStr(in), function = ReadStr(in);
      std::uint32_t n = 0;
      const std::uint8_t* data = rapi_read_bytes(&in, &n);
      if (in.failed) return RAPI_ERROR_INVALID_PARAMETER;
      std::int32_t result = 0;
      std::vector<std::uint8_t> output;
      if (!(error = h.Invoke(library, function, std::vector<std::uint8_t>(data, data + n), result, output))) {
        out.U32(static_cast<std::uint32_t>(result));
        out.Bytes(output.data(), output.size());
      }
      return error;
    }
    case RAPI_OP_REG_OPEN_KEY:
    case RAPI_OP_REG_CREATE_KEY:
    case RAPI_OP_REG_QUERY_VALUE:
    case RAPI_OP_REG_SET_VALUE:
    case RAPI_OP_REG_CLOSE_KEY: return DispatchRegistry(h, s, op, in, out);
    default: return RAPI_ERROR_NOT_SUPPORTED;
  }
}

}  // namespace

const char* RemoteCallName(std::uint32_t op) {
  for (const CallName& c : kCallNames)
    if (c.op == op) return c.name;
  return "";
}

bool IsRemoteCallName(const std::string& name) {
  for (const CallName& c : kCallNames)
    if (name == c.name) return true;
  return false;
}

bool RapiService::Listen(std::uint16_t port, std::string& error) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    error = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return true;
}

void RapiService::Serve() {
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void RapiService::Stop() {
  if (listenFd_ < 0) return;
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);  // wakes accept()
  if (acceptThread_.joinable()) acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
  std::list<Worker> workers;
  {
    std::lock_guard<std::mutex> guard(connectionsLock_);
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    workers.swap(workers_);
  }
  for (Worker& w : workers) w.thread.join();
}

void RapiService::AcceptLoop() {
  while (!stopping_) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard<std::mutex> guard(connectionsLock_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (*it->done) {
        it->thread.join();
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
    connections_.push_back(fd);
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([this, fd, done] {
                          ServeConnection(fd);
                          *done = true;
                        }),
                        done});
  }
}

void RapiService::ServeConnection(int fd) {
  Session session;
  std::vector<std::uint8_t> frame;
  for (;;) {
    std::uint8_t word[4];
    if (!ReadAll(fd, word, 4)) break;
    const std::uint32_t length = rapi_get_u32(word);
    if (length < 4 || length > RAPI_MAX_FRAME) break;  // not our protocol: drop the client
    frame.resize(length);
    if (!ReadAll(fd, frame.data(), length)) break;
    const std::uint32_t op = rapi_get_u32(frame.data());
    RapiReader in;
    rapi_reader_init(&in, frame.data() + 4, length - 4);
    Out out;
    std::uint32_t error = 0;
    {
      std::lock_guard<std::mutex> guard(handheld_.Lock());
      const HandheldState state = handheld_.State();
      // A handheld outside Windows CE does not speak the remote API.
      if (state.mode != Mode::WinCE || state.faults.noAnswer) continue;
      error = Dispatch(handheld_, session, state, op, in, out);
    }
    if (error) out.bytes.clear();
    std::vector<std::uint8_t> response(12);
    rapi_put_u32(response.data(), static_cast<std::uint32_t>(8 + out.bytes.size()));
    rapi_put_u32(response.data() + 4, op);
    rapi_put_u32(response.data() + 8, error);
    response.insert(response.end(), out.bytes.begin(), out.bytes.end());
    if (!WriteAll(fd, response.data(), response.size())) break;
  }
  {
    std::lock_guard<std::mutex> guard(handheld_.Lock());
    handheld_.EndSession(session);
  }
  std::lock_guard<std::mutex> guard(connectionsLock_);
  connections_.erase(std::remove(connections_.begin(), connections_.end(), fd), connections_.end());
  ::close(fd);
}

}  // namespace handheld
