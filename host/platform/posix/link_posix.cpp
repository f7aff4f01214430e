// Link seam on Linux: termios on a tty (a serial port, a USB-serial adapter or
// the pseudo-terminal of the simulated handheld). Windows device names are
// resolved through Wine-style `dosdevices` symlinks. A self-pipe makes every
// wait cancellable from another thread.
//
// ROMWIZ_LINK_NO_EVENT_WAIT=1 makes event waits and the USB controls report
// Unsupported, as Windows drivers that cannot wait for modem-line events (and
// Wine's serial driver, which knows no USB controls) do; the readers then
// poll. It lets that path run on Linux too.
#include "platform/link.h"
#include "platform/posix/link_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace linkport {

struct Port {
  int fd = -1;
  int cancelRead = -1;   // becomes readable once CancelWait was called
  int cancelWrite = -1;
  bool eventWaitUnsupported = false;
  std::uint32_t eventMask = 0;
  std::uint32_t usbMask = 0;
};

namespace {

constexpr const char kDevicePrefix[] = "\\\\.\\";  // \\.\ before a device name

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != 0) return std::string(xdg) + "/romwiz";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config/romwiz";
}

std::string Lower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool Cancelled(const Port* port) {
  pollfd cancel{port->cancelRead, POLLIN, 0};
  return poll(&cancel, 1, 0) > 0;
}

enum class Ready { Yes, Stopped, Failed };

// Waits in slices until the tty is ready for `what` (POLLIN or POLLOUT).
Ready WaitReady(Port* port, short what, const std::atomic<bool>& stop) {
  for (;;) {
    if (stop) return Ready::Stopped;
    pollfd fds[2] = {{port->fd, what, 0}, {port->cancelRead, POLLIN, 0}};
    int n = poll(fds, 2, static_cast<int>(kWaitSliceMs));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Ready::Failed;
    }
    if (fds[1].revents != 0) return Ready::Stopped;
    // The other end has gone (hang-up) or the device failed. Checked first:
    // a hung-up tty also reports itself readable, and its reads return 0.
    // errno tells the caller's log what happened, as a failed read would.
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      errno = EIO;
      return Ready::Failed;
    }
    if (fds[0].revents & what) return Ready::Yes;
  }
}

}  // namespace

std::string ResolveDeviceName(const char* deviceName) {
  std::string name = deviceName != nullptr ? deviceName : "";
  if (name.compare(0, sizeof kDevicePrefix - 1, kDevicePrefix) != 0) return "";
  std::string device = Lower(name.substr(sizeof kDevicePrefix - 1));
  std::string symlink = ConfigFolder() + "/dosdevices/" + device;
  if (Exists(symlink)) return symlink;
  if (device == "wceusbsh001") return "/dev/ttyUSB0";
  if (device.size() > 3 && device.compare(0, 3, "com") == 0) {
    char* end = nullptr;
    long number = std::strtol(device.c_str() + 3, &end, 10);
    if (*end == 0 && number >= 1 && number <= 256) return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "";
}

// A Windows device name through dosdevices; any other name with a "/" is a
// path of its own (romwiz-flash --port /dev/ttyUSB0).
std::string DevicePath(const char* deviceName) {
  std::string path = ResolveDeviceName(deviceName);
  if (path.empty() && deviceName != nullptr && std::strchr(deviceName, '/') != nullptr) path = deviceName;
  return path;
}

OpenFailure DescribeOpenFailure(const char* deviceName, std::uint32_t code, char* group,
                                std::size_t groupCapacity) {
  if (groupCapacity > 0) group[0] = 0;
  switch (static_cast<int>(code)) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return OpenFailure::NoSuchDevice;
    case EACCES:
    case EPERM: {
      struct stat info {};
      std::string path = DevicePath(deviceName);
      // A group is named only when its members may read and write the
      // device: joining it then helps.
      const mode_t groupReadWrite = S_IRGRP | S_IWGRP;
      if (groupCapacity > 0 && !path.empty() && stat(path.c_str(), &info) == 0 &&
          (info.st_mode & groupReadWrite) == groupReadWrite) {
        if (const struct group* owner = getgrgid(info.st_gid)) {
          std::snprintf(group, groupCapacity, "%s", owner->gr_name);
        }
      }
      return OpenFailure::PermissionDenied;
    }
    case EBUSY:
    case EWOULDBLOCK:
      return OpenFailure::Busy;
    default:
      return OpenFailure::Other;
  }
}

Port* Open(const char* deviceName) {
  std::string path = DevicePath(deviceName);
  if (path.empty()) {
    errno = ENOENT;  // no such device, as Windows reports ERROR_FILE_NOT_FOUND
    return nullptr;
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // No sharing: a second opener (another wizard) is refused, as CreateFileA
  // with share mode 0 refuses it on Windows. errno is kept across the close
  // for the caller's log.
  int pipeFds[2];
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    int code = errno;
    close(fd);
    errno = code;
    return nullptr;
  }
  Port* port = new Port;
  port->fd = fd;
  port->cancelRead = pipeFds[0];
  port->cancelWrite = pipeFds[1];
  const char* noWait = std::getenv("ROMWIZ_LINK_NO_EVENT_WAIT");
  port->eventWaitUnsupported = noWait != nullptr && std::strcmp(noWait, "1") == 0;
  return port;
}

bool ApplySettings(Port* port) {
  termios settings{};
  if (tcgetattr(port->fd, &settings) != 0) return false;
  cfmakeraw(&settings);  // binary: no line editing, no translation, no echo
  cfsetispeed(&settings, B115200);
  cfsetospeed(&settings, B115200);
  settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | PARMRK);
  settings.c_iflag |= INPCK;  // parity checking on (no parity bit is in use)
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  return tcsetattr(port->fd, TCSANOW, &settings) == 0;
}

bool SetReadReturnAtOnce(Port* port) {
  // The descriptor is non-blocking and VMIN = VTIME = 0: reads already
  // return at once with what is there.
  return port->fd >= 0;
}

void RaiseDtrThenRts(Port* port) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  // A pseudo-terminal has no modem lines; the failure is harmless.
  (void)ioctl(port->fd, TIOCMBIS, &dtr);
  (void)ioctl(port->fd, TIOCMBIS, &rts);
}

bool SetEventMask(Port* port, std::uint32_t mask) {
  port->eventMask = mask;
  return true;
}

// Only received characters are reported: a tty offers no wait for modem-line
// changes that works on every device (pseudo-terminals have no lines).
WaitResult WaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  events = 0;
  if (port->eventWaitUnsupported) return WaitResult::Unsupported;
  if ((port->eventMask & kEventRxChar) == 0) {
    // Nothing that can be reported: wait for the stop like a driver would.
    while (!stop && !Cancelled(port)) usleep(kWaitSliceMs * 1000);
    return WaitResult::Stopped;
  }
  switch (WaitReady(port, POLLIN, stop)) {
    case Ready::Yes:
      events = kEventRxChar;
      return WaitResult::Event;
    case Ready::Stopped:
      return WaitResult::Stopped;
    case Ready::Failed:
      break;
  }
  return WaitResult::Failed;
}

long Read(Port* port, void* buffer, std::uint32_t capacity, const std::atomic<bool>& stop) {
  (void)stop;  // reads never wait
  for (;;) {
    ssize_t n = read(port->fd, buffer, capacity);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;  // EIO: the other end of the line has gone
  }
}

long Write(Port* port, const void* data, std::uint32_t length, const std::atomic<bool>& stop) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::uint32_t written = 0;
  while (written < length) {
    ssize_t n = write(port->fd, bytes + written, length - written);
    if (n > 0) {
      written += static_cast<std::uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    switch (WaitReady(port, POLLOUT, stop)) {
      case Ready::Yes:
        break;
      case Ready::Stopped:
        return static_cast<long>(written);
      case Ready::Failed:
        return -1;
    }
  }
  // Wait for the bytes to leave the driver, as an overlapped write completes
  // once its bytes are out; a stop ends the wait early.
  while (!stop && !Cancelled(port)) {
    int queued = 0;
    if (ioctl(port->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    usleep(1000);
  }
  return static_cast<long>(written);
}

ControlResult UsbArmMask(Port* port, std::uint32_t mask) {
  if (port->eventWaitUnsupported) return ControlResult::Unsupported;
  port->usbMask = mask;
  return ControlResult::Done;
}

WaitResult UsbWaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  events = 0;
  switch (WaitReady(port, POLLIN, stop)) {
    case Ready::Yes:
      events = kEventRxChar;
      return WaitResult::Event;
    case Ready::Stopped:
      return WaitResult::Stopped;
    case Ready::Failed:
      break;
  }
  return WaitResult::Failed;
}

bool UsbReset(Port* port, std::uint32_t mask) {
  // The driver's reset clears its event state; a tty keeps none beyond the
  // armed mask.
  port->usbMask = mask;
  return true;
}

void CancelWait(Port* port) {
  if (port == nullptr) return;
  const char byte = 1;
  // A full pipe is already readable, so a failed write changes nothing.
  (void)!write(port->cancelWrite, &byte, 1);
}

void Close(Port* port) {
  if (port == nullptr) return;
  close(port->fd);
  close(port->cancelRead);
  close(port->cancelWrite);
  delete port;
}

}  // namespace linkport
