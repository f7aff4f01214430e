// The handheld's remote-API service: loopback TCP, the protocol of
// wire/rapi_protocol.h, one thread per client connection. Every request rereads
// the state folder, so control commands take effect at once; while the
// handheld is not running Windows CE, or the no-answer fault is set, requests
// are read and left unanswered.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace handheld {

class Handheld;

// Name of the remote call an operation stands for ("CeCreateFile"); the
// names the fail-call fault takes.
const char* RemoteCallName(std::uint32_t op);
bool IsRemoteCallName(const std::string& name);

class RapiService {
 public:
  explicit RapiService(Handheld& handheld) : handheld_(handheld) {}
  ~RapiService() { Stop(); }
  RapiService(const RapiService&) = delete;
  RapiService& operator=(const RapiService&) = delete;

  // Listens on 127.0.0.1:`port` (0 picks a free port) and serves; false with
  // `error` set when the port cannot be had.
  bool Start(std::uint16_t port, std::string& error) { return Listen(port, error) && (Serve(), true); }
  // The two halves of Start, for a daemon that binds before it forks.
  bool Listen(std::uint16_t port, std::string& error);
  void Serve();
  std::uint16_t Port() const { return port_; }
  // Closes the listener and every connection, and waits for their threads.
  void Stop();

 private:
  void AcceptLoop();
  void ServeConnection(int fd);

  Handheld& handheld_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex connectionsLock_;
  std::vector<int> connections_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> workers_;  // finished ones are joined when the next client comes
};

}  // namespace handheld
