// A simulated handheld for the agent: the SoC with its flash on the bus seam
// and a hosted OS on the services seam, with the agent's state reset.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "flash/flash_driver.h"
#include "platform/hosted/hosted_handheld.h"
#include "sim/soc/soc.h"
#include "startup/agent_state.h"
#include "startup/board_latch.h"

struct AgentRig {
  explicit AgentRig(const soc::Board& board) : soc(board), bus(soc), services(handheld) {
    ResetAgentState();
    ResetFlashDriver();
  }

  // The takeover-phase state as the Windows phase leaves it.
  void PrepareTakeover(int32_t model) {
    Agent.modelCode = model;
    FillHardwareMap(Agent.hardwareMap, model, soc.BoardTable().halInfo[3]);
  }

  std::vector<uint8_t> FlashBytes(uint32_t offset, uint32_t length) const {
    const auto& c = soc.Flash().Contents();
    return {c.begin() + offset, c.begin() + offset + length};
  }

  soc::Soc soc;
  soc::ScopedBus bus;
  hosted::HostedHandheld handheld;
  hosted::ScopedServices services;
};

// `board` with other chips; one chip sits on a 16-bit bank 0, two on a
// 32-bit one (the board's pin sets the width).
inline soc::Board BoardWith(soc::Board board, uint16_t device, int chips) {
  board.flash.deviceCode = device;
  board.flash.chips = chips;
  board.bootMsc0 = chips == 1 ? board.bootMsc0 | soc::kMsc0Bank0Width16 : board.bootMsc0 & ~soc::kMsc0Bank0Width16;
  return board;
}

// Bytes 0, 1, 2, ... (mod 251, so no block repeats with a power-of-two stride).
inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i + seed) % 251);
  return v;
}
