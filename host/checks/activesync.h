// ActiveSync control and the handheld's clock. ActiveSync holds the serial
// port or the USB-serial device while it runs; the wizard stops it before a
// transfer and restarts it afterwards. All operations here are silent.
#pragma once
#include <cstddef>

namespace wizard {

// Ends the processes owning ActiveSync's windows "DccMan" and "WCES Manager
// Thunk Window". Titles that are not found leave everything as it was.
void StopActiveSync();
// Starts WCESCOMM.EXE from its App Paths entry. Returns the registry error
// code when the path cannot be read, else 1 when the program was started and
// 0 when it was not. Callers ignore it.
long RestartActiveSync();
// The serial port ActiveSync is set to use, as "COMn:" in `out` (capacity
// `capacity`, at least 100 for the wizard's SerialPortName); empty when the
// connection is USB without a critical record, or when there is no setting.
void ReadSerialPortSetting(char* out, std::size_t capacity);
constexpr std::size_t kSerialPortNameCapacity = 100;
template <std::size_t N>
void ReadSerialPortSetting(char (&out)[N]) {
  static_assert(N >= kSerialPortNameCapacity, "the port name buffer holds at least 100 characters");
  ReadSerialPortSetting(out, N);
}
// Sets the handheld's time zone and clock from the PC's through
// "SetSystemTime.dll". Returns 0 only when the remote API cannot be started.
int SetDeviceClock();
// Copies a PC file to the handheld in 256-byte pieces. 1 on success.
int CopyFileToDevice(const char* pcPath, const char* devicePath);

}  // namespace wizard
