// Starts the link peer (sim/peers) that matches the handheld's mode: the
// download loader in mode loader, the boot loader in mode bootloader, none
// otherwise. The daemon runs one; it follows control commands and restarts
// because it rereads the state every poll.
//
// Which download loader runs is read from the flash, as the handheld's boot
// code would: the loader block at 0x40000 starts with the loader file's tag
// ("(usb)" or "(serial)", see distribution.h); a block without a tag falls
// back to the state's `link` key. When the loader has received the whole image
// it restarts the handheld into Windows CE (mode wince), and the handheld
// then reports the ROM now in flash. A reset (the state's boot count moves)
// starts the peer afresh even when the mode stays. The watcher hands the
// running peer the hold of the state's faults and records in the state the
// piece the peer holds inside; the peer logs to "link.log" in the state
// folder.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "handheld_state.h"

namespace peers {
class Peer;
class FileFlashStore;
}  // namespace peers

namespace handheld {

class Handheld;

// The loader flavour the flash at `flashPath` names: 1 serial, 2 USB, 0 none.
int LoaderKindInFlash(const std::string& flashPath);
// What a normal reset starts, as the boot code decides from the flash: a
// loader record with its loader whole starts the loader; a record whose
// loader block has been overwritten hangs the handheld (Off); no record
// boots Windows CE.
Mode ModeAfterReset(const std::string& flashPath);
// The peers' log in a state folder.
std::string PeerLogPath(const std::string& folder);
// $XDG_CONFIG_HOME/romwiz/dosdevices (~/.config when unset): where romwiz
// on Linux looks for com1 and wceusbsh001.
std::string DefaultDosDevices();

class LinkWatcher {
 public:
  LinkWatcher(Handheld& handheld, std::string dosdevices, std::uint32_t pollMs = 50);
  ~LinkWatcher();
  LinkWatcher(const LinkWatcher&) = delete;
  LinkWatcher& operator=(const LinkWatcher&) = delete;

  void Start();
  void Stop();
  // The symlink of the running peer; empty when none runs.
  std::string LinkPath() const;

 private:
  void Loop();
  void Follow(const HandheldState& state);
  void PassHold(const HandheldState& state);
  void StopPeer();
  void RetirePeer();
  void ReleaseCable();

  Handheld& handheld_;
  std::string dosdevices_;
  std::uint32_t pollMs_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex lock_;  // guards the peer for LinkPath
  Mode running_ = Mode::WinCE;
  std::uint32_t runningBoots_ = 0;
  std::unique_ptr<peers::FileFlashStore> flash_;
  std::unique_ptr<peers::Peer> peer_;
  // A serial peer that has restarted the handheld keeps its line open, as a
  // cable stays plugged in, until another peer takes the link or the watcher
  // stops.
  std::unique_ptr<peers::Peer> cable_;
  std::unique_ptr<peers::FileFlashStore> cableFlash_;
};

}  // namespace handheld
