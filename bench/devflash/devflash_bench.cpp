// Installing the 64 KiB loader on the simulated handheld: bus operations and
// simulated time with write buffers against single-word programming, on one
// chip (16-bit bus) and two interleaved chips (32-bit bus). The chips run
// with the datasheet's typical busy times.
#include <cstdio>
#include <vector>

#include "flash/flash_driver.h"
#include "loader/install.h"
#include "sim/soc/soc.h"
#include "startup/agent_state.h"
#include "startup/board_latch.h"

namespace {

struct Figures {
  uint64_t busReads, busWrites, flashReads, flashWrites;
  double simulatedMs;
};

enum class Mode { Buffers, Words, WholeInstall };

Figures Measure(soc::Board board, int32_t model, Mode mode) {
  board.flash.timings = soc::FlashTimings::Typical();
  soc::Soc soc(board);
  soc::ScopedBus bus(soc);
  ResetAgentState();
  ResetFlashDriver();
  Agent.modelCode = model;
  FillHardwareMap(Agent.hardwareMap, model, board.halInfo[3]);
  SetBoardLatchBits(kLatchFlashProgramEnable);
  std::vector<uint8_t> loader(kLoaderImageBytes);
  for (size_t i = 0; i < loader.size(); ++i) loader[i] = static_cast<uint8_t>(i * 7 + 3);
  auto* buffer = static_cast<uint8_t*>(soc.RamPointer(Agent.hardwareMap.loaderBuffer));
  std::copy(loader.begin(), loader.end(), buffer);

  uint32_t chips = 0;
  if (mode != Mode::WholeInstall) {
    FlashInit(&chips);
    FlashEraseBlock(kLoaderFlashOffset, chips);
  }
  const soc::BusStats s0 = soc.Stats();
  const soc::FlashBusCounters f0 = soc.Flash().BusCounters();
  const uint64_t t0 = soc.Clock().NowNs();
  int failures = 0;
  if (mode == Mode::Buffers) {
    failures = FlashProgramRange(kLoaderFlashOffset, kLoaderImageBytes, buffer) != 0;
  } else if (mode == Mode::Words) {
    const uint32_t step = 2 * chips;
    for (uint32_t o = 0; o < kLoaderImageBytes; o += step) {
      failures += FlashProgramWord(kLoaderFlashOffset + o, buffer + o, chips) != 0;
    }
  } else {
    failures = InstallLoader() != 1;
  }
  if (failures != 0) std::printf("  (programming reported %d failures)\n", failures);
  const soc::BusStats& s1 = soc.Stats();
  const soc::FlashBusCounters& f1 = soc.Flash().BusCounters();
  return {s1.reads - s0.reads, s1.writes - s0.writes, f1.reads - f0.reads, f1.writes - f0.writes,
          (soc.Clock().NowNs() - t0) / 1e6};
}

void Row(const char* label, const Figures& f) {
  std::printf("%-34s %12llu %12llu %12llu %12llu %12.1f\n", label,
              static_cast<unsigned long long>(f.busReads), static_cast<unsigned long long>(f.busWrites),
              static_cast<unsigned long long>(f.flashReads), static_cast<unsigned long long>(f.flashWrites),
              f.simulatedMs);
}

}  // namespace

int main() {
  std::printf("64 KiB loader at 0x40000, typical StrataFlash busy times\n");
  std::printf("%-34s %12s %12s %12s %12s %12s\n", "", "bus reads", "bus writes", "flash reads",
              "flash writes", "sim ms");
  Row("one chip, buffers", Measure(soc::Board5300(), kModel5300, Mode::Buffers));
  Row("one chip, single words", Measure(soc::Board5300(), kModel5300, Mode::Words));
  Row("two chips, buffers", Measure(soc::Board5800(), kModel5800, Mode::Buffers));
  Row("two chips, single words", Measure(soc::Board5800(), kModel5800, Mode::Words));
  Row("one chip, whole InstallLoader", Measure(soc::Board5300(), kModel5300, Mode::WholeInstall));
  Row("two chips, whole InstallLoader", Measure(soc::Board5800(), kModel5800, Mode::WholeInstall));
  return 0;
}
