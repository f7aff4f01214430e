// resume_record_check: drives romwiz.exe's resume record code (the real
// Win32 registry seam) and reads the record back through the registry API
// directly, for the Wine tests of run-wine-identify-tests.
//
//   resume_record_check save LANGUAGE MODEL LANG VERSION USB(0|1) FLASHFILE
//   resume_record_check critical         mark the record critical
//   resume_record_check load             print what the wizard loads
//   resume_record_check delete           delete the record
//   resume_record_check values           every value under HKCU\Software\Veltrom
//                                        as "name type size", read with the API
//
// Exit codes: 0 done, 1 the record is missing (values, load), 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "checks/resume_record.h"
#include "wizard/wizard_state.h"

namespace {

template <std::size_t N>
void Put(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text);
}

int Save(char** argv) {
  wizard::DeviceInfoRecord& info = wizard::Wizard.DeviceInfo;
  Put(info.Language, argv[0]);
  Put(info.ModelID, argv[1]);
  Put(info.Lang, argv[2]);
  Put(info.Version, argv[3]);
  wizard::Wizard.ConnectionType = std::strcmp(argv[4], "1") == 0 ? wizard::Connection::Usb
                                                                  : wizard::Connection::Serial;
  Put(wizard::Wizard.FlashFile, argv[5]);
  wizard::SaveUpgradeState();
  return 0;
}

int Load() {
  bool pending = wizard::LoadUpgradeState();
  const wizard::DeviceInfoRecord& info = wizard::Wizard.DeviceInfo;
  std::printf("pending=%d\nLanguage=%s\nModelID=%s\nLang=%s\nVersion=%s\nUSB=%d\nCritical=%d\nFlashFile=%s\n",
              pending ? 1 : 0, info.Language, info.ModelID, info.Lang, info.Version,
              wizard::Wizard.ConnectionType == wizard::Connection::Usb ? 1 : 0, wizard::Wizard.Critical ? 1 : 0,
              wizard::Wizard.FlashFile);
  return pending ? 0 : 1;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_BINARY: return "REG_BINARY";
    default: return "OTHER";
  }
}

// Read without any of romwiz's code: what the registry itself holds.
int Values() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veltrom", 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof name, type = 0, size = 0;
    LONG status = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    std::printf("%s %s %lu\n", name, TypeName(type), static_cast<unsigned long>(size));
  }
  RegCloseKey(key);
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: resume_record_check save|critical|load|delete|values ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const char* command = argv[1];
  if (std::strcmp(command, "save") == 0 && argc == 8) return Save(argv + 2);
  if (std::strcmp(command, "critical") == 0) {
    wizard::MarkCriticalState();
    return 0;
  }
  if (std::strcmp(command, "load") == 0) return Load();
  if (std::strcmp(command, "delete") == 0) {
    wizard::DeleteUpgradeState();
    return 0;
  }
  if (std::strcmp(command, "values") == 0) return Values();
  return Usage();
}
