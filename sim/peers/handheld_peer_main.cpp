// handheld-peer: runs one link peer of the simulated handheld against a flash
// file, until the handheld restarts into Windows CE (exit 0) or the program
// is interrupted (exit 1).
//
//   handheld-peer --kind serial|usb|boot --flash FILE --dosdevices DIR
//                 [--name LINK] [--idle-ms N] [--silent-after-bytes N]
//                 [--silent-after-messages N] [--noise-before-message N]
//                 [--drop-after-bytes N]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/peers/link_peers.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;
void OnSignal(int) { interrupted = 1; }

int Usage() {
  std::fprintf(stderr,
               "usage: handheld-peer --kind serial|usb|boot --flash FILE --dosdevices DIR [--name LINK]\n"
               "       [--idle-ms N] [--silent-after-bytes N] [--silent-after-messages N]\n"
               "       [--noise-before-message N] [--drop-after-bytes N]\n");
  return 2;
}

bool Number(const char* text, std::uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return end != text && *end == 0;
}

}  // namespace

int main(int argc, char** argv) {
  peers::PeerOptions options;
  std::string flashPath;
  std::string kind;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    const char* value = argv[i + 1];
    std::uint64_t number = 0;
    if (option == "--kind") {
      kind = value;
    } else if (option == "--flash") {
      flashPath = value;
    } else if (option == "--dosdevices") {
      options.dosdevices = value;
    } else if (option == "--name") {
      options.linkName = value;
    } else if (!Number(value, number)) {
      return Usage();
    } else if (option == "--idle-ms") {
      options.bootLoaderIdleMs = static_cast<std::uint32_t>(number);
    } else if (option == "--silent-after-bytes") {
      options.faults.silentAfterBytes = number;
    } else if (option == "--silent-after-messages") {
      options.faults.silentAfterMessages = number;
    } else if (option == "--noise-before-message") {
      options.faults.noiseBeforeMessage = number;
    } else if (option == "--drop-after-bytes") {
      options.faults.dropAfterBytes = number;
    } else {
      return Usage();
    }
  }
  if (argc % 2 == 0 || flashPath.empty() || options.dosdevices.empty()) return Usage();
  if (kind == "serial") {
    options.kind = peers::PeerKind::SerialLoader;
  } else if (kind == "usb") {
    options.kind = peers::PeerKind::UsbLoader;
  } else if (kind == "boot") {
    options.kind = peers::PeerKind::BootLoader;
  } else {
    return Usage();
  }

  peers::FileFlashStore flash(flashPath);
  if (!flash.IsOpen()) {
    std::fprintf(stderr, "handheld-peer: cannot open %s\n", flashPath.c_str());
    return 1;
  }
  std::string error;
  auto peer = peers::StartPeer(options, flash, &error);
  if (!peer) {
    std::fprintf(stderr, "handheld-peer: %s\n", error.c_str());
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("link %s\n", peer->LinkPath().c_str());
  std::fflush(stdout);
  while (!interrupted) {
    if (peer->WaitRestarted(100)) {
      peers::PeerStatus status = peer->Status();
      std::printf("restart into Windows CE after %u blocks, %llu bytes\n", status.blocksWritten,
                  static_cast<unsigned long long>(status.bytesReceived));
      return 0;
    }
  }
  peer->Stop();
  return 1;
}
