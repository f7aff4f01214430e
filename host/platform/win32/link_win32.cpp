// Link seam on Win32: overlapped comm I/O on the COM port or the USB-serial
// device of the Windows CE USB host driver. Every wait runs in slices on the
// operation's event and the port's cancel event, so a stop or a CancelWait
// ends it; the thread that issued an operation cancels it (CancelIo) and lets
// it finish before its overlapped record is reused or freed.
#include "platform/link.h"

#include <windows.h>

namespace linkport {

struct Port {
  HANDLE handle = INVALID_HANDLE_VALUE;
  OVERLAPPED readerIo{};   // waits, reads and device controls of the reader
  OVERLAPPED writerIo{};   // writes of the protocol worker
  HANDLE cancelEvent = nullptr;  // manual reset; set by CancelWait
  DWORD waitEvents = 0;    // written by a pending WaitCommEvent
  DWORD usbMask = 0;       // buffer of a pending USB control
  bool readsGoPending = false;  // a read went pending despite the return-at-once time-outs
};

namespace {

enum class Done { Yes, Stopped, Failed };

// How often a pending event wait looks at the input queue itself.
constexpr DWORD kQueuePeekMs = 10;

// Waits for the overlapped operation `io` that this thread started and that
// is pending. On a stop it is cancelled and awaited, so that nothing writes
// into its buffers afterwards.
Done AwaitPending(Port* port, OVERLAPPED& io, DWORD& transferred, const std::atomic<bool>& stop) {
  HANDLE events[2] = {io.hEvent, port->cancelEvent};
  for (;;) {
    if (!stop) {
      DWORD which = WaitForMultipleObjects(2, events, FALSE, kWaitSliceMs);
      if (which == WAIT_OBJECT_0) {
        return GetOverlappedResult(port->handle, &io, &transferred, FALSE) ? Done::Yes : Done::Failed;
      }
      if (which == WAIT_TIMEOUT) continue;
      if (which == WAIT_FAILED) return Done::Failed;
    }
    // Stopped or cancelled: cancel our own operation and let it finish.
    CancelIo(port->handle);
    GetOverlappedResult(port->handle, &io, &transferred, TRUE);
    return Done::Stopped;
  }
}

// Starts an overlapped call that returned `started`; waits when it is pending.
Done Complete(Port* port, BOOL started, OVERLAPPED& io, DWORD& transferred, const std::atomic<bool>& stop) {
  if (started) return GetOverlappedResult(port->handle, &io, &transferred, FALSE) ? Done::Yes : Done::Failed;
  if (GetLastError() != ERROR_IO_PENDING) return Done::Failed;
  return AwaitPending(port, io, transferred, stop);
}

bool Cancelled(const Port* port) { return WaitForSingleObject(port->cancelEvent, 0) == WAIT_OBJECT_0; }

WaitResult ToWaitResult(Done done) {
  switch (done) {
    case Done::Yes:
      return WaitResult::Event;
    case Done::Stopped:
      return WaitResult::Stopped;
    case Done::Failed:
      break;
  }
  return WaitResult::Failed;
}

// A manual-reset event, created signalled.
HANDLE NewIoEvent() { return CreateEventA(nullptr, TRUE, TRUE, nullptr); }

// A device control on the reader's overlapped record.
Done Control(Port* port, DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
             const std::atomic<bool>& stop) {
  DWORD returned = 0;
  BOOL started = DeviceIoControl(port->handle, code, input, inputSize, output, outputSize, &returned,
                                 &port->readerIo);
  return Complete(port, started, port->readerIo, returned, stop);
}

// USB controls that only arm or reset run to their end; nothing stops them.
const std::atomic<bool> kNeverStop{false};

}  // namespace

Port* Open(const char* deviceName) {
  HANDLE handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  Port* port = new Port;
  port->handle = handle;
  port->readerIo.hEvent = NewIoEvent();
  port->writerIo.hEvent = NewIoEvent();
  port->cancelEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (port->readerIo.hEvent == nullptr || port->writerIo.hEvent == nullptr || port->cancelEvent == nullptr) {
    Close(port);
    return nullptr;
  }
  return port;
}

// Windows reports a COM port that another program holds as "access denied":
// for a serial device that means busy, not a missing permission.
OpenFailure DescribeOpenFailure(const char*, std::uint32_t code, char* group, std::size_t groupCapacity) {
  if (groupCapacity > 0) group[0] = 0;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return OpenFailure::NoSuchDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenFailure::Busy;
    default:
      return OpenFailure::Other;
  }
}

bool ApplySettings(Port* port) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port->handle, &dcb)) return false;
  dcb.BaudRate = CBR_115200;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return SetCommState(port->handle, &dcb) != FALSE;
}

bool SetReadReturnAtOnce(Port* port) {
  COMMTIMEOUTS timeouts;
  if (!GetCommTimeouts(port->handle, &timeouts)) return false;
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  return SetCommTimeouts(port->handle, &timeouts) != FALSE;
}

void RaiseDtrThenRts(Port* port) {
  EscapeCommFunction(port->handle, SETDTR);
  EscapeCommFunction(port->handle, SETRTS);
}

bool SetEventMask(Port* port, std::uint32_t mask) { return SetCommMask(port->handle, mask) != FALSE; }

// Bytes waiting in the driver's input queue; false when the driver cannot tell.
bool QueueLength(Port* port, DWORD& queued) {
  DWORD errors = 0;
  COMSTAT status;
  ZeroMemory(&status, sizeof status);
  if (!ClearCommError(port->handle, &errors, &status)) return false;
  queued = status.cbInQue;
  return true;
}

// A wait that ended as aborted although nobody cancelled it. Wine's serial
// driver ends a pending WaitCommEvent on a pseudo-terminal that way within
// milliseconds, before any byte has come; ending the reader there left the
// loader's answer unread (the wake-up then timed out with nothing sent). The
// bytes already queued count as the event; otherwise the driver cannot wait,
// and the reader polls as for a driver that refuses the wait outright. Any
// other failure ends the reader.
WaitResult AbortedWait(Port* port, std::uint32_t& events) {
  if (GetLastError() != ERROR_OPERATION_ABORTED) return WaitResult::Failed;
  DWORD queued = 0;
  if (QueueLength(port, queued) && queued > 0) {
    events = kEventRxChar;
    return WaitResult::Event;
  }
  return WaitResult::Unsupported;
}

WaitResult WaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  events = 0;
  if (stop || Cancelled(port)) return WaitResult::Stopped;
  port->waitEvents = 0;
  DWORD transferred = 0;
  if (WaitCommEvent(port->handle, &port->waitEvents, &port->readerIo)) {
    events = port->waitEvents;
    return WaitResult::Event;
  }
  // Some drivers cannot wait (for modem-line events) and fail at once: the
  // reader polls instead of spinning on the failure.
  if (GetLastError() != ERROR_IO_PENDING) return WaitResult::Unsupported;
  HANDLE handles[2] = {port->readerIo.hEvent, port->cancelEvent};
  while (!stop) {
    DWORD which = WaitForMultipleObjects(2, handles, FALSE, kQueuePeekMs);
    if (which == WAIT_OBJECT_0) {
      if (GetOverlappedResult(port->handle, &port->readerIo, &transferred, FALSE)) {
        events = port->waitEvents;
        return WaitResult::Event;
      }
      return AbortedWait(port, events);
    }
    if (which != WAIT_TIMEOUT) break;  // cancelled, or the wait itself failed
    // Other drivers never report received characters on a line without
    // modem hardware (Wine on a pseudo-terminal): bytes in the input queue
    // count as the event.
    DWORD queued = 0;
    if (QueueLength(port, queued) && queued > 0) {
      CancelIo(port->handle);
      GetOverlappedResult(port->handle, &port->readerIo, &transferred, TRUE);
      events = kEventRxChar;
      return WaitResult::Event;
    }
  }
  CancelIo(port->handle);
  GetOverlappedResult(port->handle, &port->readerIo, &transferred, TRUE);
  return WaitResult::Stopped;
}

// A read that the driver leaves pending although the time-outs say "return
// at once": some drivers (Wine's serial driver) hold it until a byte comes.
// Pending means nothing was there when it started, so it is cancelled at once;
// a byte that completed it meanwhile is kept. The readers depend on an empty
// read ending: that is how a burst ends and the next one starts the buffer
// afresh.
static long CancelPendingRead(Port* port) {
  DWORD got = 0;
  CancelIo(port->handle);
  if (GetOverlappedResult(port->handle, &port->readerIo, &got, TRUE)) return static_cast<long>(got);
  return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
}

long Read(Port* port, void* buffer, std::uint32_t capacity, const std::atomic<bool>&) {
  // Once the driver has shown that it holds reads, it is asked for its queue
  // first: an empty queue ends the read at once, as the time-outs ask, and a
  // read of what is queued completes at once. So the end of every burst no
  // longer costs a read that is started only to be cancelled.
  DWORD queued = 0;
  if (port->readsGoPending && QueueLength(port, queued)) {
    if (queued == 0) return 0;
    if (queued < capacity) capacity = queued;
  }
  DWORD got = 0;
  if (ReadFile(port->handle, buffer, capacity, &got, &port->readerIo)) {
    return GetOverlappedResult(port->handle, &port->readerIo, &got, FALSE) ? static_cast<long>(got) : -1;
  }
  if (GetLastError() != ERROR_IO_PENDING) return -1;
  port->readsGoPending = true;
  return CancelPendingRead(port);
}

long Write(Port* port, const void* data, std::uint32_t length, const std::atomic<bool>& stop) {
  const auto* bytes = static_cast<const char*>(data);
  std::uint32_t written = 0;
  while (written < length) {
    if (stop || Cancelled(port)) break;
    DWORD sent = 0;
    BOOL started = WriteFile(port->handle, bytes + written, length - written, &sent, &port->writerIo);
    Done done = Complete(port, started, port->writerIo, sent, stop);
    if (done == Done::Failed) return -1;
    written += sent;  // a short write goes on with the rest
    if (done == Done::Stopped) break;
    if (sent == 0) return -1;  // nothing moved: the device does not take bytes
  }
  return static_cast<long>(written);
}

ControlResult UsbArmMask(Port* port, std::uint32_t mask) {
  port->usbMask = mask;
  DWORD returned = 0;
  BOOL started = DeviceIoControl(port->handle, kUsbArmMaskControl, &port->usbMask, sizeof port->usbMask, nullptr, 0,
                                 &returned, &port->readerIo);
  if (!started) {
    DWORD error = GetLastError();
    // A device without the USB driver's controls refuses them at once.
    if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return ControlResult::Unsupported;
    SetLastError(error);
  }
  return Complete(port, started, port->readerIo, returned, kNeverStop) == Done::Yes ? ControlResult::Done
                                                                                     : ControlResult::Failed;
}

WaitResult UsbWaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  if (stop || Cancelled(port)) return WaitResult::Stopped;
  port->usbMask = 0;
  WaitResult result =
      ToWaitResult(Control(port, kUsbWaitEventControl, nullptr, 0, &port->usbMask, sizeof port->usbMask, stop));
  events = port->usbMask;
  return result;
}

bool UsbReset(Port* port, std::uint32_t mask) {
  port->usbMask = mask;
  return Control(port, kUsbResetControl, &port->usbMask, sizeof port->usbMask, nullptr, 0, kNeverStop) ==
         Done::Yes;
}

void CancelWait(Port* port) {
  if (port != nullptr && port->cancelEvent != nullptr) SetEvent(port->cancelEvent);
}

void Close(Port* port) {
  if (port == nullptr) return;
  if (port->handle != INVALID_HANDLE_VALUE) CloseHandle(port->handle);
  if (port->readerIo.hEvent != nullptr) CloseHandle(port->readerIo.hEvent);
  if (port->writerIo.hEvent != nullptr) CloseHandle(port->writerIo.hEvent);
  if (port->cancelEvent != nullptr) CloseHandle(port->cancelEvent);
  delete port;
}

}  // namespace linkport
