#include "programs.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "backup_program.h"
#include "handheld.h"
#include "wire/rapi_protocol.h"

namespace handheld {
namespace {

constexpr std::uint8_t kTypeDatProbeMark = 1;  // byte 0 of type.dat: not read by the wizard

std::uint32_t CreateAssetFile(const ProgramStart& start) {
  RomIdentity identity;
  // A flash without an identity block still runs the program; the fields are then empty.
  start.handheld.Identity(identity);
  start.handheld.WriteDeviceFile(u"\\Windows\\nrvAssetData.dat",
                                 MakeAssetData(identity.modelId, identity.version + " " + identity.language));
  return 0;
}

std::uint32_t GetType(const ProgramStart& start) {
  const HandheldState state = start.handheld.State();
  if (state.faults.probeSilent) return 0;  // started, but never writes its file
  start.handheld.WriteDeviceFile(u"\\temp\\type.dat",
                                 {kTypeDatProbeMark, static_cast<std::uint8_t>(state.flashMb)});
  return 0;
}

std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::string WideField(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units && U16(b, at + 2 * i) != 0; ++i) text += static_cast<char16_t>(U16(b, at + 2 * i));
  return Utf16ToUtf8(text);
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::map<std::string, ProgramHandler>& Programs() {
  static std::map<std::string, ProgramHandler> table = {
      {"createassetfile.exe", CreateAssetFile},
      {"gettype.exe", GetType},
      {"backup.exe", StartBackupProgram},
  };
  return table;
}

std::map<std::string, InvokeHandler>& Invokes() {
  static std::map<std::string, InvokeHandler> table = {
      {"setsystemtime.dll|SetSysTime", SetSysTime},
  };
  return table;
}

std::mutex& TableLock() {
  static std::mutex lock;
  return lock;
}

// Running program work, by handheld.
struct Work {
  Handheld* handheld = nullptr;
  std::string name;
  std::atomic<bool> stop{false};
  bool done = false;  // under WorkLock
  std::thread thread;
};

struct WorkTable {
  std::mutex lock;
  std::condition_variable ended;
  std::list<std::unique_ptr<Work>> works;
};

WorkTable& Works() {
  static WorkTable table;
  return table;
}

// Joins and forgets the finished work of `handheld` (the caller holds the
// table's lock; the finished threads no longer need it).
void ReapFinished(WorkTable& table, Handheld& handheld) {
  for (auto it = table.works.begin(); it != table.works.end();) {
    if ((*it)->handheld == &handheld && (*it)->done) {
      (*it)->thread.join();
      it = table.works.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

void StartProgramWork(Handheld& handheld, const std::string& name, ProgramWork work) {
  WorkTable& table = Works();
  std::lock_guard<std::mutex> guard(table.lock);
  ReapFinished(table, handheld);
  // The caller holds the handheld's lock, so the earlier work cannot take
  // another step before it sees its stop flag.
  for (auto& earlier : table.works)
    if (earlier->handheld == &handheld && earlier->name == name) earlier->stop = true;
  auto entry = std::make_unique<Work>();
  Work* w = entry.get();
  w->handheld = &handheld;
  w->name = name;
  w->thread = std::thread([w, work = std::move(work)] {
    work(*w->handheld, w->stop);
    WorkTable& t = Works();
    std::lock_guard<std::mutex> done(t.lock);
    w->done = true;
    t.ended.notify_all();
  });
  table.works.push_back(std::move(entry));
}

void StopProgramWork(Handheld& handheld) {
  WorkTable& table = Works();
  std::unique_lock<std::mutex> guard(table.lock);
  for (auto& w : table.works)
    if (w->handheld == &handheld) w->stop = true;
  table.ended.wait(guard, [&] {
    return std::none_of(table.works.begin(), table.works.end(),
                        [&](const auto& w) { return w->handheld == &handheld && !w->done; });
  });
  ReapFinished(table, handheld);
}

void WaitForProgramWork(Handheld& handheld) {
  WorkTable& table = Works();
  std::unique_lock<std::mutex> guard(table.lock);
  table.ended.wait(guard, [&] {
    return std::none_of(table.works.begin(), table.works.end(),
                        [&](const auto& w) { return w->handheld == &handheld && !w->done; });
  });
  ReapFinished(table, handheld);
}

std::string ProgramFileText(const std::string& fileName) {
  return "handheld-sim program " + LowerAscii(fileName) + ": the simulated handheld runs its own built-in copy\r\n";
}

std::vector<std::uint8_t> MakeAssetData(const std::string& modelId, const std::string& versionString) {
  std::vector<std::uint8_t> data(kAssetFileSize, 0);
  auto put = [&](std::uint32_t offset, std::uint32_t units, const std::string& text) {
    for (std::uint32_t i = 0; i < units && i < text.size(); ++i) data[offset + 2 * i] = static_cast<std::uint8_t>(text[i]);
  };
  put(kAssetModelOffset, kAssetModelUnits, modelId);
  put(kAssetVersionOffset, kAssetVersionUnits, versionString);
  return data;
}

std::int32_t SetSysTime(Handheld& handheld, const std::vector<std::uint8_t>& input, std::vector<std::uint8_t>&) {
  if (input.size() != kClockBlockSize) return RAPI_E_FAIL;
  // TIME_ZONE_INFORMATION: Bias, StandardName[32], StandardDate, StandardBias,
  // DaylightName[32], DaylightDate, DaylightBias; then SYSTEMTIME in UTC.
  constexpr std::size_t kStandardName = 4, kDaylightName = 88, kSystemTime = kTimeZoneInfoSize;
  const std::uint16_t year = U16(input, kSystemTime), month = U16(input, kSystemTime + 2),
                      day = U16(input, kSystemTime + 6), hour = U16(input, kSystemTime + 8),
                      minute = U16(input, kSystemTime + 10), second = U16(input, kSystemTime + 12),
                      millis = U16(input, kSystemTime + 14);
  // A block with an impossible time leaves the clock as it was.
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59 || millis > 999)
    return RAPI_E_FAIL;
  const std::int64_t utcMs =
      ((DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + millis;
  const std::int64_t hostMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  const std::int32_t bias = static_cast<std::int32_t>(rapi_get_u32(input.data()));
  handheld.ChangeState([&](HandheldState& s) {
    s.clockOffsetMs = utcMs - hostMs;
    s.tzBias = bias;
    s.tzStandardName = WideField(input, kStandardName, 32);
    s.tzDaylightName = WideField(input, kDaylightName, 32);
    s.tzBlock.assign(input.begin(), input.begin() + kTimeZoneInfoSize);
  });
  return RAPI_S_OK;
}

void RegisterProgram(const std::string& fileName, ProgramHandler handler) {
  std::lock_guard<std::mutex> guard(TableLock());
  Programs()[LowerAscii(fileName)] = handler;
}

ProgramHandler FindProgram(const std::string& lowerFileName) {
  std::lock_guard<std::mutex> guard(TableLock());
  const auto it = Programs().find(lowerFileName);
  return it == Programs().end() ? nullptr : it->second;
}

void RegisterInvoke(const std::string& library, const std::string& function, InvokeHandler handler) {
  std::lock_guard<std::mutex> guard(TableLock());
  Invokes()[LowerAscii(library) + "|" + function] = handler;
}

InvokeHandler FindInvoke(const std::string& lowerLibrary, const std::string& function) {
  std::lock_guard<std::mutex> guard(TableLock());
  const auto it = Invokes().find(lowerLibrary + "|" + function);
  return it == Invokes().end() ? nullptr : it->second;
}

}  // namespace handheld
