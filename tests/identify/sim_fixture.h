// A simulated handheld served in this process, a distribution folder the
// wizard starts from, a private registry store and the scripted front-end:
// the world the identification steps and the handheld file operations run in.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "distribution.h"
#include "handheld.h"
#include "programs.h"
#include "rapi_service.h"
#include "scripted_front_end.h"

namespace identifytest {

// A new empty folder under the temporary folder, removed with its contents.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteHostFile(const std::string& path, const std::string& bytes);
std::string ReadHostFile(const std::string& path);

// Replaces a built-in handheld program for the lifetime of the object.
class ProgramOverride {
 public:
  ProgramOverride(const std::string& fileName, handheld::ProgramHandler handler);
  ~ProgramOverride();

 private:
  std::string name_;
  handheld::ProgramHandler saved_;
};

class SimWorld : public ::testing::Test {
 protected:
  // Wizard time runs this many times faster than real time.
  static constexpr std::uint32_t kTimeScale = 20;

  void SetUp() override;
  void TearDown() override;

  handheld::CreateOptions HandheldOptions() const;
  handheld::DistributionOptions DistributionFor(const std::string& code = "ENG") const;
  // Writes the distribution and points BaseFolder at it.
  void Distribute(const handheld::DistributionOptions& options);
  // Asks for the connection the way the driver does.
  void Connect();          // and wait until the attempt has ended
  void StartConnecting();  // no waiting: the wizard waits
  // ActiveSync 3.5 in the private registry store.
  void WriteActiveSyncKey();

  // The handheld's file system, under its lock.
  bool DeviceHas(const std::u16string& path);
  std::string DeviceFile(const std::u16string& path);
  void PutDeviceFile(const std::u16string& path, const std::string& bytes);
  std::uint32_t DeviceAttributes(const std::u16string& path);
  void Change(const std::function<void(handheld::HandheldState&)>& change);

  // The language folder of the distribution.
  std::string LanguageFolder() const { return dist.Path() + "/" + language; }

  Scratch state, dist, config;
  std::string language = "English";
  std::string imagePath;
  std::unique_ptr<handheld::Handheld> hh;
  std::unique_ptr<handheld::RapiService> service;
  std::unique_ptr<testsupport::ScriptedFrontEnd> ui;

 private:
  std::string oldConfig_;
  bool hadConfig_ = false;
};

}  // namespace identifytest
