// Port layer: opens the link to the handheld (serial COM port or the
// USB-serial device), sends bytes over it, and runs the one reader thread that
// collects what the handheld sends into `ReceiveBuffer`, which the download
// protocol polls.
//
// Sharing: `ReceiveBuffer` is shared by the reader (which clears it and
// appends or stores bytes) and the protocol worker (which polls it and clears
// its first two bytes) without locks; every access is one atomic byte.
// `ReceiveCursor` is an index that never leaves the buffer.
//
// Ownership: `LinkHandle` and `ReaderThread` are taken (exchanged for null)
// by whoever closes them, so nothing is closed twice. ShutDownLink stops the
// reader, waits for it and for a send in progress, then closes the port: no
// reader outlives the link it reads.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "platform/link.h"

namespace wizard {

constexpr std::size_t kReceiveBufferSize = 1000;
// Appends stop short of the last byte, which stays 0 so that the buffer always
// reads as a NUL-terminated string.
constexpr std::size_t kReceiveLimit = kReceiveBufferSize - 1;
// Bytes kept when a full buffer starts over: one less than "download", so a
// prompt split across the restart is still found.
constexpr std::size_t kReceiveKeepOnRestart = 7;
// What the place after the last received byte holds until the next byte
// comes (never 0: see AppendReceivedByte).
constexpr std::uint8_t kNotYetReceived = 0xFF;
constexpr std::uint32_t kSendPieceSize = 12288;  // 0x3000
constexpr int kOpenPortFailureScreen = 143;      // "ERROR 105: OPEN PORT FAILURE"
constexpr std::size_t kLinkDevicePathCapacity = 260;  // a link device path with its NUL

// Event masks of the readers.
constexpr std::uint32_t kFirstSerialEventMask = 0x139;  // RXCHAR CTS DSR RLSD RING
constexpr std::uint32_t kSerialEventMask = 0x119;       // RXCHAR CTS DSR RING
constexpr std::uint32_t kUsbEventMask = 0xB9;           // RXCHAR CTS DSR RLSD ERR

// Waits of the link in wizard milliseconds.
constexpr std::uint32_t kMessageLinkSettleMs = 20000;     // handheld restarts into its loader
constexpr std::uint32_t kBootLoaderLinkSettleMs = 1000;
constexpr std::uint32_t kAfterMessageSleepMs = 1000;      // serial reader, after a whole message
constexpr std::uint32_t kAfterPromptSleepMs = 100;        // boot loader reader
constexpr std::uint32_t kPolledReadIntervalMs = 10;       // when the driver cannot wait for events
// Real milliseconds: how long a new reader may take to become ready, and how
// long ShutDownLink waits for a reader or a send to end.
constexpr std::uint32_t kReaderReadyLimitMs = 5000;
constexpr std::uint32_t kReaderStopLimitMs = 2000;

// The 1000 bytes the handheld sent since the buffer was last cleared.
class ReceiveBufferBytes {
 public:
  std::uint8_t At(std::size_t index) const;  // 0 beyond the end
  void Set(std::size_t index, std::uint8_t value);
  void Clear();         // all 1000 bytes
  void ClearFirstTwo();
  // Bytes `index` and `index + 1` are `first` and `second`.
  bool MessageAt(std::size_t index, std::uint8_t first, std::uint8_t second) const;
  // Searches the content read as a NUL-terminated string, never past the end.
  bool ContainsByte(std::uint8_t value) const;
  bool ContainsText(const char* text) const;
  // Where `value` or `text` first is in that string; -1 when it is not.
  int IndexOf(std::uint8_t value) const;
  int IndexOfText(const char* text) const;

 private:
  std::atomic<std::uint8_t> bytes_[kReceiveBufferSize] = {};
};

extern ReceiveBufferBytes ReceiveBuffer;
extern std::atomic<std::uint32_t> ReceiveCursor;  // index of the next received byte
extern std::atomic<bool> ReaderReady;
extern std::atomic<linkport::Port*> LinkHandle;
extern std::atomic<platform::Thread*> ReaderThread;

// Clears the whole buffer (or its first two bytes) and resets the cursor.
void ClearReceiveBuffer();
void ClearReceiveMessage();
// Appends at the cursor and marks the place after it kNotYetReceived; a full
// buffer starts over keeping its last kReceiveKeepOnRestart bytes.
void AppendReceivedByte(std::uint8_t value);

// Who tells the user that the port cannot be opened. Screens belong to the
// GUI thread: a call made there shows the error at once (the upgrade
// preparation); a call made on a download worker leaves it to the worker,
// which asks the progress screen's closing to show it (FailWith in the
// download).
enum class PortFailureReport { ShowScreen, LeaveToCaller };

// Opens and configures the port for `portName` ("COM3:"; empty means
// "COM1:"), by ConnectionType and Critical, and stores it in LinkHandle.
// On failure it returns 0; with ShowScreen it has first closed the preparing
// screen with 2, hidden the progress screen, shown "ERROR 105: OPEN PORT
// FAILURE" and ended the wizard.
int OpenLinkPort(const char* portName, PortFailureReport report = PortFailureReport::ShowScreen);
// The device path OpenLinkPort uses for `portName`.
void LinkDevicePath(const char* portName, char* path, std::size_t capacity);
// For a program that names the device itself (romwiz-flash --port): every
// later open uses `devicePath` ("\\.\COM3", "/dev/ttyUSB0") as it is, whatever
// the port name, ConnectionType and Critical say. Null or empty goes back to
// the wizard's rules. Set before a link starts.
void UseLinkDevice(const char* devicePath);
// The system's code for the last open that failed (0: none yet), for a
// message in the user's terms.
std::uint32_t LastOpenFailureCode();

// Sends `length` bytes in pieces of at most kSendPieceSize, each written in
// full and waited for before the next. True when every byte went out; false
// on a port error, a closed link or StopWorkers.
bool SendBytes(const void* data, std::uint32_t length);

// Loader path: waits 20 s, opens the port, starts the serial or USB message
// reader. Boot loader path: waits 1 s, opens the port, starts the boot loader
// reader. Both return 1 once the reader is ready; 0 when the port failed
// (reported as `report` says, as OpenLinkPort does).
// `settleMs` (wizard milliseconds) is how long the handheld is given to
// restart into its loader first; a flasher whose handheld already sits in
// the loader gives it none.
int StartMessageLink(PortFailureReport report = PortFailureReport::ShowScreen,
                     std::uint32_t settleMs = kMessageLinkSettleMs);
int StartBootLoaderLink(PortFailureReport report = PortFailureReport::ShowScreen);

// Stops the link: sets StopWorkers, cancels the reader's wait, joins the
// reader, waits for a send in progress, closes the port. Safe to call when
// no link is open and more than once.
void ShutDownLink();

// For tests and the benchmark: called with the length of every piece
// SendBytes writes (null: nobody listens). Set it before a transfer starts.
using SendPieceObserver = void (*)(std::uint32_t length);
void SetSendPieceObserver(SendPieceObserver observer);

}  // namespace wizard
