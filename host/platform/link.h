// Link seam: the serial COM port or the USB-serial device of the Windows CE
// USB host driver, opened by its Windows device name ("\\.\COM1",
// "\\.\WCEUSBSH001").
//
// Win32 (link_win32.cpp): overlapped comm I/O on the real device.
// Linux (link_posix.cpp): termios on a tty. The device names are resolved the
// way Wine does it, through symlinks in $XDG_CONFIG_HOME/romwiz/dosdevices/
// ("com1", "wceusbsh001", lower case; XDG_CONFIG_HOME defaults to ~/.config),
// falling back to /dev/ttyS{n-1} and /dev/ttyUSB0. The USB driver's device
// controls are emulated over the tty with the same meaning: arm a mask, wait
// for an event (data available), reset.
//
// Threads: one reader thread waits and reads, one worker thread writes;
// CancelWait may be called from any thread. Every wait runs in short slices
// and returns as soon as `stop` is set or CancelWait was called.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace linkport {

struct Port;  // opaque, owned by whoever opened it

// Comm event bits (the values of the Win32 EV_ constants).
constexpr std::uint32_t kEventRxChar = 0x0001;
constexpr std::uint32_t kEventCts = 0x0008;
constexpr std::uint32_t kEventDsr = 0x0010;
constexpr std::uint32_t kEventRlsd = 0x0020;
constexpr std::uint32_t kEventErr = 0x0080;
constexpr std::uint32_t kEventRing = 0x0100;

// The USB-serial driver's device control codes.
constexpr std::uint32_t kUsbArmMaskControl = 0x1B0028;
constexpr std::uint32_t kUsbWaitEventControl = 0x1B002C;
constexpr std::uint32_t kUsbResetControl = 0x1B0030;

// How long one slice of a wait lasts before the stop flag is looked at again
// (real milliseconds).
constexpr std::uint32_t kWaitSliceMs = 20;

// Opens the device exclusively (no sharing) for overlapped I/O. Null when it
// cannot be opened. On Linux a name that is not a Windows device name but a
// path ("/dev/ttyUSB0") is opened as that path.
Port* Open(const char* deviceName);

// Why Open failed, in the user's terms.
enum class OpenFailure {
  NoSuchDevice,      // nothing by that name
  PermissionDenied,  // the user may not open it; `group` names who may (Linux)
  Busy,              // another program holds it
  Other,
};
// Classifies `code` (the system code Open left) for `deviceName`. On Linux a
// permission failure fills `group` with the group that owns the device when
// that group may read and write it (empty otherwise); elsewhere `group` is
// left empty.
OpenFailure DescribeOpenFailure(const char* deviceName, std::uint32_t code, char* group,
                                std::size_t groupCapacity);

// The device control block of the link: 115200 baud, 8 data bits, no parity,
// 1 stop bit, binary, parity checking on, no CTS/DSR/XON-XOFF flow control,
// DTR and RTS enabled, no error-character replacement, NUL bytes kept, no
// abort on error. Other fields keep what the device reported.
bool ApplySettings(Port* port);

// Read time-outs "return at once with what is already there".
bool SetReadReturnAtOnce(Port* port);

// Raises DTR, then RTS. Lines a device lacks (a pseudo-terminal has none)
// are not an error.
void RaiseDtrThenRts(Port* port);

bool SetEventMask(Port* port, std::uint32_t mask);

enum class WaitResult {
  Event,        // `events` holds what occurred
  Stopped,      // `stop` was set or CancelWait was called
  Failed,       // port error: the reader must end
  Unsupported,  // the driver cannot wait for events (fails at once): poll instead
};

// Waits for one of the events of the mask set by SetEventMask.
WaitResult WaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop);

// Reads at most `capacity` bytes, returning at once: the count read (0 when
// nothing is there), or -1 on a port error.
long Read(Port* port, void* buffer, std::uint32_t capacity, const std::atomic<bool>& stop);

// Writes `length` bytes and waits for them to go out: the count written
// (less than `length` when `stop` was set or the wait was cancelled), or -1
// on a port error.
long Write(Port* port, const void* data, std::uint32_t length, const std::atomic<bool>& stop);

// The USB driver's controls: arm with `mask` as 4-byte input; wait for an
// event, receiving the events that occurred in `events`; reset with `mask`.
// Arming tells apart a device that does not know the controls at all (an
// ordinary serial port, or Wine's serial driver): the reader then polls.
enum class ControlResult { Done, Failed, Unsupported };
ControlResult UsbArmMask(Port* port, std::uint32_t mask);
WaitResult UsbWaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop);
bool UsbReset(Port* port, std::uint32_t mask);

// Makes the pending and every later wait of this port return Stopped at once.
void CancelWait(Port* port);

// Closes the device and releases everything the port holds. No thread may use
// the port during or after Close.
void Close(Port* port);

}  // namespace linkport
