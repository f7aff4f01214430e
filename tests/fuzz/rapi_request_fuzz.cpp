// The simulated handheld's remote-API service fed arbitrary request frames
// over a real loopback connection, against a scratch handheld that is put
// back to the same files before every input.
//
// Input: a sequence of requests, each
//   u8 op, u16 payload length (little-endian), payload
// sent as one frame each with its length word filled in. An input whose first
// byte is 0xFF is sent as it is instead (raw frames: bad lengths too).
//
// Checks besides the sanitizers:
//   - one answer per whole request with a length the service accepts, each
//     echoing its request's operation; a failed call carries no payload; a
//     successful one has the payload its operation promises (sizes, counts,
//     string lengths, handles neither 0 nor 0xFFFFFFFF);
//   - a registry value read after it was set through the same key handle
//     has the type and bytes that were set;
//   - the time zone the last accepted "SetSysTime" call set is what the
//     handheld's state holds afterwards (bias, names, block);
//   - no request changes the handheld's mode or faults.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sim/handheld/device_fs.h"
#include "sim/handheld/handheld.h"
#include "sim/handheld/handheld_state.h"
#include "sim/handheld/programs.h"
#include "sim/handheld/rapi_service.h"
#include "wire/rapi_protocol.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kRawInput = 0xFF;
constexpr std::uint32_t kRequestHeader = 8;   // length word, op
constexpr std::uint32_t kResponseHeader = 12; // length word, op, error
constexpr std::uint32_t kFindFixedBytes = 12; // attributes, size high, size low
constexpr std::uint32_t kCreateProcessBytes = 16;
constexpr std::uint32_t kFileSizeBytes = 8;
constexpr std::uint32_t kWord = 4;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "remote-API service: %s\n", what.c_str());
  std::abort();
}

// --- the scratch handheld -------------------------------------------------------

struct Bench {
  std::string base;      // scratch folder of this process
  std::string pristine;  // the handheld as created
  std::string live;      // the copy each input runs against
};

// The programs and library the wizard puts on a handheld, so that requests
// can start and invoke them.
void AddWizardFiles(const std::string& folder) {
  // Whole copies: a damaged one would stop every start and call at the check.
  std::ofstream(folder + "/fs/Temp/GetType.exe") << handheld::ProgramFileText("GetType.exe");
  std::ofstream(folder + "/fs/Windows/SetSystemTime.dll") << handheld::ProgramFileText("SetSystemTime.dll");
}

Bench& TheBench() {
  static Bench bench = [] {
    Bench b;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rapi-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot make a scratch folder");
    b.base = pattern;
    b.pristine = b.base + "/pristine";
    b.live = b.base + "/live";
    handheld::CreateOptions options;
    options.identity = {"LUMO-5800", "1.14.00", "ENG"};
    options.flashMb = 1;
    options.romMb = 1;
    if (std::string problem = handheld::CreateHandheld(b.pristine, options); !problem.empty()) Fail(problem);
    AddWizardFiles(b.pristine);
    static const std::string* scratch = new std::string(b.base);  // still there at exit
    std::atexit([] { std::error_code ec; fs::remove_all(*scratch, ec); });
    return b;
  }();
  return bench;
}

// The remote API never writes the flash: the copy shares the pristine one.
std::error_code CopyPristineHandheld(const Bench& b) {
  std::error_code ec;
  fs::remove_all(b.live, ec);
  fs::create_directory(b.live, ec);
  for (const fs::directory_entry& entry : fs::directory_iterator(b.pristine, ec)) {
    fs::path target = fs::path(b.live) / entry.path().filename();
    if (entry.path().filename() == "flash.bin") {
      fs::create_symlink(entry.path(), target, ec);
    } else {
      fs::copy(entry.path(), target, fs::copy_options::recursive, ec);
    }
    if (ec) break;
  }
  return ec;
}

// libFuzzer's timeout timer raises SIGALRM without SA_RESTART, and a copy that
// it interrupts fails with EINTR. The copy starts afresh then, as any
// interrupted system call is restarted; the timer fires only every few
// seconds, so a handful of tries always suffices.
constexpr int kCopyTries = 8;

void ResetLiveHandheld(const Bench& b) {
  std::error_code ec;
  for (int tries = 0; tries < kCopyTries; ++tries) {
    ec = CopyPristineHandheld(b);
    if (ec != std::errc::interrupted) break;
  }
  if (ec) Fail("cannot copy the scratch handheld: " + ec.message());
}

// --- frames ---------------------------------------------------------------------

struct Request {
  std::uint32_t op;
  Bytes payload;
};

// The input's requests; `raw` gets the bytes actually sent.
std::vector<Request> SplitRequests(const std::uint8_t* data, std::size_t size, Bytes& raw) {
  std::vector<Request> requests;
  if (size > 0 && data[0] == kRawInput) {
    raw.assign(data + 1, data + size);
    // What the service should see: frames up to the first length it refuses.
    std::size_t at = 0;
    while (raw.size() - at >= kWord) {
      std::uint32_t length = rapi_get_u32(raw.data() + at);
      if (length < kWord || length > RAPI_MAX_FRAME || raw.size() - at - kWord < length) break;
      const std::uint8_t* frame = raw.data() + at + kWord;
      requests.push_back({rapi_get_u32(frame), Bytes(frame + kWord, frame + length)});
      at += kWord + length;
    }
    return requests;
  }
  std::size_t at = 0;
  while (size - at >= 3) {
    std::uint32_t op = data[at];
    std::size_t length = data[at + 1] | (data[at + 2] << 8);
    at += 3;
    if (length > size - at) length = size - at;
    requests.push_back({op, Bytes(data + at, data + at + length)});
    at += length;
  }
  for (const Request& r : requests) {
    std::uint8_t word[kWord];
    rapi_put_u32(word, static_cast<std::uint32_t>(kWord + r.payload.size()));
    raw.insert(raw.end(), word, word + kWord);
    rapi_put_u32(word, r.op);
    raw.insert(raw.end(), word, word + kWord);
    raw.insert(raw.end(), r.payload.begin(), r.payload.end());
  }
  return requests;
}

// Sends everything, closes the sending side and collects what comes back
// until the service closes the connection.
Bytes Exchange(std::uint16_t port, const Bytes& raw) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("no socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // An interrupted connect goes on by itself; asking again tells when it is done.
  while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EISCONN) {
    if (errno != EINTR && errno != EALREADY) Fail("cannot connect");
  }
  std::size_t sent = 0;
  while (sent < raw.size()) {
    ssize_t n = ::send(fd, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;  // libFuzzer's timer signal
    if (n <= 0) break;                      // the service dropped the connection
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  Bytes answers;
  std::uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    answers.insert(answers.end(), chunk, chunk + n);
  }
  ::close(fd);
  return answers;
}

// --- the answers' shapes ---------------------------------------------------------

struct Reader {
  const Bytes& bytes;
  std::size_t at;
  std::size_t end;
  bool ok = true;
  std::uint32_t Word() {
    if (end - at < kWord) {
      ok = false;
      return 0;
    }
    std::uint32_t v = rapi_get_u32(bytes.data() + at);
    at += kWord;
    return v;
  }
  Bytes Data() {
    std::uint32_t n = Word();
    if (!ok || end - at < n) {
      ok = false;
      return {};
    }
    Bytes d(bytes.begin() + at, bytes.begin() + at + n);
    at += n;
    return d;
  }
  void Find() {
    for (std::uint32_t i = 0; i < kFindFixedBytes / kWord; ++i) Word();
    std::uint32_t units = Word();
    if (!ok || units >= RAPI_MAX_PATH || end - at < 2u * units) ok = false;
    else at += 2u * units;
  }
  void Handle() {
    std::uint32_t h = Word();
    if (h == 0 || h == 0xFFFFFFFFu) ok = false;
  }
};

// Checks a successful answer's payload against its operation.
bool PayloadFits(std::uint32_t op, const Request& request, Reader& r) {
  switch (op) {
    case RAPI_OP_HELLO: r.Word(); break;
    case RAPI_OP_CREATE_FILE:
    case RAPI_OP_REG_OPEN_KEY: r.Handle(); break;
    case RAPI_OP_READ_FILE: {
      Bytes asked = request.payload;
      std::uint32_t count = asked.size() >= 2 * kWord ? rapi_get_u32(asked.data() + kWord) : 0;
      if (r.Data().size() > count) return false;
      break;
    }
    case RAPI_OP_WRITE_FILE: r.Word(); break;
    case RAPI_OP_GET_FILE_SIZE: r.at += kFileSizeBytes; break;
    case RAPI_OP_FIND_FIRST: r.Handle(); r.Find(); break;
    case RAPI_OP_FIND_NEXT: r.Find(); break;
    case RAPI_OP_CREATE_PROCESS:
      r.Handle();
      r.Handle();
      r.at += kCreateProcessBytes - 2 * kWord;
      break;
    case RAPI_OP_POWER_STATUS: r.at += RAPI_POWER_STATUS_SIZE; break;
    case RAPI_OP_INVOKE: r.Word(); r.Data(); break;
    case RAPI_OP_REG_CREATE_KEY: {
      r.Handle();
      std::uint32_t disposition = r.Word();
      if (disposition != 1 && disposition != 2) return false;
      break;
    }
    case RAPI_OP_REG_QUERY_VALUE: r.Word(); r.Data(); break;
    case RAPI_OP_CLOSE_HANDLE: case RAPI_OP_DELETE_FILE: case RAPI_OP_MOVE_FILE: case RAPI_OP_COPY_FILE:
    case RAPI_OP_CREATE_DIRECTORY: case RAPI_OP_REMOVE_DIRECTORY: case RAPI_OP_FIND_CLOSE:
    case RAPI_OP_REG_SET_VALUE: case RAPI_OP_REG_CLOSE_KEY: break;
    default: return false;  // an unknown operation never succeeds
  }
  return r.ok && r.at == r.end;
}

// --- registry values set and read back ---------------------------------------------

// A value name as the handheld compares it: ASCII letters without case.
std::u16string FoldedName(RapiReader& in) {
  std::uint16_t units[RAPI_MAX_PATH];
  std::uint32_t n = rapi_read_str(&in, units, RAPI_MAX_PATH);
  std::u16string name(units, units + n);
  for (char16_t& c : name)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return name;
}

struct SetValue {
  std::uint32_t type;
  Bytes data;
};

class RegistryModel {
 public:
  // Called for every answered request, in order.
  void Answered(const Request& request, std::uint32_t error, Reader answer) {
    RapiReader in;
    rapi_reader_init(&in, request.payload.data(), static_cast<std::uint32_t>(request.payload.size()));
    std::uint32_t key = rapi_read_u32(&in);
    if (request.op == RAPI_OP_REG_SET_VALUE && error == 0) {
      std::u16string name = FoldedName(in);
      std::uint32_t type = rapi_read_u32(&in), n = 0;
      const std::uint8_t* data = rapi_read_bytes(&in, &n);
      // Another handle may name the same key: only this handle's latest set of
      // this name is known for sure.
      for (auto it = values_.begin(); it != values_.end();)
        it = it->first.second == name ? values_.erase(it) : std::next(it);
      values_[{key, name}] = SetValue{type, Bytes(data, data + n)};
    } else if (request.op == RAPI_OP_REG_QUERY_VALUE && error == 0) {
      std::u16string name = FoldedName(in);
      auto known = values_.find({key, name});
      if (known == values_.end()) return;
      std::uint32_t type = answer.Word();
      Bytes data = answer.Data();
      if (type != known->second.type || data != known->second.data)
        Fail("a registry value reads back other than it was set");
    } else if (request.op == RAPI_OP_REG_CLOSE_KEY) {
      for (auto it = values_.begin(); it != values_.end();)
        it = it->first.first == key ? values_.erase(it) : std::next(it);
    }
  }

 private:
  std::map<std::pair<std::uint32_t, std::u16string>, SetValue> values_;
};

// The time zone of a "SetSysTime" block (TIME_ZONE_INFORMATION first):
// the bias, the two names of up to 32 units each, the whole block.
struct TimeZone {
  std::int32_t bias = 0;
  std::string standardName, daylightName;
  Bytes block;
};

constexpr std::size_t kStandardNameAt = 4, kDaylightNameAt = 88, kZoneNameUnits = 32;

std::string ZoneName(const Bytes& input, std::size_t at) {
  std::u16string name;
  for (std::size_t i = 0; i < kZoneNameUnits; ++i) {
    char16_t unit = static_cast<char16_t>(input[at + 2 * i] | (input[at + 2 * i + 1] << 8));
    if (unit == 0) break;
    name += unit;
  }
  return handheld::Utf16ToUtf8(name);
}

// The zone an answered invoke has set: the only function the handheld can
// invoke here is SetSysTime, which answers S_OK with no output only when it
// took the block.
bool SetTimeZone(const Request& request, std::uint32_t error, Reader answer, TimeZone& zone) {
  if (request.op != RAPI_OP_INVOKE || error != 0 || answer.Word() != RAPI_S_OK || !answer.Data().empty())
    return false;
  RapiReader in;
  rapi_reader_init(&in, request.payload.data(), static_cast<std::uint32_t>(request.payload.size()));
  std::uint16_t unused[RAPI_MAX_PATH];
  rapi_read_str(&in, unused, RAPI_MAX_PATH);
  rapi_read_str(&in, unused, RAPI_MAX_PATH);
  std::uint32_t n = 0;
  const std::uint8_t* data = rapi_read_bytes(&in, &n);
  if (in.failed || n != handheld::kClockBlockSize) Fail("an invoke that is no clock block was taken");
  Bytes input(data, data + n);
  zone.bias = static_cast<std::int32_t>(rapi_get_u32(data));
  zone.standardName = ZoneName(input, kStandardNameAt);
  zone.daylightName = ZoneName(input, kDaylightNameAt);
  zone.block.assign(data, data + handheld::kTimeZoneInfoSize);
  return true;
}

// Returns whether a time zone was set, and the last one in `zone`.
bool CheckAnswers(const std::vector<Request>& requests, const Bytes& answers, TimeZone& zone) {
  bool zoneSet = false;
  RegistryModel registry;
  std::size_t at = 0;
  for (const Request& request : requests) {
    if (answers.size() - at < kResponseHeader) Fail("a request went unanswered");
    std::uint32_t length = rapi_get_u32(answers.data() + at);
    std::uint32_t op = rapi_get_u32(answers.data() + at + kWord);
    std::uint32_t error = rapi_get_u32(answers.data() + at + 2 * kWord);
    if (length < kRequestHeader || answers.size() - at - kWord < length) Fail("an answer's length is wrong");
    if (op != request.op) Fail("an answer names another operation");
    Reader payload{answers, at + kResponseHeader, at + kWord + length};
    if (error != 0 && payload.end != payload.at) Fail("a failed call carries a payload");
    if (error == 0 && !PayloadFits(op, request, payload))
      Fail("the payload of a successful operation " + std::to_string(op) + " has the wrong shape");
    registry.Answered(request, error, Reader{answers, at + kResponseHeader, at + kWord + length});
    zoneSet |= SetTimeZone(request, error, Reader{answers, at + kResponseHeader, at + kWord + length}, zone);
    at += kWord + length;
  }
  if (at != answers.size()) Fail("answers beyond the requests");
  return zoneSet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bench& bench = TheBench();
  ResetLiveHandheld(bench);
  Bytes raw;
  std::vector<Request> requests = SplitRequests(data, size, raw);

  Bytes answers;
  {
    handheld::Handheld handheld(bench.live);
    handheld::RapiService service(handheld);
    std::string error;
    if (!service.Start(0, error)) Fail("the service does not start: " + error);
    answers = Exchange(service.Port(), raw);
  }
  TimeZone zone;
  bool zoneSet = CheckAnswers(requests, answers, zone);

  handheld::HandheldState state;
  if (!handheld::LoadState(bench.live, state)) Fail("state.txt is gone");
  if (zoneSet && (state.tzBias != zone.bias || state.tzStandardName != zone.standardName ||
                  state.tzDaylightName != zone.daylightName || state.tzBlock != zone.block))
    Fail("the handheld's time zone is not the one set");
  const handheld::Faults none;
  if (state.mode != handheld::Mode::WinCE || !state.faults.failCalls.empty() || !state.faults.noStart.empty() ||
      state.faults.probeSilent != none.probeSilent || state.faults.noAnswer != none.noAnswer ||
      state.faults.initFails != none.initFails)
    Fail("a request changed the handheld's mode or faults");
  return 0;
}
