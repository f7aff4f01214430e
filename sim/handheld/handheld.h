// A simulated Lumo handheld on its state folder:
//   flash.bin       the flash contents, byte for byte from flash address 0
//   fs/             the file tree (see device_fs.h)
//   attributes.txt  file attributes the host cannot hold
//   registry.reg    the handheld's registry (REGEDIT4 text)
//   state.txt       mode, power, clock, time zone, faults (see handheld_state.h)
//   daemon.pid, daemon.port   written by a running daemon
//
// The remote calls below take the Win32 arguments and return 0 or a Win32
// error code. They are not thread-safe: the remote-API service holds Lock()
// around each request, and so must any thread a program handler starts.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_fs.h"
#include "handheld_state.h"
#include "rom_image.h"

namespace handheld {

constexpr std::uint32_t kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u;
constexpr std::uint32_t kShareRead = 1, kShareWrite = 2;
constexpr std::uint32_t kCreateNew = 1, kCreateAlways = 2, kOpenExisting = 3, kOpenAlways = 4,
                        kTruncateExisting = 5;

struct CreateOptions {
  RomIdentity identity;
  std::uint32_t flashMb = 32;  // flash size; GetType.exe reports it
  std::uint32_t romMb = 2;     // size of the generated ROM at the start of the flash
  // Modules in \Windows besides the system ones; a distribution's module.dat
  // names them.
  std::vector<std::string> modules = DefaultModules();
  bool replace = false;        // overwrite an existing handheld

  static std::vector<std::string> DefaultModules();
};

// Creates a handheld in `folder`; returns an error text, empty on success.
// An existing handheld is kept unless `replace` is set.
std::string CreateHandheld(const std::string& folder, const CreateOptions& options);

// One client connection's open handles (files, searches, processes).
struct Session {
  struct Object {
    enum Kind { File, Search, Process, RegistryKey } kind = File;
    int fd = -1;
    std::string key;  // attribute key of an open file (sharing checks); a registry key's path
    std::uint32_t access = 0, share = 0;
    std::vector<FindEntry> entries;
    std::size_t next = 0;
  };
  std::map<std::uint32_t, Object> objects;
  std::uint32_t nextHandle = 1;
};

struct ProcessIds {
  std::uint32_t process = 0, thread = 0, processId = 0, threadId = 0;
};

class Handheld {
 public:
  explicit Handheld(std::string folder);
  // Stops and waits for the work of programs still running on this handheld.
  ~Handheld();

  const std::string& Folder() const { return folder_; }
  std::string FlashPath() const { return folder_ + "/flash.bin"; }
  DeviceFs& Fs() { return fs_; }
  std::mutex& Lock() { return lock_; }

  // The state as the folder holds it now (control commands change it).
  HandheldState State() const;
  bool ChangeState(const std::function<void(HandheldState&)>& change);
  // The identity stored in flash.bin; false when flash.bin has none.
  bool Identity(RomIdentity& identity) const;
  // Handheld UTC in milliseconds since 1970 (host clock plus the set offset).
  std::int64_t ClockUtcMs() const;

  std::uint32_t CreateFile(Session& s, const std::u16string& path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, std::uint32_t attributes, std::uint32_t& handle);
  std::uint32_t ReadFile(Session& s, std::uint32_t handle, std::uint32_t count, std::vector<std::uint8_t>& data);
  std::uint32_t WriteFile(Session& s, std::uint32_t handle, const std::uint8_t* data, std::uint32_t count,
                          std::uint32_t& written);
  std::uint32_t CloseHandle(Session& s, std::uint32_t handle);
  std::uint32_t GetFileSize(Session& s, std::uint32_t handle, std::uint64_t& size);
  std::uint32_t DeleteFile(const std::u16string& path);
  std::uint32_t MoveFile(const std::u16string& from, const std::u16string& to);
  std::uint32_t CopyFile(const std::u16string& from, const std::u16string& to, bool failIfExists);
  std::uint32_t CreateDirectory(const std::u16string& path) { return fs_.CreateDirectory(path); }
  std::uint32_t RemoveDirectory(const std::u16string& path);
  std::uint32_t FindFirst(Session& s, const std::u16string& pattern, std::uint32_t& handle, FindEntry& entry);
  std::uint32_t FindNext(Session& s, std::uint32_t handle, FindEntry& entry);
  std::uint32_t CreateProcess(Session& s, const std::u16string& program, const std::u16string& commandLine,
                              ProcessIds& ids);
  // SYSTEM_POWER_STATUS_EX as 24 bytes.
  std::vector<std::uint8_t> PowerStatus() const;
  // Runs `function` of `library` (which must be in \Windows); `result` is its HRESULT.
  std::uint32_t Invoke(const std::u16string& library, const std::u16string& function,
                       const std::vector<std::uint8_t>& input, std::int32_t& result,
                       std::vector<std::uint8_t>& output);
  // Closes everything a session left open.
  void EndSession(Session& s);

  // For program handlers: whole-file access on the handheld.
  bool WriteDeviceFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes);
  bool ReadDeviceFile(const std::u16string& path, std::vector<std::uint8_t>& bytes);
  // Adds `bytes` to the end of a file, as a program that opens, writes and
  // closes it would: `create` makes a new file (ERROR_FILE_EXISTS when there
  // is one), otherwise the file must exist (ERROR_FILE_NOT_FOUND). A file a
  // client holds open gives ERROR_SHARING_VIOLATION. 0 on success.
  std::uint32_t AppendDeviceFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes, bool create);
  bool DeviceFileExists(const std::u16string& path) const;

 private:
  bool InUse(const std::string& key) const;
  bool SharingAllows(const std::string& key, std::uint32_t access, std::uint32_t share) const;

  std::string folder_;
  DeviceFs fs_;
  std::mutex lock_;
  std::vector<Session*> sessions_;  // sessions with open files, for sharing checks
};

}  // namespace handheld
