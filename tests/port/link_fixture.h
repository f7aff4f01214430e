// A test's own handheld end of the link: a pseudo-terminal published in a
// private dosdevices folder ($XDG_CONFIG_HOME points into a temporary folder),
// with the wizard state reset and wizard time running 1000 times faster.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scripted_front_end.h"
#include "tests/support/eventually.h"
#include "sim/peers/link_peers.h"
#include "sim/peers/pty_link.h"

namespace porttest {

constexpr std::uint32_t kFastTime = 1000;

using testsupport::Eventually;

// The receive buffer's bytes [0, count).
std::vector<std::uint8_t> BufferStart(std::size_t count);

using MemoryFlash = peers::MemoryFlashStore;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Publishes the handheld's end as `name` ("com1", "wceusbsh001").
  peers::PtyLink& Line(const std::string& name);
  // Sends raw bytes from the handheld's end.
  void Send(const std::vector<std::uint8_t>& bytes);
  void Send(const std::string& text);

  testsupport::ScriptedFrontEnd ui_;
  std::string folder_;
  std::string dosdevices_;
  std::atomic<bool> lineStop_{false};
  std::unique_ptr<peers::PtyLink> line_;
};

}  // namespace porttest
