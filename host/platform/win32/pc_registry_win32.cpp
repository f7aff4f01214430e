// PC registry seam on Windows: the real registry through the "A" functions.
// Values come back exactly as stored: a REG_SZ written without its NUL is
// returned without one, and nothing is written beyond the returned size;
// callers terminate strings themselves.
#include "platform/pc_registry.h"

#include <windows.h>

namespace pcreg {

struct Key {
  HKEY handle;
};

namespace {

HKEY RootHandle(Root root) {
  return root == Root::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

long OpenKey(Root root, const char* path, bool write, Key*& key) {
  key = nullptr;
  HKEY handle = nullptr;
  REGSAM access = write ? (KEY_READ | KEY_WRITE) : KEY_READ;
  LONG result = RegOpenKeyExA(RootHandle(root), path, 0, access, &handle);
  if (result != ERROR_SUCCESS) return result;
  key = new Key{handle};
  return kSuccess;
}

long CreateKey(Root root, const char* path, Key*& key) {
  key = nullptr;
  HKEY handle = nullptr;
  DWORD disposition = 0;
  LONG result = RegCreateKeyExA(RootHandle(root), path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &handle, &disposition);
  if (result != ERROR_SUCCESS) return result;
  key = new Key{handle};
  return kSuccess;
}

void CloseKey(Key* key) {
  if (key == nullptr) return;
  RegCloseKey(key->handle);
  delete key;
}

long QueryValue(Key* key, const char* name, std::uint32_t& type, void* data, std::uint32_t& size) {
  DWORD valueType = 0;
  DWORD valueSize = size;
  LONG result = RegQueryValueExA(key->handle, name, nullptr, &valueType,
                                 static_cast<BYTE*>(data), &valueSize);
  type = valueType;
  size = valueSize;
  return result;
}

long SetValue(Key* key, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
  return RegSetValueExA(key->handle, name, 0, type, static_cast<const BYTE*>(data), size);
}

long EnumValue(Key* key, std::uint32_t index, char* name, std::uint32_t nameCapacity,
               std::uint32_t& type, void* data, std::uint32_t& size) {
  DWORD nameLength = nameCapacity;
  DWORD valueType = 0;
  DWORD valueSize = size;
  LONG result = RegEnumValueA(key->handle, index, name, &nameLength, nullptr, &valueType,
                              static_cast<BYTE*>(data), &valueSize);
  type = valueType;
  size = valueSize;
  return result;
}

long DeleteSubKey(Key* parent, const char* name) {
  return RegDeleteKeyA(parent->handle, name);
}

}  // namespace pcreg
