// The handheld's registry: "registry.reg" in the state folder, a REGEDIT4
// text file (UTF-8) that every remote registry call reads and, when it
// changes something, writes back atomically (temporary file + rename).
//
//   [HKEY_LOCAL_MACHINE\Drivers\NrvDisk]
//   "Dll"="NRVDSK.DLL"                 REG_SZ: UTF-16 text with one NUL
//   "Index"=dword:00000008             REG_DWORD
//   "CoolMenu"=hex(0):00               any other type or shape, byte for byte
//   @="..."                            the default (unnamed) value
//
// Key and value names match without regard to ASCII letter case and keep the
// case they were created with. A section names its key and, implicitly, every
// key above it. Lines starting with ";" are comments; a line ending with "\"
// continues on the next one.
//
// The remote calls (below) take the Win32 arguments and return 0 or a Win32
// error code. Key handles live in the client's Session like file handles.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "handheld.h"

namespace handheld {

// Predefined key handles.
constexpr std::uint32_t kHkeyClassesRoot = 0x80000000u, kHkeyCurrentUser = 0x80000001u,
                        kHkeyLocalMachine = 0x80000002u, kHkeyUsers = 0x80000003u;
constexpr std::uint32_t kRegNone = 0, kRegSz = 1, kRegBinary = 3, kRegDword = 4;
// CeRegCreateKeyEx dispositions.
constexpr std::uint32_t kRegCreatedNewKey = 1, kRegOpenedExistingKey = 2;

struct RegValue {
  std::string name;  // UTF-8; empty for the default value
  std::uint32_t type = kRegNone;
  std::vector<std::uint8_t> data;
};

struct RegKey {
  std::string path;  // "HKEY_LOCAL_MACHINE\Drivers\NrvDisk", UTF-8
  std::vector<RegValue> values;
};

class DeviceRegistry {
 public:
  // Reads `file`. A missing file is an empty registry; a file that does not
  // start with REGEDIT4 is refused (false), so that it is never overwritten.
  bool Load(const std::string& file);
  bool Save(const std::string& file) const;
  std::string Format() const;

  bool HasKey(const std::string& path) const;
  // Creates the key (its parents exist implicitly); true when it was new.
  bool CreateKey(const std::string& path);
  // Null when the key or the value does not exist.
  const RegValue* Find(const std::string& path, const std::string& name) const;
  void Set(const std::string& path, const RegValue& value);

  // A REG_SZ value's text (UTF-8, without its NUL); empty for other values.
  static std::string Text(const RegValue& value);
  // A REG_DWORD value's number; 0 for other values.
  static std::uint32_t Dword(const RegValue& value);

 private:
  RegKey* FindKey(const std::string& path);
  const RegKey* FindKey(const std::string& path) const;

  std::vector<RegKey> keys_;  // in file order
};

// The registry file of a handheld's state folder.
std::string RegistryPath(const std::string& folder);

// Remote registry calls. `parent` is a predefined key or a key handle of the
// session; `subKey` must not begin with a backslash (ERROR_BAD_PATHNAME).
std::uint32_t RegOpenKey(Handheld& h, Session& s, std::uint32_t parent, const std::u16string& subKey,
                         std::uint32_t& handle);
std::uint32_t RegCreateKey(Handheld& h, Session& s, std::uint32_t parent, const std::u16string& subKey,
                           std::uint32_t& handle, std::uint32_t& disposition);
std::uint32_t RegQueryValue(Handheld& h, Session& s, std::uint32_t key, const std::u16string& name,
                            std::uint32_t& type, std::vector<std::uint8_t>& data);
std::uint32_t RegSetValue(Handheld& h, Session& s, std::uint32_t key, const std::u16string& name,
                          std::uint32_t type, const std::vector<std::uint8_t>& data);
std::uint32_t RegCloseKey(Session& s, std::uint32_t key);

}  // namespace handheld
