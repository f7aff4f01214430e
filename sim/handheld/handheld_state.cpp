#include "handheld_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace handheld {
namespace {

constexpr const char* kStateFile = "state.txt";
constexpr const char* kLockFile = "state.lock";

std::string JoinList(const std::set<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

std::set<std::string> SplitList(const std::string& text) {
  std::set<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) items.insert(item);
  return items;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Free text (the time-zone names the PC sends) on a line of its own: a
// backslash, CR or LF in it is escaped, so that a value can neither end its
// line early nor start a key of its own.
std::string EscapeText(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string UnescapeText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

std::vector<std::uint8_t> Unhex(const std::string& text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return out;
}

// An advisory lock on the state folder's lock file, released on scope exit.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder) {
    fd_ = ::open((folder + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::WinCE: return "wince";
    case Mode::Loader: return "loader";
    case Mode::BootLoader: return "bootloader";
    case Mode::Off: return "off";
  }
  return "off";
}

bool ParseMode(const std::string& text, Mode& mode) {
  for (Mode m : {Mode::WinCE, Mode::Loader, Mode::BootLoader, Mode::Off})
    if (text == ModeName(m)) {
      mode = m;
      return true;
    }
  return false;
}

std::string StatePath(const std::string& folder) { return folder + "/" + kStateFile; }

std::string FormatState(const HandheldState& s) {
  std::ostringstream out;
  auto count = [](std::uint64_t v) { return v == kNoLinkFault ? std::string() : std::to_string(v); };
  out << "mode=" << ModeName(s.mode) << "\n"
      << "link=" << (s.usbLink ? "usb" : "serial") << "\n"
      << "power=" << (s.onAdapter ? "adapter" : "battery") << "\n"
      << "battery_percent=" << s.batteryPercent << "\n"
      << "flash_mb=" << s.flashMb << "\n"
      << "clock_offset_ms=" << s.clockOffsetMs << "\n"
      << "tz_bias=" << s.tzBias << "\n"
      << "tz_standard_name=" << EscapeText(s.tzStandardName) << "\n"
      << "tz_daylight_name=" << EscapeText(s.tzDaylightName) << "\n"
      << "tz_block=" << Hex(s.tzBlock) << "\n"
      << "fault.fail_call=" << JoinList(s.faults.failCalls) << "\n"
      << "fault.no_start=" << JoinList(s.faults.noStart) << "\n"
      << "fault.probe_silent=" << (s.faults.probeSilent ? 1 : 0) << "\n"
      << "fault.no_answer=" << (s.faults.noAnswer ? 1 : 0) << "\n"
      << "fault.init_fails=" << (s.faults.initFails ? 1 : 0) << "\n"
      << "fault.link_silent_after_bytes=" << count(s.faults.linkSilentAfterBytes) << "\n"
      << "fault.link_silent_after_messages=" << count(s.faults.linkSilentAfterMessages) << "\n"
      << "fault.link_noise_before_message=" << count(s.faults.linkNoiseBeforeMessage) << "\n"
      << "fault.link_drop_after_bytes=" << count(s.faults.linkDropAfterBytes) << "\n"
      << "fault.link_hold_at_piece=" << count(s.faults.linkHoldAtPiece) << "\n"
      << "fault.backup_stall_after_chunks=" << count(s.faults.backupStallAfterChunks) << "\n"
      << "fault.backup_short_chunk=" << count(s.faults.backupShortChunk) << "\n"
      << "fault.backup_slow_chunk=" << count(s.faults.backupSlowChunk) << "\n"
      << "fault.backup_slow_ms=" << s.faults.backupSlowMs << "\n"
      << "boots=" << s.boots << "\n"
      << "link_held_at_piece=" << s.linkHeldAtPiece << "\n";
  return out.str();
}

void ParseState(const std::string& text, HandheldState& s) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    auto count = [&](std::uint64_t& field) { field = value.empty() ? kNoLinkFault : std::stoull(value); };
    try {
      if (key == "mode") ParseMode(value, s.mode);
      else if (key == "link") s.usbLink = (value == "usb");
      else if (key == "fault.link_silent_after_bytes") count(s.faults.linkSilentAfterBytes);
      else if (key == "fault.link_silent_after_messages") count(s.faults.linkSilentAfterMessages);
      else if (key == "fault.link_noise_before_message") count(s.faults.linkNoiseBeforeMessage);
      else if (key == "fault.link_drop_after_bytes") count(s.faults.linkDropAfterBytes);
      else if (key == "fault.link_hold_at_piece") count(s.faults.linkHoldAtPiece);
      else if (key == "fault.backup_stall_after_chunks") count(s.faults.backupStallAfterChunks);
      else if (key == "fault.backup_short_chunk") count(s.faults.backupShortChunk);
      else if (key == "fault.backup_slow_chunk") count(s.faults.backupSlowChunk);
      else if (key == "fault.backup_slow_ms") s.faults.backupSlowMs = std::stoull(value);
      else if (key == "boots") s.boots = static_cast<std::uint32_t>(std::stoul(value));
      else if (key == "link_held_at_piece") s.linkHeldAtPiece = std::stoull(value);
      else if (key == "power") s.onAdapter = (value != "battery");
      else if (key == "battery_percent") s.batteryPercent = static_cast<std::uint32_t>(std::stoul(value));
      else if (key == "flash_mb") s.flashMb = static_cast<std::uint32_t>(std::stoul(value));
      else if (key == "clock_offset_ms") s.clockOffsetMs = std::stoll(value);
      else if (key == "tz_bias") s.tzBias = static_cast<std::int32_t>(std::stol(value));
      else if (key == "tz_standard_name") s.tzStandardName = UnescapeText(value);
      else if (key == "tz_daylight_name") s.tzDaylightName = UnescapeText(value);
      else if (key == "tz_block") s.tzBlock = Unhex(value);
      else if (key == "fault.fail_call") s.faults.failCalls = SplitList(value);
      else if (key == "fault.no_start") s.faults.noStart = SplitList(value);
      else if (key == "fault.probe_silent") s.faults.probeSilent = (value == "1");
      else if (key == "fault.no_answer") s.faults.noAnswer = (value == "1");
      else if (key == "fault.init_fails") s.faults.initFails = (value == "1");
    } catch (const std::exception&) {
      // A hand-edited value that is not a number keeps its default.
    }
  }
}

bool LoadState(const std::string& folder, HandheldState& state) {
  state = HandheldState{};
  std::ifstream in(StatePath(folder));
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  ParseState(text.str(), state);
  return true;
}

bool SaveState(const std::string& folder, const HandheldState& state) {
  const std::string path = StatePath(folder), temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    if (!out) return false;
    out << FormatState(state);
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool UpdateState(const std::string& folder, const std::function<void(HandheldState&)>& change) {
  FolderLock lock(folder);
  if (!lock.Held()) return false;
  HandheldState state;
  if (!LoadState(folder, state)) return false;
  change(state);
  return SaveState(folder, state);
}

}  // namespace handheld
