#include "link_watcher.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "handheld.h"
#include "loader/install.h"
#include "sim/peers/link_peers.h"
#include "startup/hardware_map.h"
#include "violations.h"

namespace handheld {
namespace {

constexpr std::size_t kLoaderTagBytes = 64;  // the tag lies in the loader file's first line
constexpr char kPeerLogName[] = "link.log";

// A loader record: its second word names a model.
bool LoaderRecordInFlash(const std::string& flashPath) {
  std::ifstream in(flashPath, std::ios::binary);
  in.seekg(kLoaderRecordOffset);
  unsigned char record[kLoaderRecordBytes] = {};
  if (!in.read(reinterpret_cast<char*>(record), sizeof record)) return false;
  const std::uint32_t model = record[4] | (record[5] << 8) | (record[6] << 16) | (static_cast<std::uint32_t>(record[7]) << 24);
  return model == static_cast<std::uint32_t>(kModel5800) || model == static_cast<std::uint32_t>(kModel5300);
}

}  // namespace

Mode ModeAfterReset(const std::string& flashPath) {
  if (!LoaderRecordInFlash(flashPath)) return Mode::WinCE;
  return LoaderKindInFlash(flashPath) != 0 ? Mode::Loader : Mode::Off;
}

std::string PeerLogPath(const std::string& folder) { return folder + "/" + kPeerLogName; }

int LoaderKindInFlash(const std::string& flashPath) {
  std::ifstream in(flashPath, std::ios::binary);
  in.seekg(kLoaderBlockOffset);
  std::string head(kLoaderTagBytes, '\0');
  if (!in.read(head.data(), static_cast<std::streamsize>(head.size()))) return 0;
  if (head.find("(usb)") != std::string::npos) return 2;
  if (head.find("(serial)") != std::string::npos) return 1;
  return 0;
}

std::string DefaultDosDevices() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = config && *config ? config : std::string(home ? home : ".") + "/.config";
  return base + "/romwiz/dosdevices";
}

LinkWatcher::LinkWatcher(Handheld& handheld, std::string dosdevices, std::uint32_t pollMs)
    : handheld_(handheld), dosdevices_(std::move(dosdevices)), pollMs_(pollMs) {}

LinkWatcher::~LinkWatcher() { Stop(); }

void LinkWatcher::Start() {
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void LinkWatcher::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  StopPeer();
  ReleaseCable();
}

void LinkWatcher::ReleaseCable() {
  if (cable_) cable_->Stop();
  cable_.reset();
  cableFlash_.reset();
}

// The peer leaves; a serial one that restarted the handheld stays as the
// cable (its line open) until the next peer or the end.
void LinkWatcher::RetirePeer() {
  std::unique_ptr<peers::Peer> parked;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (peer_ && peer_->Status().restarted && peer_->LinkKind() != peers::PeerKind::UsbLoader) parked.swap(peer_);
  }
  if (!parked) {
    StopPeer();
    return;
  }
  ReleaseCable();
  cable_ = std::move(parked);
  cableFlash_ = std::move(flash_);
}

std::string LinkWatcher::LinkPath() const {
  std::lock_guard<std::mutex> guard(lock_);
  return peer_ ? peer_->LinkPath() : std::string();
}

void LinkWatcher::Loop() {
  while (!stopping_) {
    Follow(handheld_.State());
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs_));
  }
}

void LinkWatcher::StopPeer() {
  std::unique_ptr<peers::Peer> peer;
  {
    std::lock_guard<std::mutex> guard(lock_);
    peer.swap(peer_);
  }
  if (peer) peer->Stop();  // joins the peer's thread; its restart callback takes no lock of ours
  flash_.reset();
}

// The hold goes to the running peer; where it holds goes to the state.
void LinkWatcher::PassHold(const HandheldState& state) {
  std::uint64_t held = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!peer_) return;
    peer_->SetHoldAtPiece(state.faults.linkHoldAtPiece);
    held = peer_->Status().heldAtPiece;
  }
  if (held != state.linkHeldAtPiece) handheld_.ChangeState([held](HandheldState& s) { s.linkHeldAtPiece = held; });
}

void LinkWatcher::Follow(const HandheldState& state) {
  if (state.mode == running_ && state.boots == runningBoots_) {
    PassHold(state);
    return;
  }
  RetirePeer();
  running_ = state.mode;
  runningBoots_ = state.boots;
  if (state.mode != Mode::Loader && state.mode != Mode::BootLoader) return;
  ReleaseCable();  // the new peer publishes the link afresh

  peers::PeerOptions options;
  if (state.mode == Mode::BootLoader) {
    options.kind = peers::PeerKind::BootLoader;
  } else {
    const int kind = LoaderKindInFlash(handheld_.FlashPath());
    const bool usb = kind == 2 || (kind == 0 && state.usbLink);
    options.kind = usb ? peers::PeerKind::UsbLoader : peers::PeerKind::SerialLoader;
  }
  options.dosdevices = dosdevices_;
  options.faults.silentAfterBytes = state.faults.linkSilentAfterBytes;
  options.faults.silentAfterMessages = state.faults.linkSilentAfterMessages;
  options.faults.noiseBeforeMessage = state.faults.linkNoiseBeforeMessage;
  options.faults.dropAfterBytes = state.faults.linkDropAfterBytes;
  options.faults.holdAtPiece = state.faults.linkHoldAtPiece;
  options.logPath = PeerLogPath(handheld_.Folder());
  Handheld& handheld = handheld_;
  // Written: the handheld restarts into Windows CE. The watcher sees the new
  // mode at its next poll and retires the peer.
  options.onRestart = [&handheld] { handheld.ChangeState([](HandheldState& s) { s.mode = Mode::WinCE; }); };
  options.onViolation = [folder = handheld_.Folder()](const std::string& what) { RecordViolation(folder, what); };

  flash_ = std::make_unique<peers::FileFlashStore>(handheld_.FlashPath());
  std::string error;
  std::unique_ptr<peers::Peer> peer = flash_->IsOpen() ? peers::StartPeer(options, *flash_, &error) : nullptr;
  if (!peer) {
    // Reported once; the mode stays as it is until it changes again.
    std::cerr << "handheld-sim: no link peer for mode " << ModeName(state.mode) << ": "
              << (flash_->IsOpen() ? error : "flash.bin cannot be opened") << "\n";
    flash_.reset();
    return;
  }
  std::lock_guard<std::mutex> guard(lock_);
  peer_ = std::move(peer);
}

}  // namespace handheld
