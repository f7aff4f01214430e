// Identifies a handheld the way the wizard does, through the rapi:: seam of
// romwiz.exe and whatever rapi.dll sits beside it, and prints what it found:
//   connected
//   model=LUMO-5800
//   version=1.14.00 ENG
//   power=1
//   file=<name> attributes=<hex> size=<n>     (one per entry of \Windows)
// Exit codes: 0 identified, 2 not reachable within the 3000 ms wait, 3 a
// remote call failed (the message names it).
#include <cstdio>
#include <string>
#include <vector>

#include "platform/remote_api.h"

namespace {

constexpr std::uint32_t kConnectionWaitMs = 3000;
constexpr std::uint32_t kAssetReadBytes = 12000;
constexpr std::size_t kModelOffset = 152, kModelUnits = 9, kVersionOffset = 2556, kVersionUnits = 11;

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

std::string Field(const std::vector<unsigned char>& data, std::size_t offset, std::size_t units) {
  std::string out;
  for (std::size_t i = 0; i < units && offset + 2 * i + 1 < data.size(); ++i) {
    const unsigned unit = data[offset + 2 * i] | (data[offset + 2 * i + 1] << 8);
    if (unit == 0) break;
    out += static_cast<char>(unit & 0xFF);
  }
  return out;
}

int Failed(const char* call) {
  std::printf("failed=%s error=%lu\n", call, static_cast<unsigned long>(rapi::CeGetLastError()));
  rapi::CeRapiUninit();
  return 3;
}

}  // namespace

int main() {
  rapi::InitRecord init;
  if (rapi::CeRapiInitEx(&init) < 0 || !rapi::WaitForConnection(init, kConnectionWaitMs) || init.result != 0) {
    std::printf("not reachable\n");
    rapi::CeRapiUninit();
    return 2;
  }
  std::printf("connected\n");
  rapi::ProcessInfo info;
  if (!rapi::CeCreateProcess(rapi::AnsiToDevicePath("\\Windows\\CreateAssetFile.exe").c_str(), u"", &info))
    return Failed("CeCreateProcess");
  rapi::CeCloseHandle(info.process);
  rapi::CeCloseHandle(info.thread);
  rapi::Handle file = rapi::CeCreateFile(rapi::AnsiToDevicePath("\\Windows\\nrvAssetData.dat").c_str(),
                                         rapi::kGenericRead, rapi::kShareRead, rapi::kOpenExisting,
                                         rapi::kAttributeNormal);
  if (file == rapi::kInvalidHandle) return Failed("CeCreateFile");
  std::vector<unsigned char> data(kAssetReadBytes);
  std::uint32_t read = 0;
  if (!rapi::CeReadFile(file, data.data(), kAssetReadBytes, &read)) return Failed("CeReadFile");
  data.resize(read);
  rapi::CeCloseHandle(file);
  std::printf("model=%s\nversion=%s\n", Field(data, kModelOffset, kModelUnits).c_str(),
              Field(data, kVersionOffset, kVersionUnits).c_str());

  rapi::PowerStatus power;
  if (!rapi::CeGetSystemPowerStatusEx(&power, true)) return Failed("CeGetSystemPowerStatusEx");
  std::printf("power=%u\n", power.ACLineStatus);

  rapi::FindData found;
  rapi::Handle search = rapi::CeFindFirstFile(u"\\Windows\\*.*", &found);
  if (search == rapi::kInvalidHandle) return Failed("CeFindFirstFile");
  do {
    std::printf("file=%s attributes=%lx size=%lu\n", Narrow(found.name).c_str(),
                static_cast<unsigned long>(found.attributes), static_cast<unsigned long>(found.sizeLow));
  } while (rapi::CeFindNextFile(search, &found));
  rapi::CeFindClose(search);
  rapi::CeRapiUninit();
  return 0;
}
