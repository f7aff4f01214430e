// The services seam on a HostedHandheld.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/bus.h"
#include "platform/hosted/hosted_handheld.h"
#include "platform/takeover_start.h"
#include "startup/takeover.h"
#include "resources/agent_strings.h"
#include "resources/progress_templates.h"

namespace hosted {
namespace {

// Per thread, like the simulated bus: one thread runs one agent at a time.
thread_local HostedHandheld* current = nullptr;

constexpr uint32_t kIoctlHalLanguageName = 0x01010102;
constexpr uint32_t kIoctlHalInformation = 0x01012000;
constexpr uint32_t kIoctlStopInterrupts = 0x0101010E;
// What the HAL requests take: the information request one 16-bit selector
// and an 84-byte record; the stop of interrupt handling one 32-bit zero and
// no output; the language name no input and room for the name.
constexpr uint16_t kHalInformationSelector = 0x1000;
constexpr uint32_t kHalInformationBytes = 84;
// The board's interrupt controller: ICMR, the interrupt mask register.
constexpr uint32_t kInterruptMaskRegister = 0xA9050004;

struct Search {
  std::vector<std::pair<std::u16string, uint32_t>> entries;  // name, attributes
  size_t next = 0;
};
struct OpenFile {
  std::u16string path;
};

// Handles are small integers; 0 and the invalid handle are never used.
thread_local std::map<devos::Handle, std::unique_ptr<Search>> searches;
thread_local std::map<devos::Handle, OpenFile> openFiles;
thread_local devos::Handle nextHandle = 0x100;

struct ActiveDialog {
  devos::DialogProc proc;
};
thread_local std::map<devos::Window, ActiveDialog> dialogProcs;

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

std::u16string Folded(const std::u16string& s) {
  std::u16string out = s;
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

const HostedFile* FindFile(const std::u16string& path) {
  if (current == nullptr) return nullptr;
  for (const auto& [name, file] : current->files) {
    if (Folded(name) == Folded(path)) return &file;
  }
  return nullptr;
}

DialogRecord* FindDialog(devos::Window window) {
  if (current == nullptr) return nullptr;
  for (DialogRecord& d : current->dialogs) {
    if (d.window == window) return &d;
  }
  return nullptr;
}

void CopyOut(const std::u16string& text, char16_t* buffer, size_t capacity) {
  if (capacity == 0) return;
  const size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = u'\0';
}

void Violation(const std::string& what) { current->violations.push_back(what); }

std::string CodeText(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", code);
  return text;
}

// The checks the handheld's HAL makes before it acts on a request.
bool HalRequestValid(uint32_t code, const void* in, uint32_t inBytes, void* out, uint32_t outBytes) {
  const std::string name = "KernelIoControl " + CodeText(code);
  switch (code) {
    case kIoctlHalLanguageName:
      if (in != nullptr || inBytes != 0) Violation(name + " takes no input");
      else if (out == nullptr || outBytes < 2 * (current->halLanguage.size() + 1))
        Violation(name + " output of " + std::to_string(outBytes) + " bytes cannot hold the name");
      else return true;
      return false;
    case kIoctlHalInformation: {
      uint16_t selector = 0;
      if (in != nullptr && inBytes == sizeof selector) std::memcpy(&selector, in, sizeof selector);
      if (inBytes != sizeof selector || selector != kHalInformationSelector)
        Violation(name + " takes the 16-bit selector 0x1000");
      else if (out == nullptr || outBytes != kHalInformationBytes)
        Violation(name + " output must be the 84-byte record, not " + std::to_string(outBytes) + " bytes");
      else return true;
      return false;
    }
    case kIoctlStopInterrupts: {
      uint32_t word = 1;
      if (in != nullptr && inBytes == sizeof word) std::memcpy(&word, in, sizeof word);
      if (inBytes != sizeof word || word != 0) Violation(name + " takes one 32-bit zero");
      else if (out != nullptr || outBytes != 0) Violation(name + " has no output");
      else return true;
      return false;
    }
  }
  Violation(name + ": no such HAL request");
  return false;
}

}  // namespace

ScopedServices::ScopedServices(HostedHandheld& handheld) : previous_(current) {
  current = &handheld;
}

ScopedServices::~ScopedServices() {
  current = previous_;
  searches.clear();
  openFiles.clear();
  dialogProcs.clear();
}

void AddFile(HostedHandheld& handheld, const std::u16string& path, std::vector<uint8_t> bytes) {
  handheld.files[path].bytes = std::move(bytes);
}

std::string DebugText(const HostedHandheld& handheld) {
  std::string out;
  for (const std::u16string& line : handheld.debugLines) {
    for (char16_t c : line) out += static_cast<char>(c);
  }
  return out;
}

}  // namespace hosted

namespace devos {

using hosted::current;

bool GetOemInfo(char16_t* buffer, uint32_t bytes) {
  if (current == nullptr) return false;
  hosted::CopyOut(current->oemInfo, buffer, bytes / 2);
  return true;
}

bool KernelIoControl(uint32_t code, const void* in, uint32_t inBytes, void* out,
                     uint32_t outBytes) {
  if (current == nullptr) return false;
  current->ioctlCodes.push_back(code);
  if (!hosted::HalRequestValid(code, in, inBytes, out, outBytes)) return false;
  switch (code) {
    case hosted::kIoctlHalLanguageName:
      if (current->halLanguageFails) return false;
      hosted::CopyOut(current->halLanguage, static_cast<char16_t*>(out), outBytes / 2);
      return true;
    case hosted::kIoctlHalInformation:
      if (current->halInformationFails) return false;
      std::memcpy(out, current->halInformation.data(), sizeof current->halInformation);
      return true;
    case hosted::kIoctlStopInterrupts:
      // The HAL masks every interrupt source in the interrupt controller.
      devbus::Write32(hosted::kInterruptMaskRegister, 0);
      current->interruptsStopped = true;
      return true;
  }
  return false;
}

int LoadString(void*, uint32_t id, char16_t* buffer, int maxChars) {
  const AgentString* s = FindAgentString(id);
  if (s == nullptr || maxChars <= 0) return 0;
  const std::u16string text(s->text);
  hosted::CopyOut(text, buffer, static_cast<size_t>(maxChars));
  return static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(maxChars) - 1));
}

Window CreateDialogFromTemplate(void*, uint32_t templateId, DialogProc proc, intptr_t lParam) {
  const ProgressTemplate* t = FindProgressTemplate(templateId);
  if (current == nullptr || t == nullptr) return 0;
  const Window window = hosted::nextHandle++;
  hosted::DialogRecord record{};
  record.templateId = templateId;
  record.window = window;
  record.messageText = t->builtInText;
  record.rect = {0, 0, current->dialogWidth, current->dialogHeight};
  current->dialogs.push_back(record);
  hosted::dialogProcs[window] = {proc};
  proc(window, kWmInitDialog, 0, lParam);
  return window;
}

bool SetDlgItemText(Window dialog, int controlId, const char16_t* text) {
  hosted::DialogRecord* d = hosted::FindDialog(dialog);
  if (d == nullptr || controlId != kMessageControlId) return false;
  d->messageText = text;
  return true;
}

int GetSystemMetrics(int index) {
  if (current == nullptr) return 0;
  if (index == kSmCxScreen) return current->screenWidth;
  if (index == kSmCyScreen) return current->screenHeight;
  return 0;
}

bool GetWindowRect(Window window, Rect* rect) {
  hosted::DialogRecord* d = hosted::FindDialog(window);
  if (d == nullptr) return false;
  *rect = d->rect;
  return true;
}

bool MoveWindow(Window window, int x, int y, int width, int height, bool repaint) {
  hosted::DialogRecord* d = hosted::FindDialog(window);
  if (d == nullptr) return false;
  d->moves.push_back({x, y, width, height, repaint});
  d->rect = {x, y, x + width, y + height};
  return true;
}

// The newest dialog is in front.
Window GetForegroundWindow() {
  if (current == nullptr || current->dialogs.empty()) return 0;
  return current->dialogs.back().window;
}

bool SHFullScreen(Window window, uint32_t flags) {
  hosted::DialogRecord* d = hosted::FindDialog(window);
  if (d == nullptr) return false;
  d->fullScreen = true;
  d->fullScreenFlags = flags;
  return true;
}

void Sleep(uint32_t milliseconds) {
  if (current != nullptr) current->sleptMs += milliseconds;
}

uint32_t RasEnumConnections(RasConnection* entries, uint32_t* bufferBytes, uint32_t* count) {
  constexpr uint32_t kErrorBufferTooSmall = 603;
  constexpr uint32_t kErrorInvalidSize = 632;
  if (current == nullptr) return kErrorInvalidSize;
  if (current->rasEnumError != 0) return current->rasEnumError;
  if (entries[0].size != sizeof(RasConnection)) return kErrorInvalidSize;
  const uint32_t needed = static_cast<uint32_t>(current->rasConnections.size() * sizeof(RasConnection));
  if (needed > *bufferBytes) {
    *bufferBytes = needed;
    return kErrorBufferTooSmall;
  }
  for (size_t i = 0; i < current->rasConnections.size(); ++i) {
    entries[i].size = sizeof(RasConnection);
    entries[i].handle = current->rasConnections[i].handle;
  }
  *count = static_cast<uint32_t>(current->rasConnections.size());
  return 0;
}

uint32_t RasHangUp(uint32_t connection) {
  constexpr uint32_t kErrorInvalidHandle = 6;
  if (current == nullptr) return kErrorInvalidHandle;
  for (const hosted::RasLine& line : current->rasConnections) {
    if (line.handle != connection) continue;
    if (line.hangUpError == 0) current->hungUp.push_back(connection);
    return line.hangUpError;
  }
  return kErrorInvalidHandle;
}

void OutputDebugString(const char16_t* text) {
  if (current != nullptr) current->debugLines.emplace_back(text);
}

Handle FindFirstFile(const char16_t* pattern, FindData* data) {
  if (current == nullptr) return kInvalidHandle;
  const std::u16string p(pattern);
  const std::u16string folder = hosted::Folded(p.substr(0, p.rfind(u'\\') + 1));
  auto search = std::make_unique<hosted::Search>();
  for (const auto& [path, file] : current->files) {
    const size_t cut = path.rfind(u'\\') + 1;
    if (hosted::Folded(path.substr(0, cut)) == folder && cut < path.size()) {
      search->entries.emplace_back(path.substr(cut), file.attributes);
    }
  }
  if (search->entries.empty()) return kInvalidHandle;
  const Handle handle = hosted::nextHandle++;
  hosted::searches[handle] = std::move(search);
  ++current->openHandles;
  FindNextFile(handle, data);
  return handle;
}

bool FindNextFile(Handle search, FindData* data) {
  auto it = hosted::searches.find(search);
  if (it == hosted::searches.end() || it->second->next >= it->second->entries.size()) return false;
  const auto& [name, attributes] = it->second->entries[it->second->next++];
  data->attributes = attributes;
  hosted::CopyOut(name, data->name, kMaxPath);
  return true;
}

bool FindClose(Handle search) {
  if (hosted::searches.erase(search) == 0) return false;
  if (current != nullptr) --current->openHandles;
  return true;
}

Handle OpenFileForRead(const char16_t* path) {
  const hosted::HostedFile* file = hosted::FindFile(path);
  if (file == nullptr || file->openFails || file->attributes == kFileAttributeDirectory) {
    return kInvalidHandle;
  }
  const Handle handle = hosted::nextHandle++;
  hosted::openFiles[handle] = {path};
  ++current->openHandles;
  return handle;
}

uint32_t GetFileSize(Handle handle) {
  auto it = hosted::openFiles.find(handle);
  if (it == hosted::openFiles.end()) return kInvalidFileSize;
  const hosted::HostedFile* file = hosted::FindFile(it->second.path);
  if (file == nullptr || file->sizeFails) return kInvalidFileSize;
  return static_cast<uint32_t>(file->bytes.size());
}

bool ReadFile(Handle handle, void* buffer, uint32_t bytes, uint32_t* bytesRead) {
  *bytesRead = 0;
  auto it = hosted::openFiles.find(handle);
  if (it == hosted::openFiles.end()) return false;
  const hosted::HostedFile* file = hosted::FindFile(it->second.path);
  if (file == nullptr || file->readFails) return false;
  const uint32_t n = std::min<uint32_t>(bytes, static_cast<uint32_t>(file->bytes.size()));
  std::memcpy(buffer, file->bytes.data(), n);
  *bytesRead = n;
  return true;
}

bool CloseHandle(Handle handle) {
  if (hosted::openFiles.erase(handle) == 0) return false;
  if (current != nullptr) --current->openHandles;
  return true;
}

}  // namespace devos

namespace devplatform {

void StartTakeover(int32_t modelCode, uint32_t loaderBuffer) {
  if (hosted::current != nullptr && hosted::current->takeover) {
    hosted::current->takeover(modelCode, loaderBuffer);
    std::abort();  // a runner ends by throwing, as the reset ends the agent
  }
  TakeoverEntry(modelCode, loaderBuffer);  // the x86 build of the takeover code
}

}  // namespace devplatform
