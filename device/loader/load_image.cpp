#include "loader/load_image.h"

#include <stdint.h>

#include "loader/install.h"
#include "platform/bus.h"
#include "platform/services.h"
#include "startup/agent_state.h"
#include "startup/debug_print.h"
#include "startup/wide_text.h"

namespace {

constexpr uint32_t kChosenNameChars = 100;
constexpr uint32_t kPathChars = 120;

const char16_t* LoaderFileName(uint8_t connectionType) {
  if (connectionType == kConnectionSerial) return u"flash_serial.nb";
  if (connectionType == kConnectionUsb) return u"flash_usb.nb";
  return nullptr;  // matches nothing
}

// Walks the whole folder; the last matching entry wins. Names compare
// exactly: romwiz writes exactly these names.
void FindLoaderFile(char16_t* chosen) {
  const char16_t* wanted = LoaderFileName(Agent.connectionType);
  devos::FindData entry{};
  const devos::Handle search = devos::FindFirstFile(u"\\temp\\*.*", &entry);
  if (search == devos::kInvalidHandle) return;
  do {
    if (entry.attributes == devos::kFileAttributeDirectory) continue;
    entry.name[devos::kMaxPath - 1] = u'\0';
    if (wanted != nullptr && WideEqual(entry.name, wanted)) {
      WideCopy(chosen, kChosenNameChars, entry.name);
    }
  } while (devos::FindNextFile(search, &entry));
  devos::FindClose(search);
}

}  // namespace

int LoadLoaderImage() {
  char16_t chosen[kChosenNameChars] = {};
  FindLoaderFile(chosen);
  char16_t path[kPathChars];
  WideCopy(path, kPathChars, u"\\temp\\");
  WideAppend(path, kPathChars, chosen);

  // With no match there is nothing to open (only the folder itself).
  const devos::Handle file =
      chosen[0] == u'\0' ? devos::kInvalidHandle : devos::OpenFileForRead(path);
  if (file == devos::kInvalidHandle) {
    DebugPrint("Can't open file\n");
    return 0;
  }
  if (devos::GetFileSize(file) == devos::kInvalidFileSize) {
    devos::CloseHandle(file);
    DebugPrint("Get file size error \n");
    return 0;
  }
  uint32_t bytesRead = 0;
  void* buffer = devbus::RamPointer(Agent.hardwareMap.loaderBuffer);
  const bool read = devos::ReadFile(file, buffer, kLoaderImageBytes, &bytesRead);
  devos::CloseHandle(file);
  // A failed or empty read would program a loader of zeros: give up instead,
  // with the flash untouched.
  if (!read || bytesRead == 0) {
    DebugPrint("Read file error \n");
    return 0;
  }
  DebugPrint("Get ABX OK!!\n");
  return 1;
}
