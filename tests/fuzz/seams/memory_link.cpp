#include "seams/memory_link.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "transfer/download.h"
#include "wizard/wizard_state.h"

namespace linkport {
struct Port {
  int unused = 0;
};
}  // namespace linkport

namespace memorylink {
namespace {

// A peer that has had nothing to answer for this long sends its next burst
// anyway; after this long the transfer is abandoned (the message timer).
constexpr std::uint64_t kPatienceMs = 500;
constexpr std::uint64_t kAbandonMs = 2000;  // longer than any wait of the readers
// The longest transfer the target runs is about 1 MB.
constexpr std::size_t kWrittenLimit = 4 * 1024 * 1024;
// A wait with nothing to do looks at the flags again after this long (real time).
constexpr auto kIdleWait = std::chrono::milliseconds(1);

struct Line {
  std::mutex mutex;
  std::condition_variable changed;
  Options options;
  std::deque<Burst> script;
  std::deque<std::uint8_t> available;
  bool split = false;
  bool dropped = false;
  bool cancelled = false;
  bool open = false;
  int opens = 0, closes = 0;
  int writesSinceBurst = 0;
  std::uint64_t lastActivity = 0;
  std::vector<std::uint8_t> written, delivered;
  bool overflow = false;
  std::vector<std::string> opened;
};

Line line;
linkport::Port thePort;

void CheckPort(linkport::Port* port, const char* use) {
  if (port != &thePort) Fail(std::string(use) + " on a port that was never opened");
  if (!line.open) Fail(std::string(use) + " on a closed port");
}

// Hands the next burst over when its time has come. Caller holds the lock.
void MaybeDeliver(std::uint64_t now) {
  if (!line.available.empty() || line.script.empty()) return;
  const Burst& next = line.script.front();
  if (!next.unsolicited && line.writesSinceBurst == 0 && now - line.lastActivity < kPatienceMs) return;
  if (next.drop) line.dropped = true;
  line.available.insert(line.available.end(), next.bytes.begin(), next.bytes.end());
  line.delivered.insert(line.delivered.end(), next.bytes.begin(), next.bytes.end());
  line.split = next.split;
  line.script.pop_front();
  line.writesSinceBurst = 0;
  line.lastActivity = now;
  line.changed.notify_all();
}

linkport::WaitResult WaitForBytes(linkport::Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(line.mutex);
  CheckPort(port, "a wait");
  for (;;) {
    if (line.cancelled || stop) return linkport::WaitResult::Stopped;
    if (line.dropped) return linkport::WaitResult::Failed;
    if (!line.available.empty()) {
      events = linkport::kEventRxChar;
      return linkport::WaitResult::Event;
    }
    line.changed.wait_for(lock, kIdleWait);
  }
}

}  // namespace

void Fail(const std::string& what) {
  std::fprintf(stderr, "link: %s\n", what.c_str());
  std::abort();
}

void Reset(const Options& options, std::vector<Burst> script) {
  std::lock_guard<std::mutex> lock(line.mutex);
  line.options = options;
  line.script.assign(script.begin(), script.end());
  line.available.clear();
  line.split = line.dropped = line.cancelled = line.open = false;
  line.opens = line.closes = 0;
  line.writesSinceBurst = 0;
  line.lastActivity = platform::NowMs();
  line.written.clear();
  line.delivered.clear();
  line.overflow = false;
  line.opened.clear();
}

void PlayPeer(const std::function<bool()>& finished) {
  while (!finished()) {
    bool abandon = false;
    {
      std::lock_guard<std::mutex> lock(line.mutex);
      std::uint64_t now = platform::NowMs();
      MaybeDeliver(now);
      // Again after each quiet stretch: the link's start clears the flag.
      if (!wizard::Workers.StopWorkers && now - line.lastActivity >= kAbandonMs) {
        abandon = true;
        line.lastActivity = now;
      }
    }
    if (abandon) {
      // What the progress screen does when its timer runs out.
      wizard::Workers.StopWorkers = true;
      wizard::ReleaseTransferBuffers();
      line.changed.notify_all();
    }
    std::this_thread::yield();
  }
}

const std::vector<std::uint8_t>& Written() { return line.written; }
bool WriteOverflow() { return line.overflow; }
const std::vector<std::uint8_t>& Delivered() { return line.delivered; }
const std::vector<std::string>& Opened() { return line.opened; }

void CheckAllClosed() {
  std::lock_guard<std::mutex> lock(line.mutex);
  if (line.open || line.opens != line.closes)
    Fail("opened " + std::to_string(line.opens) + " times, closed " + std::to_string(line.closes) + " times");
}

}  // namespace memorylink

// --- the seam ----------------------------------------------------------------------

namespace linkport {

using memorylink::line;

Port* Open(const char* deviceName) {
  std::lock_guard<std::mutex> lock(line.mutex);
  line.opened.push_back(deviceName);
  int attempt = static_cast<int>(line.opened.size()) - 1;
  if (attempt < 2 && line.options.failOpen[attempt]) return nullptr;
  if (line.open) memorylink::Fail("a second open while the port is open");
  line.open = true;
  line.cancelled = false;
  ++line.opens;
  return &memorylink::thePort;
}

bool ApplySettings(Port* port) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "settings");
  return true;
}

bool SetReadReturnAtOnce(Port* port) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "time-outs");
  return true;
}

void RaiseDtrThenRts(Port* port) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "modem lines");
}

bool SetEventMask(Port* port, std::uint32_t) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "an event mask");
  return true;
}

WaitResult WaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  if (line.options.eventsUnsupported) return WaitResult::Unsupported;
  return memorylink::WaitForBytes(port, events, stop);
}

long Read(Port* port, void* buffer, std::uint32_t capacity, const std::atomic<bool>&) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "a read");
  if (line.dropped && line.available.empty()) return -1;
  std::size_t count = std::min<std::size_t>(capacity, line.available.size());
  if (line.split) count = std::min<std::size_t>(count, 1);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = line.available.front();
    line.available.pop_front();
  }
  if (count > 0) line.lastActivity = platform::NowMs();
  return static_cast<long>(count);
}

long Write(Port* port, const void* data, std::uint32_t length, const std::atomic<bool>& stop) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "a write");
  if (line.dropped) return -1;
  if (line.cancelled || stop) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (line.written.size() + length > memorylink::kWrittenLimit) {
    line.overflow = true;
  } else {
    line.written.insert(line.written.end(), bytes, bytes + length);
  }
  ++line.writesSinceBurst;
  line.lastActivity = platform::NowMs();
  return length;
}

ControlResult UsbArmMask(Port* port, std::uint32_t) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "arming the USB driver");
  if (line.dropped) return ControlResult::Failed;
  return line.options.usbArm;
}

WaitResult UsbWaitEvent(Port* port, std::uint32_t& events, const std::atomic<bool>& stop) {
  return memorylink::WaitForBytes(port, events, stop);
}

bool UsbReset(Port* port, std::uint32_t) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "a USB reset");
  return !line.dropped;
}

void CancelWait(Port* port) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "a cancel");
  line.cancelled = true;
  line.changed.notify_all();
}

void Close(Port* port) {
  std::lock_guard<std::mutex> lock(line.mutex);
  memorylink::CheckPort(port, "a close");
  line.open = false;
  ++line.closes;
  line.changed.notify_all();
}

}  // namespace linkport
