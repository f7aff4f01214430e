// Test helpers shared by the image, checks and Linux platform suites: a
// scratch folder, a private registry store, and a front-end double that
// records the screens shown and whether the wizard was ended.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/screens.h"
#include "wizard/screen_session.h"

namespace f3test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "romwiz-f3-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points $XDG_CONFIG_HOME at a scratch folder for the test's lifetime.
class ScopedRegistry {
 public:
  ScopedRegistry() {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
  }
  ~ScopedRegistry() {
    if (hadOld_) ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
  }
  std::string StoreFile() const { return folder_ / "romwiz/registry.reg"; }
  std::string Text() const {
    std::ifstream in(StoreFile(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void Write(const std::string& text) const {
    std::filesystem::create_directories(folder_ / "romwiz");
    std::ofstream(StoreFile(), std::ios::binary) << text;
  }

 private:
  TempFolder folder_;
  std::string old_;
  bool hadOld_ = false;
};

class RecordingView : public screens::ScreenView {
 public:
  void ControlChanged(int) override {}
  void ProgressChanged() override {}
  void StartTimer(int, std::uint32_t) override {}
  void StopTimer(int) override {}
  void CursorChanged() override {}
  void Collapse() override { collapsed = true; }
  void SetVisible(bool) override {}
  void Ended() override {}
  bool collapsed = false;
};

// Ends every modal screen at once with result 1 and records its number.
class RecordingFrontEnd : public screens::FrontEnd {
 public:
  RecordingFrontEnd() { screens::SetFrontEnd(this); }
  ~RecordingFrontEnd() override { screens::SetFrontEnd(nullptr); }
  int RunModal(screens::ScreenSession& session) override {
    shown.push_back(session.id());
    return 1;
  }
  void OpenModeless(screens::ScreenSession& session) override { shown.push_back(session.id()); }
  void CloseModeless(screens::ScreenSession&) override {}
  bool ChooseFile(const screens::FileDialogRequest&, char*, std::size_t) override { return false; }
  void CloseMainWindow() override { ++closed; }
  std::vector<int> shown;
  int closed = 0;
};

}  // namespace f3test
