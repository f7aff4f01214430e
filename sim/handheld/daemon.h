// Running handheld-sim as a daemon on a state folder, and stopping it.
// A running daemon leaves "daemon.pid" (or the given pid file) and
// "daemon.port" in the state folder and removes them when it stops.
#pragma once
#include <cstdint>
#include <string>

namespace handheld {

struct ServeOptions {
  std::string folder;
  std::uint16_t port = 0;     // 0: from ROMWIZ_HANDHELD, else the default 9696
  std::string pidFile;        // empty: <folder>/daemon.pid
  bool background = false;    // detach; the command returns once the port listens
  std::string dosdevices;     // where the link peers publish com1 / wceusbsh001;
                              // empty: $XDG_CONFIG_HOME/romwiz/dosdevices
};

// The port a client or daemon uses when none is given: the port part of
// ROMWIZ_HANDHELD (host:port), else 9696.
std::uint16_t DefaultPort();
std::string DefaultPidFile(const std::string& folder);

// Serves until SIGTERM or SIGINT; returns the process exit code.
int ServeHandheld(const ServeOptions& options);
// Stops the daemon named by the pid file and waits for it to end (up to 10 s);
// returns the process exit code. Refuses a pid that is not a handheld-sim.
int StopHandheld(const std::string& folder, const std::string& pidFile);

}  // namespace handheld
