// Clock and thread seam on Windows. Shipped code: Sleep, GetTickCount and
// CreateThread only (GetTickCount64, std::thread and std::mutex are absent
// from Windows XP or pull in a runtime that imports what XP lacks).
#include "platform/clock.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/win32/tick_count.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> timeScale{0};  // 0: not read from the environment yet

// Reads ROMWIZ_TIME_SCALE once; anything that is not a positive number means
// real time.
std::uint32_t ScaleFromEnvironment() {
  char text[32] = {};
  DWORD length = GetEnvironmentVariableA("ROMWIZ_TIME_SCALE", text, sizeof text);
  if (length == 0 || length >= sizeof text) return 1;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != 0 || value == 0 || value > 1000000) return 1;
  return static_cast<std::uint32_t>(value);
}

// The 64-bit millisecond count, extended from GetTickCount's readings and
// shared by every thread; the compare-exchange keeps it monotonic. It starts
// from the reading at program start, which may lie anywhere in the 32-bit
// range.
std::atomic<std::uint64_t> lastTicks{GetTickCount()};

std::uint64_t RealNowMs() {
  std::uint64_t last = lastTicks.load();
  for (;;) {
    std::uint64_t next = win32::ExtendTickCount(last, GetTickCount());
    if (next == last || lastTicks.compare_exchange_weak(last, next)) return next;
  }
}

}  // namespace

void SetTimeScale(std::uint32_t divisor) { timeScale = divisor == 0 ? 1 : divisor; }

std::uint32_t TimeScale() {
  std::uint32_t scale = timeScale.load();
  if (scale == 0) {
    scale = ScaleFromEnvironment();
    std::uint32_t unset = 0;
    if (!timeScale.compare_exchange_strong(unset, scale)) scale = unset;
  }
  return scale;
}

std::uint32_t ScaledMs(std::uint32_t ms) {
  if (ms == 0) return 0;
  std::uint32_t scaled = ms / TimeScale();
  return scaled == 0 ? 1 : scaled;
}

// A thread with windows sleeps with them alive: the wizard polls on the GUI
// thread while a wait screen is up (the handheld's answer file, a program's
// start), and meanwhile the screen must stay drawn and answer what other
// programs send it (a repaint, a control's text). Messages sent to the
// thread and paint messages are handled; input stays queued, so nothing the
// user does is acted on before the wizard looks for it. Other threads
// sleep plainly.
static void SleepWithWindowsAlive(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    // PeekMessage handles sent messages before it looks at the queue.
    while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&message);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE | QS_PAINT);
  }
}

void SleepMs(std::uint32_t ms) {
  const DWORD wait = ScaledMs(ms);
  if (wait != 0 && IsGUIThread(FALSE)) {
    SleepWithWindowsAlive(wait);
  } else {
    Sleep(wait);
  }
}

std::uint64_t NowMs() { return RealNowMs() * TimeScale(); }

struct Thread {
  HANDLE handle;
};

namespace {

struct Start {
  ThreadFunction function;
  void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
  Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  return static_cast<DWORD>(start.function(start.argument));
}

}  // namespace

Thread* StartThread(ThreadFunction function, void* argument) {
  Start* start = new Start{function, argument};
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
  if (handle == nullptr) {
    delete start;
    return nullptr;
  }
  return new Thread{handle};
}

bool JoinThread(Thread* thread, std::uint32_t ms) {
  if (thread == nullptr) return true;
  return WaitForSingleObject(thread->handle, ms) == WAIT_OBJECT_0;
}

void ReleaseThread(Thread* thread) {
  if (thread == nullptr) return;
  CloseHandle(thread->handle);
  delete thread;
}

}  // namespace platform
