// The handheld's changeable state, kept in the state folder as a small text
// file ("state.txt", one `key=value` per line) so that control commands from
// scripts and the running daemon share it: the daemon rereads it on every
// request, and every change is a locked read-modify-write with an atomic
// rename, so a daemon restart continues where it was.
//
// Keys: mode (wince, loader, bootloader, off), link (serial, usb: the loader
// that runs when the flash's loader block does not name one), power (adapter, battery),
// battery_percent, flash_mb, clock_offset_ms (handheld UTC minus host UTC),
// tz_bias, tz_standard_name, tz_daylight_name (text; a backslash, CR or LF
// in it written \\, \r, \n), tz_block (172 bytes in hex),
// fault.fail_call (comma list of Ce... names), fault.no_start (comma list of
// program file names), fault.probe_silent, fault.no_answer, fault.init_fails
// (0 or 1), fault.link_silent_after_bytes, fault.link_silent_after_messages,
// fault.link_noise_before_message, fault.link_drop_after_bytes,
// fault.link_hold_at_piece, fault.backup_stall_after_chunks,
// fault.backup_short_chunk, fault.backup_slow_chunk (counts; empty for
// never), fault.backup_slow_ms, boots (restarts so
// far: a reset restarts the running loader even when the mode stays),
// link_held_at_piece (the piece the running peer holds inside; 0: none).
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace handheld {

enum class Mode { WinCE, Loader, BootLoader, Off };

constexpr std::uint64_t kNoLinkFault = ~static_cast<std::uint64_t>(0);

const char* ModeName(Mode mode);
bool ParseMode(const std::string& text, Mode& mode);

struct Faults {
  std::set<std::string> failCalls;  // remote calls that fail, e.g. "CeCreateProcess"
  std::set<std::string> noStart;    // program file names (lower case) that do not start
  bool probeSilent = false;         // GetType.exe starts but never writes type.dat
  bool noAnswer = false;            // the remote-API service reads but never answers
  bool initFails = false;           // the connection attempt ends with a failure code
  // Link faults of the loader and boot-loader peers, counted from the peer's
  // start; kNoLinkFault for none.
  std::uint64_t linkSilentAfterBytes = kNoLinkFault;
  std::uint64_t linkSilentAfterMessages = kNoLinkFault;
  std::uint64_t linkNoiseBeforeMessage = kNoLinkFault;
  std::uint64_t linkDropAfterBytes = kNoLinkFault;
  std::uint64_t linkHoldAtPiece = kNoLinkFault;  // piece or block, from 1; 0: the loader's ready answer
  // backup.exe: writes this many chunks, then no more; and the chunk of this
  // number (1 = the first) stays kBackupShortBytes short. kNoLinkFault for none.
  std::uint64_t backupStallAfterChunks = kNoLinkFault;
  std::uint64_t backupShortChunk = kNoLinkFault;
  // backup.exe holds the chunk of this number back this many real
  // milliseconds before it writes it (a slow handheld). kNoLinkFault: none.
  std::uint64_t backupSlowChunk = kNoLinkFault;
  std::uint64_t backupSlowMs = 0;
};

struct HandheldState {
  Mode mode = Mode::WinCE;
  bool usbLink = false;  // the loader flavour when the flash does not tell
  bool onAdapter = true;
  std::uint32_t batteryPercent = 100;
  std::uint32_t flashMb = 32;
  std::int64_t clockOffsetMs = 0;
  std::int32_t tzBias = 0;
  std::string tzStandardName;
  std::string tzDaylightName;
  std::vector<std::uint8_t> tzBlock;  // the last TIME_ZONE_INFORMATION set (172 bytes) or empty
  Faults faults;
  std::uint32_t boots = 0;
  std::uint64_t linkHeldAtPiece = 0;
};

std::string StatePath(const std::string& folder);
// Reads the state; false (and defaults) when the file is missing or unreadable.
bool LoadState(const std::string& folder, HandheldState& state);
// Writes the whole state atomically (temporary file + rename).
bool SaveState(const std::string& folder, const HandheldState& state);
// Locked read-modify-write, safe against a daemon writing at the same time.
bool UpdateState(const std::string& folder, const std::function<void(HandheldState&)>& change);

std::string FormatState(const HandheldState& state);
void ParseState(const std::string& text, HandheldState& state);

}  // namespace handheld
