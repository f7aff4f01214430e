#include "sim/peers/peer_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace peers {
namespace {

std::uint64_t RealMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

PeerLog::PeerLog(const std::string& path, const std::string& title) : startMs_(RealMs()) {
  if (path.empty()) return;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && static_cast<std::uint64_t>(info.st_size) >= kPeerLogRotateBytes) {
    std::rename(path.c_str(), (path + ".1").c_str());
  }
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  std::string head = "\n== " + UtcNow() + "  " + title + "\n";
  if (fd_ >= 0) (void)!write(fd_, head.data(), head.size());
}

PeerLog::~PeerLog() {
  if (fd_ >= 0) close(fd_);
}

void PeerLog::Received(const char* message, std::uint32_t number, std::uint32_t length) {
  Message("pc>hh", message, number, length);
}

void PeerLog::Sent(const char* message, std::uint32_t number, std::uint32_t length) {
  Message("hh>pc", message, number, length);
}

void PeerLog::Message(const char* direction, const char* message, std::uint32_t number, std::uint32_t length) {
  char text[128];
  char numberText[16] = "";
  if (number != 0) std::snprintf(numberText, sizeof numberText, " %u", number);
  std::snprintf(text, sizeof text, "%s %s%s, %u byte%s", direction, message, numberText, length,
                length == 1 ? "" : "s");
  Line(text);
}

void PeerLog::Note(const std::string& text) { Line(text); }

// One write per line: a line is whole in the file even if the process dies.
void PeerLog::Line(const std::string& text) {
  if (fd_ < 0) return;
  std::uint64_t ms = RealMs() - startMs_;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%6llu.%03llu  ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  std::string line = stamp + text + "\n";
  (void)!write(fd_, line.data(), line.size());
}

}  // namespace peers
