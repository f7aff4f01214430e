// The link seam in memory, for the link fuzz target: the handheld's side of
// the port is a script of bursts the peer hands over one at a time, and
// whatever the PC writes is kept for the target to check.
//
// The peer (PlayPeer, on the target's thread) gives the next burst once the
// previous one has been read and the PC has written something since, or at
// once for an unsolicited burst, or when the link has been quiet for a while
// (a peer that does not wait its turn). When the link has been quiet longer
// than that, it abandons the transfer the way the progress screen's timer
// does.
//
// Any use of the port after it was closed, a close of a port that is not
// open, or a port left open is reported (the process aborts).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/link.h"

namespace memorylink {

struct Burst {
  std::vector<std::uint8_t> bytes;
  bool unsolicited = false;  // handed over without waiting for the PC
  bool split = false;        // read one byte per read
  bool drop = false;         // the link fails here: reads and writes fail from now on
};

struct Options {
  bool failOpen[2] = {false, false};  // the first or the second open fails
  bool eventsUnsupported = false;     // the serial event wait is not available: the readers poll
  linkport::ControlResult usbArm = linkport::ControlResult::Done;
};

// A new script; the port is closed, nothing has been written.
void Reset(const Options& options, std::vector<Burst> script);

// Plays the handheld's side until `finished` returns true.
void PlayPeer(const std::function<bool()>& finished);

// What the PC wrote; whether it wrote more than fits the record.
const std::vector<std::uint8_t>& Written();
bool WriteOverflow();
// Everything the peer handed over.
const std::vector<std::uint8_t>& Delivered();
// Device names opened, in order.
const std::vector<std::string>& Opened();
// Fails unless every open port was closed exactly once.
void CheckAllClosed();

[[noreturn]] void Fail(const std::string& what);

}  // namespace memorylink
