// The host system on Linux, where there is no ActiveSync and no Explorer:
//
// - TerminateWindowOwner(title): runs the shell command named by the
//   environment variable ROMWIZ_ACTIVESYNC_STOP with the window title as its
//   first argument ($1) and waits for it; without the variable it does
//   nothing. Point it at whatever holds the port on this PC (for example a
//   script that stops a synchronisation daemon).
// - StartProgram(program): starts the program (backslashes read as "/") in a
//   session of its own, without arguments, if it exists and is executable.
//   ActiveSync's restart reads the program from the registry store's App
//   Paths entry, so a user can name a Linux program there.
// - ReadClockBlock: the local time zone (bias, names, daylight rules of the
//   current year) and the current UTC time, laid out as Windows lays out
//   TIME_ZONE_INFORMATION and SYSTEMTIME.
// - OpenReadme(folder): prints the read-me's path on standard output; with
//   ROMWIZ_OPEN_README set it also hands the file to xdg-open.
#include "platform/host_system.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace hostsys {
namespace {

// TIME_ZONE_INFORMATION: Bias, StandardName[32], StandardDate, StandardBias,
// DaylightName[32], DaylightDate, DaylightBias; then the SYSTEMTIME.
constexpr std::size_t kBiasOffset = 0;
constexpr std::size_t kStandardNameOffset = 4;
constexpr std::size_t kStandardDateOffset = 68;
constexpr std::size_t kStandardBiasOffset = 84;
constexpr std::size_t kDaylightNameOffset = 88;
constexpr std::size_t kDaylightDateOffset = 152;
constexpr std::size_t kDaylightBiasOffset = 168;
constexpr std::size_t kTimeZoneSize = 172;
constexpr std::size_t kZoneNameChars = 32;

std::string NativePath(const char* path) {
  std::string native(path ? path : "");
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

// Starts argv[0] detached (double fork, so no zombie is left behind).
// True when the program was executed; an exec failure comes back through a
// close-on-exec pipe.
bool SpawnDetached(const std::vector<std::string>& args) {
  // Everything the children need is prepared here: after fork() in a
  // process with threads only async-signal-safe calls are allowed.
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  if (child == 0) {
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::execv(argv[0], argv.data());
      int error = errno;
      (void)!::write(pipeFds[1], &error, sizeof error);
      ::_exit(127);
    }
    if (grandchild < 0) {
      int error = errno;
      (void)!::write(pipeFds[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t got;
  while ((got = ::read(pipeFds[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(pipeFds[0]);
  return got == 0;
}

void PutU16(std::uint8_t* block, std::size_t offset, unsigned value) {
  block[offset] = static_cast<std::uint8_t>(value & 0xFF);
  block[offset + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void PutI32(std::uint8_t* block, std::size_t offset, long value) {
  auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
  for (int i = 0; i < 4; ++i) block[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void PutName(std::uint8_t* block, std::size_t offset, const char* name) {
  // Zone abbreviations are ASCII; each character becomes one UTF-16 unit.
  for (std::size_t i = 0; name && name[i] && i < kZoneNameChars - 1; ++i)
    PutU16(block, offset + 2 * i, static_cast<unsigned char>(name[i]));
}

void PutSystemTime(std::uint8_t* block, std::size_t offset, const struct tm& t, unsigned year,
                   unsigned day, unsigned milliseconds) {
  PutU16(block, offset, year);
  PutU16(block, offset + 2, static_cast<unsigned>(t.tm_mon + 1));
  PutU16(block, offset + 4, static_cast<unsigned>(t.tm_wday));
  PutU16(block, offset + 6, day);
  PutU16(block, offset + 8, static_cast<unsigned>(t.tm_hour));
  PutU16(block, offset + 10, static_cast<unsigned>(t.tm_min));
  PutU16(block, offset + 12, static_cast<unsigned>(t.tm_sec));
  PutU16(block, offset + 14, milliseconds);
}

bool IsDst(time_t when) {
  struct tm local;
  return ::localtime_r(&when, &local) && local.tm_isdst > 0;
}

// The first second at which the daylight flag differs from the one at `from`.
time_t FindChange(time_t from, time_t to) {
  bool before = IsDst(from);
  while (to - from > 1) {
    time_t middle = from + (to - from) / 2;
    if (IsDst(middle) == before) from = middle; else to = middle;
  }
  return to;
}

// Writes a yearly rule the Windows way: year 0, the month, the weekday and
// its occurrence in the month (5 = the last), at the wall-clock time that
// was in force just before the change.
void PutRule(std::uint8_t* block, std::size_t offset, time_t change, long offsetBefore) {
  time_t wall = change + offsetBefore;
  struct tm t;
  ::gmtime_r(&wall, &t);
  unsigned occurrence = static_cast<unsigned>((t.tm_mday - 1) / 7 + 1);
  if (t.tm_mday + 7 > 28) {
    // Is a week later still in this month? If not, this is the last one.
    time_t later = wall + 7 * 86400;
    struct tm next;
    ::gmtime_r(&later, &next);
    if (next.tm_mon != t.tm_mon) occurrence = 5;
  }
  PutSystemTime(block, offset, t, 0, occurrence, 0);
}

void PutTimeZone(std::uint8_t* block, time_t now) {
  ::tzset();
  struct tm local;
  ::localtime_r(&now, &local);
  // Find the changes of the daylight flag in the coming year, hour by hour.
  std::vector<time_t> changes;
  constexpr time_t kHour = 3600, kYear = 366 * 24 * kHour;
  bool previous = IsDst(now);
  for (time_t t = now + kHour; t <= now + kYear && changes.size() < 2; t += kHour) {
    bool current = IsDst(t);
    if (current != previous) changes.push_back(FindChange(t - kHour, t));
    previous = current;
  }
  long standardOffset = local.tm_gmtoff, daylightOffset = local.tm_gmtoff;
  time_t toDaylight = 0, toStandard = 0;
  for (time_t change : changes) {
    struct tm after;
    ::localtime_r(&change, &after);
    if (after.tm_isdst > 0) {
      toDaylight = change;
      daylightOffset = after.tm_gmtoff;
    } else {
      toStandard = change;
      standardOffset = after.tm_gmtoff;
    }
  }
  if (local.tm_isdst > 0) daylightOffset = local.tm_gmtoff; else standardOffset = local.tm_gmtoff;

  // Windows: UTC = local time + bias, in minutes.
  PutI32(block, kBiasOffset, -standardOffset / 60);
  PutName(block, kStandardNameOffset, tzname[0]);
  PutName(block, kDaylightNameOffset, tzname[1]);
  PutI32(block, kStandardBiasOffset, 0);
  if (toDaylight && toStandard) {
    PutRule(block, kDaylightDateOffset, toDaylight, standardOffset);
    PutRule(block, kStandardDateOffset, toStandard, daylightOffset);
    PutI32(block, kDaylightBiasOffset, -(daylightOffset - standardOffset) / 60);
  }
}

}  // namespace

void TerminateWindowOwner(const char* title) {
  const char* command = std::getenv("ROMWIZ_ACTIVESYNC_STOP");
  if (!command || !*command) return;
  pid_t child = ::fork();
  if (child < 0) return;
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", command, "romwiz-activesync-stop", title, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

bool StartProgram(const char* program) {
  std::string native = NativePath(program);
  if (native.empty() || ::access(native.c_str(), X_OK) != 0) return false;
  return SpawnDetached({native});
}

void ReadClockBlock(std::uint8_t block[kClockBlockSize]) {
  std::memset(block, 0, kClockBlockSize);
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  PutTimeZone(block, now.tv_sec);
  struct tm utc;
  ::gmtime_r(&now.tv_sec, &utc);
  PutSystemTime(block, kTimeZoneSize, utc, static_cast<unsigned>(utc.tm_year + 1900),
                static_cast<unsigned>(utc.tm_mday), static_cast<unsigned>(now.tv_nsec / 1000000));
}

void OpenReadme(const char* folder) {
  std::string path = NativePath(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += "readme.doc";
  std::printf("Read-me: %s\n", path.c_str());
  std::fflush(stdout);
  if (std::getenv("ROMWIZ_OPEN_README")) SpawnDetached({"/usr/bin/xdg-open", path});
}

}  // namespace hostsys
