#include "checks/resume_record.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/bounded_text.h"
#include "platform/pc_registry.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

constexpr const char* kRecordKey = "Software\\Veltrom";
constexpr const char* kRecordParentKey = "Software";
constexpr const char* kRecordKeyName = "Veltrom";

// Fixed sizes of the text blocks as they are written.
constexpr std::uint32_t kLanguageBlock = 20;
constexpr std::uint32_t kModelIdBlock = 15;
constexpr std::uint32_t kLangBlock = 10;
constexpr std::uint32_t kVersionBlock = 20;
constexpr std::uint32_t kLargestBlock = 20;

// Buffers of the load's enumeration.
constexpr std::uint32_t kNameCapacity = 100;
constexpr std::uint32_t kDataCapacity = 260;
// The walk ends at "no more items"; this bound only keeps a registry that
// fails every index from holding the wizard in an endless loop.
constexpr std::uint32_t kMaxIndexesVisited = 4096;

// Off in a program that keeps no record (romwiz-flash): the writes and the
// delete then leave the registry alone.
std::atomic<bool> recordKept{true};

void SetDword(pcreg::Key* key, const char* name, std::uint32_t value) {
  pcreg::SetValue(key, name, pcreg::kTypeDword, &value, sizeof value);
}

// A text field written as a block of `blockSize` bytes from a zeroed buffer:
// the text, its NUL and zero padding. The text is read no further than its
// field's own capacity (less its terminator) even if it lost its NUL, and is
// cut if the block could not hold it with its NUL.
template <std::size_t N>
void SetTextBlock(pcreg::Key* key, const char* name, const char (&field)[N], std::uint32_t blockSize) {
  static_assert(N > 0 && N <= kLargestBlock);
  char block[kLargestBlock] = {};
  std::size_t length = BoundedLength(field, N - 1);
  if (length > blockSize - 1) length = blockSize - 1;
  std::memcpy(block, field, length);
  pcreg::SetValue(key, name, pcreg::kTypeString, block, blockSize);
}

// A DWORD value is tested by its first (low) byte; a value of another size
// than 4 bytes is skipped.
bool DwordLowByteIsOne(const std::uint8_t* data, std::uint32_t size, bool& result) {
  if (size != sizeof(std::uint32_t)) return false;
  result = data[0] == 1;
  return true;
}

void ApplyValue(const char* name, const std::uint8_t* data, std::uint32_t size) {
  DeviceInfoRecord& info = Wizard.DeviceInfo;
  bool flag = false;
  if (EqualNoCase(name, "Flash")) {
    if (DwordLowByteIsOne(data, size, flag)) Wizard.ResumePending = flag;
  } else if (EqualNoCase(name, "Language")) {
    CopyTextIfFits(info.Language, sizeof info.Language, data, size);
  } else if (EqualNoCase(name, "ModelID")) {
    CopyTextIfFits(info.ModelID, sizeof info.ModelID, data, size);
  } else if (EqualNoCase(name, "Lang")) {
    CopyTextIfFits(info.Lang, sizeof info.Lang, data, size);
  } else if (EqualNoCase(name, "Version")) {
    CopyTextIfFits(info.Version, sizeof info.Version, data, size);
  } else if (EqualNoCase(name, "FlashFile")) {
    CopyTextIfFits(Wizard.FlashFile, sizeof Wizard.FlashFile, data, size);
  } else if (EqualNoCase(name, "USB")) {
    if (DwordLowByteIsOne(data, size, flag)) Wizard.ConnectionType = flag ? Connection::Usb : Connection::Serial;
  } else if (EqualNoCase(name, "Critical")) {
    if (DwordLowByteIsOne(data, size, flag)) Wizard.Critical = flag;
  }
}

}  // namespace

void KeepResumeRecord(bool kept) { recordKept = kept; }
bool ResumeRecordKept() { return recordKept; }

void SaveUpgradeState() {
  if (!recordKept) return;
  pcreg::Key* key = nullptr;
  if (pcreg::CreateKey(pcreg::Root::CurrentUser, kRecordKey, key) != pcreg::kSuccess) return;
  const DeviceInfoRecord& info = Wizard.DeviceInfo;
  SetDword(key, "Flash", 1);
  SetTextBlock(key, "Language", info.Language, kLanguageBlock);
  SetTextBlock(key, "ModelID", info.ModelID, kModelIdBlock);
  SetTextBlock(key, "Lang", info.Lang, kLangBlock);
  SetTextBlock(key, "Version", info.Version, kVersionBlock);
  SetDword(key, "USB", Wizard.ConnectionType == Connection::Usb ? 1 : 0);
  std::size_t pathLength = BoundedLength(Wizard.FlashFile, sizeof Wizard.FlashFile - 1);
  char path[kPathCapacity] = {};
  std::memcpy(path, Wizard.FlashFile, pathLength);
  pcreg::SetValue(key, "FlashFile", pcreg::kTypeString, path, static_cast<std::uint32_t>(pathLength + 1));
  pcreg::CloseKey(key);
}

void MarkCriticalState() {
  if (!recordKept) return;
  pcreg::Key* key = nullptr;
  if (pcreg::CreateKey(pcreg::Root::CurrentUser, kRecordKey, key) != pcreg::kSuccess) return;
  SetDword(key, "Critical", 1);
  pcreg::CloseKey(key);
}

bool LoadUpgradeState() {
  pcreg::Key* key = nullptr;
  if (pcreg::OpenKey(pcreg::Root::CurrentUser, kRecordKey, false, key) != pcreg::kSuccess) return false;
  // Both flags describe what this load finds: a record without "Flash" = 1
  // is not pending, one without "Critical" = 1 is not critical.
  Wizard.ResumePending = false;
  Wizard.Critical = false;
  for (std::uint32_t index = 0; index < kMaxIndexesVisited; ++index) {
    char name[kNameCapacity] = {};
    std::uint8_t data[kDataCapacity] = {};
    std::uint32_t type = 0, size = kDataCapacity;
    long result = pcreg::EnumValue(key, index, name, kNameCapacity, type, data, size);
    if (result == pcreg::kNoMoreItems) break;
    if (result != pcreg::kSuccess) continue;  // too large for the buffers, or unreadable: skipped
    name[kNameCapacity - 1] = 0;
    ApplyValue(name, data, size <= kDataCapacity ? size : kDataCapacity);
  }
  pcreg::CloseKey(key);
  return Wizard.ResumePending;
}

void DeleteUpgradeState() {
  if (!recordKept) return;
  pcreg::Key* parent = nullptr;
  if (pcreg::OpenKey(pcreg::Root::CurrentUser, kRecordParentKey, true, parent) != pcreg::kSuccess) return;
  pcreg::DeleteSubKey(parent, kRecordKeyName);
  pcreg::CloseKey(parent);
}

void ForgetUpgradeStateAfterConnect() {
  DeleteUpgradeState();
  Wizard.Critical = false;
}

}  // namespace wizard
