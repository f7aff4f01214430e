#include "handheld.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "devflash_program.h"
#include "distribution.h"
#include "programs.h"
#include "violations.h"
#include "wire/rapi_protocol.h"

namespace fs = std::filesystem;

namespace handheld {
namespace {

constexpr std::uint32_t kMb = 1024 * 1024;
constexpr std::uint32_t kMaxFlashMb = 255;  // type.dat holds the size in one byte
// System modules every handheld has in \Windows; module lists never name them.
constexpr const char* kSystemModules[] = {"coredll.dll", "aygshell.dll", "CreateAssetFile.exe"};

std::int64_t HostUtcMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool WriteHostFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool WriteText(const std::string& path, const std::string& text) {
  return WriteHostFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string SeedRegistry(const RomIdentity& identity) {
  return "REGEDIT4\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Ident]\r\n\"Name\"=\"Pocket_PC\"\r\n\"Desc\"=\"Lumo Pocket PC\"\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Platform]\r\n\"Model\"=\"" + identity.modelId + "\"\r\n"
         "\"OEMInfo\"=\"Lumo Pocket PC " + identity.modelId.substr(identity.modelId.size() > 4 ? identity.modelId.size() - 4 : 0) +
         "\"\r\n\r\n";
}

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  rapi_put_u32(out.data() + at, v);
}

// A program the distribution carries runs only from an intact copy of it;
// the handheld's own programs (\Windows) are not staged and always run.
bool StagedProgramIntact(const std::string& hostPath, const std::string& lowerName) {
  for (const std::string& program : DistributedPrograms()) {
    if (LowerAscii(program) != lowerName) continue;
    std::ifstream in(hostPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes == DistributedProgramText(program);
  }
  return true;
}

}  // namespace

std::vector<std::string> CreateOptions::DefaultModules() {
  return {"LumoToday.dll", "LumoKeys.dll", "LumoBattery.dll"};
}

std::string CreateHandheld(const std::string& folder, const CreateOptions& options) {
  if (std::string problem = CheckIdentity(options.identity); !problem.empty()) return problem;
  if (options.flashMb == 0 || options.flashMb > kMaxFlashMb) return "the flash size must be 1 to 255 MB";
  if (options.romMb == 0 || options.romMb > options.flashMb) return "the ROM must fit into the flash";
  if (std::string problem = FlashBoardProblem(options.identity.modelId, std::uint64_t{options.flashMb} * kMb);
      !problem.empty())
    return problem;
  std::error_code ec;
  if (fs::exists(StatePath(folder), ec) && !options.replace)
    return "a handheld already exists in " + folder + " (use --replace to overwrite it)";
  fs::create_directories(folder, ec);
  if (options.replace) {
    fs::remove_all(folder + "/fs", ec);
    fs::remove(folder + "/attributes.txt", ec);
  }

  std::vector<std::uint8_t> flash = MakeRomPayload(options.identity, options.romMb * kMb);
  flash.resize(std::size_t{options.flashMb} * kMb, 0xFF);  // the rest of the flash is erased
  if (!WriteHostFile(folder + "/flash.bin", flash)) return "cannot write " + folder + "/flash.bin";

  DeviceFs files(folder);
  if (!files.CreateSkeleton()) return "cannot create the file tree in " + folder + "/fs";
  for (const char* module : kSystemModules)
    WriteText(files.Root() + "/Windows/" + module, std::string("handheld-sim system module ") + module + "\n");
  for (const std::string& module : options.modules)
    WriteText(files.Root() + "/Windows/" + module, "handheld-sim module " + module + "\n");
  if (!WriteText(folder + "/registry.reg", SeedRegistry(options.identity))) return "cannot write the registry";

  HandheldState state;
  state.flashMb = options.flashMb;
  state.clockOffsetMs = 0;
  if (!SaveState(folder, state)) return "cannot write " + StatePath(folder);
  return {};
}

Handheld::Handheld(std::string folder) : folder_(std::move(folder)), fs_(folder_) {}

Handheld::~Handheld() { StopProgramWork(*this); }

HandheldState Handheld::State() const {
  HandheldState state;
  LoadState(folder_, state);
  return state;
}

bool Handheld::ChangeState(const std::function<void(HandheldState&)>& change) {
  return UpdateState(folder_, change);
}

bool Handheld::Identity(RomIdentity& identity) const { return ReadIdentityFromFile(FlashPath(), identity); }

std::int64_t Handheld::ClockUtcMs() const { return HostUtcMs() + State().clockOffsetMs; }

bool Handheld::SharingAllows(const std::string& key, std::uint32_t access, std::uint32_t share) const {
  for (const Session* s : sessions_)
    for (const auto& [id, o] : s->objects) {
      if (o.kind != Session::Object::File || o.key != key) continue;
      if ((access & kGenericRead) && !(o.share & kShareRead)) return false;
      if ((access & kGenericWrite) && !(o.share & kShareWrite)) return false;
      if ((o.access & kGenericRead) && !(share & kShareRead)) return false;
      if ((o.access & kGenericWrite) && !(share & kShareWrite)) return false;
    }
  return true;
}

bool Handheld::InUse(const std::string& key) const {
  for (const Session* s : sessions_)
    for (const auto& [id, o] : s->objects)
      if (o.kind == Session::Object::File && o.key == key) return true;
  return false;
}

std::uint32_t Handheld::CreateFile(Session& s, const std::u16string& path, std::uint32_t access,
                                   std::uint32_t share, std::uint32_t disposition, std::uint32_t attributes,
                                   std::uint32_t& handle) {
  ResolvedPath p;
  if (std::uint32_t error = fs_.Resolve(path, p)) return error;
  if (p.key.empty() || p.isDirectory) return RAPI_ERROR_ACCESS_DENIED;
  int flags = O_CLOEXEC;
  switch (disposition) {
    case kCreateNew:
      if (p.exists) return RAPI_ERROR_FILE_EXISTS;
      flags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenExisting:
      if (!p.exists) return RAPI_ERROR_FILE_NOT_FOUND;
      break;
    case kOpenAlways: flags |= O_CREAT; break;
    case kTruncateExisting:
      if (!p.exists) return RAPI_ERROR_FILE_NOT_FOUND;
      flags |= O_TRUNC;
      break;
    default: return RAPI_ERROR_INVALID_PARAMETER;
  }
  if (!SharingAllows(p.key, access, share)) return RAPI_ERROR_SHARING_VIOLATION;
  // The host file is always opened for reading and writing; the handheld's
  // access rights are checked on each call.
  const int fd = ::open(p.host.c_str(), flags | O_RDWR, 0644);
  if (fd < 0) return RAPI_ERROR_ACCESS_DENIED;
  const bool created = !p.exists || disposition == kCreateAlways;
  if (created) fs_.SetAttributes(p, attributes);
  Session::Object o;
  o.kind = Session::Object::File;
  o.fd = fd;
  o.key = p.key;
  o.access = access;
  o.share = share;
  handle = s.nextHandle++;
  s.objects[handle] = o;
  if (std::find(sessions_.begin(), sessions_.end(), &s) == sessions_.end()) sessions_.push_back(&s);
  return 0;
}

std::uint32_t Handheld::ReadFile(Session& s, std::uint32_t handle, std::uint32_t count,
                                 std::vector<std::uint8_t>& data) {
  auto it = s.objects.find(handle);
  if (it == s.objects.end() || it->second.kind != Session::Object::File) return RAPI_ERROR_INVALID_HANDLE;
  if (!(it->second.access & kGenericRead)) return RAPI_ERROR_ACCESS_DENIED;
  data.resize(count);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t n = ::read(it->second.fd, data.data() + total, count - total);
    if (n < 0) return RAPI_ERROR_GEN_FAILURE;
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  data.resize(total);
  return 0;
}

std::uint32_t Handheld::WriteFile(Session& s, std::uint32_t handle, const std::uint8_t* data, std::uint32_t count,
                                  std::uint32_t& written) {
  written = 0;
  auto it = s.objects.find(handle);
  if (it == s.objects.end() || it->second.kind != Session::Object::File) return RAPI_ERROR_INVALID_HANDLE;
  if (!(it->second.access & kGenericWrite)) return RAPI_ERROR_ACCESS_DENIED;
  while (written < count) {
    const ssize_t n = ::write(it->second.fd, data + written, count - written);
    if (n <= 0) return RAPI_ERROR_GEN_FAILURE;
    written += static_cast<std::uint32_t>(n);
  }
  return 0;
}

std::uint32_t Handheld::CloseHandle(Session& s, std::uint32_t handle) {
  auto it = s.objects.find(handle);
  if (it == s.objects.end()) return RAPI_ERROR_INVALID_HANDLE;
  if (it->second.fd >= 0) ::close(it->second.fd);
  s.objects.erase(it);
  return 0;
}

std::uint32_t Handheld::GetFileSize(Session& s, std::uint32_t handle, std::uint64_t& size) {
  auto it = s.objects.find(handle);
  if (it == s.objects.end() || it->second.kind != Session::Object::File) return RAPI_ERROR_INVALID_HANDLE;
  struct stat st {};
  if (::fstat(it->second.fd, &st) != 0) return RAPI_ERROR_GEN_FAILURE;
  size = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

std::uint32_t Handheld::DeleteFile(const std::u16string& path) {
  ResolvedPath p;
  if (std::uint32_t error = fs_.Resolve(path, p)) return error;
  if (!p.exists) return RAPI_ERROR_FILE_NOT_FOUND;
  if (p.isDirectory) return RAPI_ERROR_ACCESS_DENIED;
  if (InUse(p.key)) return RAPI_ERROR_SHARING_VIOLATION;
  if (::unlink(p.host.c_str()) != 0) return RAPI_ERROR_ACCESS_DENIED;
  fs_.ForgetAttributes(p);
  return 0;
}

std::uint32_t Handheld::MoveFile(const std::u16string& from, const std::u16string& to) {
  ResolvedPath a, b;
  if (std::uint32_t error = fs_.Resolve(from, a)) return error;
  if (!a.exists) return RAPI_ERROR_FILE_NOT_FOUND;
  if (std::uint32_t error = fs_.Resolve(to, b)) return error;
  if (b.exists && b.key != a.key) return RAPI_ERROR_ALREADY_EXISTS;
  if (a.key.empty() || InUse(a.key)) return RAPI_ERROR_SHARING_VIOLATION;
  if (::rename(a.host.c_str(), b.host.c_str()) != 0) return RAPI_ERROR_ACCESS_DENIED;
  fs_.MoveAttributes(a, b);
  return 0;
}

std::uint32_t Handheld::CopyFile(const std::u16string& from, const std::u16string& to, bool failIfExists) {
  ResolvedPath a, b;
  if (std::uint32_t error = fs_.Resolve(from, a)) return error;
  if (!a.exists) return RAPI_ERROR_FILE_NOT_FOUND;
  if (a.isDirectory) return RAPI_ERROR_ACCESS_DENIED;
  if (std::uint32_t error = fs_.Resolve(to, b)) return error;
  if (b.exists && failIfExists) return RAPI_ERROR_FILE_EXISTS;
  if (b.isDirectory || InUse(b.key)) return RAPI_ERROR_ACCESS_DENIED;
  std::error_code ec;
  fs::copy_file(a.host, b.host, fs::copy_options::overwrite_existing, ec);
  if (ec) return RAPI_ERROR_ACCESS_DENIED;
  fs_.SetAttributes(b, fs_.Attributes(a));
  return 0;
}

std::uint32_t Handheld::RemoveDirectory(const std::u16string& path) { return fs_.RemoveDirectory(path); }

std::uint32_t Handheld::FindFirst(Session& s, const std::u16string& pattern, std::uint32_t& handle,
                                  FindEntry& entry) {
  Session::Object o;
  o.kind = Session::Object::Search;
  if (std::uint32_t error = fs_.Find(pattern, o.entries)) return error;
  entry = o.entries[0];
  o.next = 1;
  handle = s.nextHandle++;
  s.objects[handle] = std::move(o);
  return 0;
}

std::uint32_t Handheld::FindNext(Session& s, std::uint32_t handle, FindEntry& entry) {
  auto it = s.objects.find(handle);
  if (it == s.objects.end() || it->second.kind != Session::Object::Search) return RAPI_ERROR_INVALID_HANDLE;
  Session::Object& o = it->second;
  if (o.next >= o.entries.size()) return RAPI_ERROR_NO_MORE_FILES;
  entry = o.entries[o.next++];
  return 0;
}

std::uint32_t Handheld::CreateProcess(Session& s, const std::u16string& program, const std::u16string& commandLine,
                                      ProcessIds& ids) {
  ResolvedPath p;
  if (std::uint32_t error = fs_.Resolve(program, p)) return error;
  if (!p.exists || p.isDirectory) return RAPI_ERROR_FILE_NOT_FOUND;
  const std::string name = LowerAscii(fs::path(p.host).filename().string());
  if (State().faults.noStart.count(name)) return RAPI_ERROR_BAD_EXE_FORMAT;
  ProgramHandler handler = FindProgram(name);
  // A file that is not a known program does not start, like a damaged .exe.
  if (!handler) return RAPI_ERROR_BAD_EXE_FORMAT;
  if (!StagedProgramIntact(p.host, name)) {
    RecordViolation(folder_, "CeCreateProcess: " + Utf16ToUtf8(program) +
                                 " is not the distribution's file (truncated, empty or damaged)");
    return RAPI_ERROR_BAD_EXE_FORMAT;
  }
  if (std::uint32_t error = handler(ProgramStart{*this, program, commandLine})) return error;
  static std::uint32_t nextId = 0x1000;  // process and thread ids, for the record only
  ids.processId = nextId++;
  ids.threadId = nextId++;
  Session::Object o;
  o.kind = Session::Object::Process;
  ids.process = s.nextHandle++;
  s.objects[ids.process] = o;
  ids.thread = s.nextHandle++;
  s.objects[ids.thread] = o;
  return 0;
}

std::vector<std::uint8_t> Handheld::PowerStatus() const {
  // SYSTEM_POWER_STATUS_EX: flags as Windows CE reports them.
  constexpr std::uint8_t kBatteryHigh = 1, kBatteryLow = 2, kBatteryCharging = 8;
  constexpr std::uint32_t kUnknownTime = 0xFFFFFFFFu;
  const HandheldState state = State();
  std::vector<std::uint8_t> out(RAPI_POWER_STATUS_SIZE, 0);
  out[0] = state.onAdapter ? 1 : 0;  // ACLineStatus
  out[1] = static_cast<std::uint8_t>((state.batteryPercent >= 33 ? kBatteryHigh : kBatteryLow) |
                                     (state.onAdapter ? kBatteryCharging : 0));
  out[2] = static_cast<std::uint8_t>(std::min<std::uint32_t>(state.batteryPercent, 100));
  PutU32(out, 4, kUnknownTime);
  PutU32(out, 8, kUnknownTime);
  out[13] = kBatteryHigh;  // backup battery
  out[14] = 100;
  PutU32(out, 16, kUnknownTime);
  PutU32(out, 20, kUnknownTime);
  return out;
}

std::uint32_t Handheld::Invoke(const std::u16string& library, const std::u16string& function,
                               const std::vector<std::uint8_t>& input, std::int32_t& result,
                               std::vector<std::uint8_t>& output) {
  constexpr std::int32_t kModuleNotFound = static_cast<std::int32_t>(0x8007007Eu);  // HRESULT of error 126
  constexpr std::int32_t kBadLibraryFormat = static_cast<std::int32_t>(0x800700C1u);  // HRESULT of error 193
  output.clear();
  ResolvedPath p;
  if (fs_.Resolve(u"\\Windows\\" + library, p) != 0 || !p.exists) {
    result = kModuleNotFound;
    return 0;
  }
  const std::string lowerLibrary = LowerAscii(Utf16ToUtf8(library));
  InvokeHandler handler = FindInvoke(lowerLibrary, Utf16ToUtf8(function));
  if (!handler) {
    result = kModuleNotFound;
    return 0;
  }
  // A staged library is loaded only from an intact copy, as a staged program
  // is started only from one.
  if (!StagedProgramIntact(p.host, lowerLibrary)) {
    RecordViolation(folder_, "CeRapiInvoke: \\Windows\\" + Utf16ToUtf8(library) +
                                 " is not the distribution's file (truncated, empty or damaged)");
    result = kBadLibraryFormat;
    return 0;
  }
  result = handler(*this, input, output);
  return 0;
}

void Handheld::EndSession(Session& s) {
  for (auto& [id, o] : s.objects)
    if (o.fd >= 0) ::close(o.fd);
  s.objects.clear();
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &s), sessions_.end());
}

bool Handheld::WriteDeviceFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
  ResolvedPath p;
  if (fs_.Resolve(path, p) != 0 || p.isDirectory || InUse(p.key)) return false;
  if (!WriteHostFile(p.host, bytes)) return false;
  if (!p.exists) fs_.SetAttributes(p, kAttrNormal);
  return true;
}

bool Handheld::ReadDeviceFile(const std::u16string& path, std::vector<std::uint8_t>& bytes) {
  ResolvedPath p;
  if (fs_.Resolve(path, p) != 0 || !p.exists || p.isDirectory) return false;
  std::ifstream in(p.host, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

std::uint32_t Handheld::AppendDeviceFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes,
                                         bool create) {
  ResolvedPath p;
  if (std::uint32_t error = fs_.Resolve(path, p)) return error;
  if (p.isDirectory) return RAPI_ERROR_ACCESS_DENIED;
  if (create && p.exists) return RAPI_ERROR_FILE_EXISTS;
  if (!create && !p.exists) return RAPI_ERROR_FILE_NOT_FOUND;
  // The program asks for write access; an open reader that shares only
  // reading keeps it out, as on the handheld.
  if (!SharingAllows(p.key, kGenericWrite, kShareRead)) return RAPI_ERROR_SHARING_VIOLATION;
  const int fd = ::open(p.host.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0644);
  if (fd < 0) return RAPI_ERROR_ACCESS_DENIED;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (create) fs_.SetAttributes(p, kAttrNormal);
  return done == bytes.size() ? 0 : RAPI_ERROR_GEN_FAILURE;
}

bool Handheld::DeviceFileExists(const std::u16string& path) const {
  ResolvedPath p;
  return fs_.Resolve(path, p) == 0 && p.exists && !p.isDirectory;
}

}  // namespace handheld
