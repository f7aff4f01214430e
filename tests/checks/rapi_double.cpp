#include "rapi_double.h"

#include <cstring>
#include <memory>

#include "platform/remote_api.h"

namespace rapidouble {
namespace {
State state;
struct OpenFile {
  std::u16string path;
};
}  // namespace
State& Handheld() { return state; }
void Reset() { state = State{}; }
}  // namespace rapidouble

namespace rapi {
using rapidouble::state;

std::int32_t CeRapiInitEx(InitRecord*) {
  ++state.initCalls;
  return state.initResult;
}
std::int32_t CeRapiUninit() {
  ++state.uninitCalls;
  return 0;
}
bool WaitForConnection(const InitRecord&, std::uint32_t) { return state.connects; }

Handle CeCreateFile(const char16_t* path, std::uint32_t, std::uint32_t, std::uint32_t disposition,
                    std::uint32_t) {
  if (state.failCreate) return kInvalidHandle;
  if (disposition == kCreateAlways) state.files[path] = "";
  else if (!state.files.count(path)) return kInvalidHandle;
  ++state.openHandles;
  return new rapidouble::OpenFile{path};
}
bool CeReadFile(Handle, void*, std::uint32_t, std::uint32_t* read) {
  if (read) *read = 0;
  return false;
}
bool CeWriteFile(Handle file, const void* data, std::uint32_t count, std::uint32_t* written) {
  int call = state.writeCalls++;
  if (state.failWriteAfter >= 0 && call >= state.failWriteAfter) return false;
  auto* open = static_cast<rapidouble::OpenFile*>(file);
  state.files[open->path].append(static_cast<const char*>(data), count);
  if (written) *written = count;
  return true;
}
bool CeCloseHandle(Handle handle) {
  --state.openHandles;
  delete static_cast<rapidouble::OpenFile*>(handle);
  return true;
}
std::uint32_t CeGetFileSize(Handle, std::uint32_t*) { return 0xFFFFFFFFu; }
bool CeDeleteFile(const char16_t* path) { return state.files.erase(path) > 0; }
bool CeMoveFile(const char16_t*, const char16_t*) { return false; }
bool CeCopyFile(const char16_t*, const char16_t*, bool) { return false; }
bool CeCreateDirectory(const char16_t*) { return false; }
bool CeRemoveDirectory(const char16_t*) { return false; }
Handle CeFindFirstFile(const char16_t*, FindData*) { return kInvalidHandle; }
bool CeFindNextFile(Handle, FindData*) { return false; }
bool CeFindClose(Handle) { return false; }
bool CeCreateProcess(const char16_t*, const char16_t*, ProcessInfo*) { return false; }
bool CeGetSystemPowerStatusEx(PowerStatus*, bool) { return false; }

std::int32_t CeRapiInvoke(const char16_t* library, const char16_t* function, std::uint32_t inputSize,
                          std::uint8_t* input, std::uint32_t* outputSize, std::uint8_t** output) {
  state.invocations.push_back({library, function, std::vector<std::uint8_t>(input, input + inputSize)});
  FreeInvokeBlock(input);  // the call owns its input block
  if (outputSize) *outputSize = 0;
  if (output) *output = nullptr;
  return 0;
}
std::uint8_t* AllocInvokeBlock(std::uint32_t size) {
  ++state.blocksAllocated;
  return new std::uint8_t[size];
}
void FreeInvokeBlock(std::uint8_t* block) {
  ++state.blocksFreed;
  delete[] block;
}
std::uint32_t CeGetLastError() { return 0; }
// The handheld's registry is not used by these tests; every call fails.
std::int32_t CeRegOpenKeyEx(RegKey, const char16_t*, RegKey*) { return kErrorFileNotFound; }
std::int32_t CeRegCreateKeyEx(RegKey, const char16_t*, RegKey*, std::uint32_t*) { return kErrorFileNotFound; }
std::int32_t CeRegQueryValueEx(RegKey, const char16_t*, std::uint32_t*, std::uint8_t*, std::uint32_t*) {
  return kErrorFileNotFound;
}
std::int32_t CeRegSetValueEx(RegKey, const char16_t*, std::uint32_t, const std::uint8_t*, std::uint32_t) {
  return kErrorFileNotFound;
}
std::int32_t CeRegCloseKey(RegKey) { return kErrorFileNotFound; }

std::u16string AnsiToDevicePath(const char* text) {
  std::u16string wide;
  for (; *text; ++text) wide += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return wide;
}

}  // namespace rapi
