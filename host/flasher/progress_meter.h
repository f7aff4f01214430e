// The progress romwiz-flash shows on standard error: bytes sent and total,
// percent, rate and time left. On a terminal one line is rewritten in place
// at every change; otherwise a line is printed each time another 5% has
// gone out, so that a log file stays short. Also the closing line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace flasher {

constexpr unsigned kLinePercentStep = 5;

class ProgressMeter {
 public:
  ProgressMeter(std::uint64_t total, bool inPlace) : total_(total), inPlace_(inPlace) {}

  // `sent` bytes after `elapsedMs` real milliseconds. The text to write now
  // (empty: nothing), with "\r" ahead of it in place and "\n" after it
  // otherwise.
  std::string Update(std::uint64_t sent, std::uint64_t elapsedMs);
  // What ends a line rewritten in place before other text follows ("\n"
  // when one is on the screen, else empty).
  std::string Close();

 private:
  std::uint64_t total_;
  bool inPlace_;
  std::uint64_t lastSent_ = ~static_cast<std::uint64_t>(0);
  unsigned nextLinePercent_ = 0;
  bool lineOpen_ = false;
  std::size_t shownLength_ = 0;  // of the line on the screen now
};

// "  786432 / 1835008 bytes  42%  92.1 kbit/s  1:31 left" (time left "--:--"
// until a rate is known).
std::string ProgressLine(std::uint64_t sent, std::uint64_t total, std::uint64_t elapsedMs);
// "wrote N bytes in S s (R kbit/s)".
std::string ClosingLine(std::uint64_t bytes, std::uint64_t elapsedMs);
// Kilobits per second of `bytes` in `elapsedMs` (0 for no time).
double KilobitsPerSecond(std::uint64_t bytes, std::uint64_t elapsedMs);

}  // namespace flasher
