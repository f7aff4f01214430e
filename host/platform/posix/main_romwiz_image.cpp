// romwiz-image: looks into a ROM image file (.nbf) the way the wizard does.
//
//   romwiz-image info FILE     model, language code, version, stored and
//                              computed checksum, payload size
//   romwiz-image verify FILE   exit 0 only when the wizard would accept the
//                              image (the stored checksum matches the payload,
//                              which holds at least 512 KB); otherwise each
//                              problem on standard error, exit 1. Oddities the
//                              wizard does not refuse go to standard error as
//                              notes either way.
//   romwiz-image --help | --version
//
// Usage errors exit 2. Bytes of a damaged header are shown escaped (\x8f).
// The same entry builds the Windows console program: it needs nothing but
// the C library.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/escaped_text.h"
#include "image/image_check.h"

namespace {

constexpr int kSound = 0, kFaulty = 1, kUsage = 2;

const char kUsageText[] =
    "usage: romwiz-image info FILE      model, language, version, checksums and payload size\n"
    "       romwiz-image verify FILE    exit 0 only when the header and the checksum hold\n"
    "       romwiz-image --help | --version\n";

int Help() {
  std::fputs(kUsageText, stdout);
  return kSound;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "romwiz-image: %s\n%s", wizard::EscapedText(problem).c_str(), kUsageText);
  return kUsage;
}

std::string Shown(const char* text) { return wizard::EscapedText(text); }

void PrintProblems(const char* path, const wizard::ImageCheck& check) {
  for (const std::string& problem : check.problems)
    std::fprintf(stderr, "%s: %s\n", path, wizard::EscapedText(problem).c_str());
  for (const std::string& note : check.notes)
    std::fprintf(stderr, "%s: note: %s\n", path, wizard::EscapedText(note).c_str());
}

int Info(const char* path) {
  wizard::ImageCheck check = wizard::CheckImageFile(path);
  if (!check.opened) {
    PrintProblems(path, check);
    return kFaulty;
  }
  const wizard::ImageHeaderRecord& h = check.header;
  const char* language = wizard::LanguageForCode(h.ImageLang);
  std::printf("model: %s\n", Shown(h.ImageModelID).c_str());
  std::printf("language: %s (%s)\n", Shown(h.ImageLang).c_str(), language ? language : "unknown");
  std::printf("version: %s\n", Shown(h.ImageVersion).c_str());
  std::printf("stored checksum: %s\n", check.storedValid ? wizard::ChecksumText(check.stored).c_str() : "(none)");
  std::printf("computed checksum: %s\n", wizard::ChecksumText(check.computed).c_str());
  std::printf("payload: %llu bytes\n", static_cast<unsigned long long>(check.payloadBytes));
  PrintProblems(path, check);
  return check.Sound() ? kSound : kFaulty;
}

int Verify(const char* path) {
  wizard::ImageCheck check = wizard::CheckImageFile(path);
  if (!check.Sound()) {
    PrintProblems(path, check);
    return kFaulty;
  }
  std::printf("%s: sound (%s %s %s, checksum %s, %llu payload bytes)\n", path,
              Shown(check.header.ImageModelID).c_str(), Shown(check.header.ImageLang).c_str(),
              Shown(check.header.ImageVersion).c_str(), wizard::ChecksumText(check.computed).c_str(),
              static_cast<unsigned long long>(check.payloadBytes));
  PrintProblems(path, check);  // its notes
  return kSound;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return Help();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("romwiz-image %s\n", ROMWIZ_VERSION);
    return kSound;
  }
  if (argc < 2) return Usage("no command given");
  const bool known = std::strcmp(argv[1], "info") == 0 || std::strcmp(argv[1], "verify") == 0;
  if (!known) return Usage((std::string("unknown command ") + argv[1]).c_str());
  if (argc != 3) return Usage((std::string(argv[1]) + " takes one FILE").c_str());
  return std::strcmp(argv[1], "info") == 0 ? Info(argv[2]) : Verify(argv[2]);
}
