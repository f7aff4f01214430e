#include "link_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/clock.h"
#include "port/port.h"
#include "port/transfer_log.h"
#include "wizard/wizard_state.h"

namespace porttest {

std::vector<std::uint8_t> BufferStart(std::size_t count) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < count; ++i) bytes.push_back(wizard::ReceiveBuffer.At(i));
  return bytes;
}

void LinkTest::SetUp() {
  testsupport::ResetWizardForTest();
  char pattern[] = "/tmp/port-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  folder_ = pattern;
  setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  setenv("XDG_STATE_HOME", folder_.c_str(), 1);  // the transfer log
  dosdevices_ = folder_ + "/romwiz/dosdevices";
  platform::SetTimeScale(kFastTime);
  wizard::ClearReceiveBuffer();
  wizard::SetSendPieceObserver(nullptr);
}

void LinkTest::TearDown() {
  wizard::ShutDownLink();
  translog::EndSession("test ended");
  EXPECT_FALSE(wizard::ReaderReady) << "a reader outlived the link";
  lineStop_ = true;
  line_.reset();
  unsetenv("ROMWIZ_LINK_NO_EVENT_WAIT");
  platform::SetTimeScale(1);
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

peers::PtyLink& LinkTest::Line(const std::string& name) {
  line_ = std::make_unique<peers::PtyLink>(peers::LinkFaults{}, lineStop_);
  std::string error;
  EXPECT_TRUE(line_->Publish(dosdevices_, name, error)) << error;
  return *line_;
}

void LinkTest::Send(const std::vector<std::uint8_t>& bytes) {
  ASSERT_TRUE(line_->SendMessage(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

void LinkTest::Send(const std::string& text) {
  Send(std::vector<std::uint8_t>(text.begin(), text.end()));
}

}  // namespace porttest
