#include "daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>

#include "handheld.h"
#include "link_watcher.h"
#include "wire/rapi_protocol.h"
#include "rapi_service.h"

namespace handheld {
namespace {

constexpr int kStopWaitMs = 10000;

bool WriteSmallFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << text << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

// True when `pid` runs a program whose name contains "handheld-sim", so that
// a stale pid file never makes us signal an unrelated process.
bool IsHandheldSim(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string command;
  std::getline(in, command, '\0');
  return command.find("handheld-sim") != std::string::npos;
}

bool Alive(pid_t pid) { return ::kill(pid, 0) == 0; }

void Detach() {
  ::setsid();
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (null > 2) ::close(null);
  }
}

}  // namespace

std::uint16_t DefaultPort() {
  if (const char* address = std::getenv(RAPI_ADDRESS_VARIABLE)) {
    const std::string text = address;
    const std::size_t colon = text.rfind(':');
    const long port = std::strtol(text.c_str() + (colon == std::string::npos ? 0 : colon + 1), nullptr, 10);
    if (port > 0 && port < 65536) return static_cast<std::uint16_t>(port);
  }
  return RAPI_DEFAULT_PORT;
}

std::string DefaultPidFile(const std::string& folder) { return folder + "/daemon.pid"; }

int ServeHandheld(const ServeOptions& options) {
  HandheldState probe;
  if (!LoadState(options.folder, probe)) {
    std::cerr << "handheld-sim: no handheld in " << options.folder << " (create one first)\n";
    return 1;
  }
  const std::string pidFile = options.pidFile.empty() ? DefaultPidFile(options.folder) : options.pidFile;
  const std::string portFile = options.folder + "/daemon.port";
  Handheld handheld(options.folder);
  RapiService service(handheld);
  std::string error;
  if (!service.Listen(options.port ? options.port : DefaultPort(), error)) {
    std::cerr << "handheld-sim: cannot listen on " << error << "\n";
    return 1;
  }
  if (options.background) {
    const pid_t child = ::fork();
    if (child < 0) {
      std::perror("handheld-sim: fork");
      return 1;
    }
    if (child > 0) {
      // The parent returns once the files name the running daemon.
      WriteSmallFile(portFile, std::to_string(service.Port()));
      WriteSmallFile(pidFile, std::to_string(child));
      std::cout << "handheld-sim: serving " << options.folder << " on 127.0.0.1:" << service.Port() << " (pid "
                << child << ")\n";
      std::_Exit(0);  // the listening socket belongs to the child now
    }
    Detach();
  } else {
    WriteSmallFile(portFile, std::to_string(service.Port()));
    WriteSmallFile(pidFile, std::to_string(::getpid()));
    std::cout << "handheld-sim: serving " << options.folder << " on 127.0.0.1:" << service.Port() << "\n"
              << std::flush;
  }
  // Signals are taken by sigwait below, never by the service threads.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  service.Serve();
  LinkWatcher link(handheld, options.dosdevices.empty() ? DefaultDosDevices() : options.dosdevices);
  link.Start();
  int signal = 0;
  sigwait(&stopSignals, &signal);
  link.Stop();
  service.Stop();
  std::remove(pidFile.c_str());
  std::remove(portFile.c_str());
  return 0;
}

int StopHandheld(const std::string& folder, const std::string& pidFileOption) {
  const std::string pidFile = pidFileOption.empty() ? DefaultPidFile(folder) : pidFileOption;
  std::ifstream in(pidFile);
  long pid = 0;
  if (!(in >> pid) || pid <= 1) {
    std::cout << "handheld-sim: no daemon is running for " << folder << "\n";
    return 0;
  }
  if (!Alive(static_cast<pid_t>(pid)) || !IsHandheldSim(static_cast<pid_t>(pid))) {
    std::cout << "handheld-sim: stale pid file " << pidFile << " removed\n";
    std::remove(pidFile.c_str());
    return 0;
  }
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  for (int waited = 0; waited < kStopWaitMs; waited += 20) {
    if (!Alive(static_cast<pid_t>(pid)) || !IsHandheldSim(static_cast<pid_t>(pid))) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::cerr << "handheld-sim: daemon " << pid << " did not stop\n";
  return 1;
}

}  // namespace handheld
