// The world the upgrade preparation runs in: a simulated handheld served in
// this process (with a start menu and the maker's menu as an old ROM has
// them), a distribution folder, a private PC registry store and dosdevices
// folder ($XDG_CONFIG_HOME), a loader peer answering on the link, and the
// scripted front-end. The handheld's Devflash.exe records how it was started.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "device_registry.h"
#include "distribution.h"
#include "handheld.h"
#include "rapi_service.h"
#include "scripted_front_end.h"
#include "sim/peers/link_peers.h"
#include "wizard/wizard_state.h"

namespace preparetest {

class Scratch {
 public:
  Scratch();
  ~Scratch();
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadHostFile(const std::string& path);

// What the handheld's Devflash.exe saw when it was started.
struct AgentStart {
  int starts = 0;
  std::u16string commandLine;
  bool recordExisted = false;  // the PC's resume record was already there
};
extern AgentStart agentStart;

class PrepareTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kTimeScale = 50;

  void SetUp() override;
  void TearDown() override;

  // Writes the distribution for an image of `code` and `version` ("1.41.00")
  // and sets the image header as the choice screen left it.
  void UseImage(const std::string& code, const std::string& version);
  void ConnectRemoteApi();
  // Connects the remote API and starts the loader peer for `connection`.
  void Connect(wizard::Connection connection);
  // The whole preparation, as the driver runs it.
  void Prepare();

  // The handheld.
  bool DeviceHas(const std::u16string& path);
  std::string DeviceFile(const std::u16string& path);
  void PutDeviceFile(const std::u16string& path, const std::string& bytes);
  void MakeDeviceFolder(const std::u16string& path);
  handheld::DeviceRegistry DeviceRegistry();
  // A value's text or number under HKEY_LOCAL_MACHINE; "<none>" / ~0 when missing.
  std::string RegText(const std::string& key, const std::string& name);
  std::uint32_t RegNumber(const std::string& key, const std::string& name);
  bool RegHas(const std::string& key, const std::string& name);
  // The PC registry store's text.
  std::string PcRegistry();

  Scratch state, dist, config;
  std::string languageFolder;
  std::unique_ptr<handheld::Handheld> hh;
  std::unique_ptr<handheld::RapiService> service;
  std::unique_ptr<testsupport::ScriptedFrontEnd> ui;
  std::unique_ptr<peers::FileFlashStore> flash;
  std::unique_ptr<peers::Peer> peer;

 private:
  std::string oldConfig_;
  bool hadConfig_ = false;
};

}  // namespace preparetest
