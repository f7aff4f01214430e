#include "flasher/progress_meter.h"

#include <cstdio>

namespace flasher {
namespace {

constexpr double kBitsPerByte = 8.0;
constexpr double kMsPerSecond = 1000.0;
constexpr double kBitsPerKilobit = 1000.0;
constexpr unsigned kFullPercent = 100;
constexpr std::uint64_t kSecondsPerMinute = 60;

unsigned Percent(std::uint64_t sent, std::uint64_t total) {
  if (total == 0) return 0;
  std::uint64_t percent = sent * kFullPercent / total;
  return percent > kFullPercent ? kFullPercent : static_cast<unsigned>(percent);
}

}  // namespace

double KilobitsPerSecond(std::uint64_t bytes, std::uint64_t elapsedMs) {
  if (elapsedMs == 0) return 0;
  return static_cast<double>(bytes) * kBitsPerByte / kBitsPerKilobit / (static_cast<double>(elapsedMs) / kMsPerSecond);
}

std::string ProgressLine(std::uint64_t sent, std::uint64_t total, std::uint64_t elapsedMs) {
  char left[32] = "--:--";
  if (sent > 0 && elapsedMs > 0 && total >= sent) {
    std::uint64_t seconds = (total - sent) * elapsedMs / sent / static_cast<std::uint64_t>(kMsPerSecond);
    std::snprintf(left, sizeof left, "%llu:%02llu", static_cast<unsigned long long>(seconds / kSecondsPerMinute),
                  static_cast<unsigned long long>(seconds % kSecondsPerMinute));
  }
  char line[128];
  std::snprintf(line, sizeof line, "%9llu / %llu bytes %3u%%  %6.1f kbit/s  %s left",
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(total), Percent(sent, total),
                KilobitsPerSecond(sent, elapsedMs), left);
  return line;
}

std::string ClosingLine(std::uint64_t bytes, std::uint64_t elapsedMs) {
  char line[128];
  std::snprintf(line, sizeof line, "wrote %llu bytes in %.1f s (%.1f kbit/s)", static_cast<unsigned long long>(bytes),
                static_cast<double>(elapsedMs) / kMsPerSecond, KilobitsPerSecond(bytes, elapsedMs));
  return line;
}

std::string ProgressMeter::Update(std::uint64_t sent, std::uint64_t elapsedMs) {
  if (sent == lastSent_) return "";
  lastSent_ = sent;
  if (inPlace_) {
    lineOpen_ = true;
    std::string line = ProgressLine(sent, total_, elapsedMs);
    // Spaces cover what a longer line before left on the screen.
    std::size_t shownBefore = shownLength_;
    shownLength_ = line.size();
    if (line.size() < shownBefore) line.append(shownBefore - line.size(), ' ');
    return "\r" + line;
  }
  unsigned percent = Percent(sent, total_);
  if (percent < nextLinePercent_) return "";
  // The next line when the following multiple of the step is reached.
  nextLinePercent_ = (percent / kLinePercentStep + 1) * kLinePercentStep;
  return ProgressLine(sent, total_, elapsedMs) + "\n";
}

std::string ProgressMeter::Close() {
  if (!lineOpen_) return "";
  lineOpen_ = false;
  return "\n";
}

}  // namespace flasher
