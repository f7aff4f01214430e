// PC registry seam: keys and values under HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE. Win32: the real registry. Linux: one REGEDIT4 text file
// ($XDG_CONFIG_HOME/romwiz/registry.reg) holding both roots, rewritten
// atomically on every change.
// Results are Win32 error codes so that callers read like the real thing.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pcreg {

enum class Root { CurrentUser, LocalMachine };
struct Key;  // an open key; opaque to the core

constexpr long kSuccess = 0;            // ERROR_SUCCESS
constexpr long kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr long kMoreData = 234;         // ERROR_MORE_DATA
constexpr long kNoMoreItems = 259;      // ERROR_NO_MORE_ITEMS

constexpr std::uint32_t kTypeString = 1;  // REG_SZ
constexpr std::uint32_t kTypeDword = 4;   // REG_DWORD

long OpenKey(Root root, const char* path, bool write, Key*& key);
long CreateKey(Root root, const char* path, Key*& key);  // all access
void CloseKey(Key* key);                                  // null is ignored

// `size` is the buffer's capacity on entry and the data's size on return.
// A REG_SZ value is returned as stored (it may lack its terminating NUL).
long QueryValue(Key* key, const char* name, std::uint32_t& type, void* data, std::uint32_t& size);
long SetValue(Key* key, const char* name, std::uint32_t type, const void* data, std::uint32_t size);
// Like RegEnumValueA: nameCapacity counts characters with the NUL; a value
// whose name or data does not fit gives kMoreData for that index.
long EnumValue(Key* key, std::uint32_t index, char* name, std::uint32_t nameCapacity,
               std::uint32_t& type, void* data, std::uint32_t& size);
// Deletes the sub-key `name` (which has no sub-keys of its own) of `parent`.
long DeleteSubKey(Key* parent, const char* name);

}  // namespace pcreg
