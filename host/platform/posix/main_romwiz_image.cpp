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
//
// Usage errors exit 2.
#include <cstdio>
#include <cstring>
#include <string>

#include "image/image_check.h"

namespace {

constexpr int kSound = 0, kFaulty = 1, kUsage = 2;

int Usage() {
  std::fprintf(stderr, "usage: romwiz-image info FILE\n       romwiz-image verify FILE\n");
  return kUsage;
}

void PrintProblems(const char* path, const wizard::ImageCheck& check) {
  for (const std::string& problem : check.problems) std::fprintf(stderr, "%s: %s\n", path, problem.c_str());
  for (const std::string& note : check.notes) std::fprintf(stderr, "%s: note: %s\n", path, note.c_str());
}

int Info(const char* path) {
  wizard::ImageCheck check = wizard::CheckImageFile(path);
  if (!check.opened) {
    PrintProblems(path, check);
    return kFaulty;
  }
  const wizard::ImageHeaderRecord& h = check.header;
  const char* language = wizard::LanguageForCode(h.ImageLang);
  std::printf("model: %s\n", h.ImageModelID);
  std::printf("language: %s (%s)\n", h.ImageLang, language ? language : "unknown");
  std::printf("version: %s\n", h.ImageVersion);
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
  std::printf("%s: sound (%s %s %s, checksum %s, %llu payload bytes)\n", path, check.header.ImageModelID,
              check.header.ImageLang, check.header.ImageVersion, wizard::ChecksumText(check.computed).c_str(),
              static_cast<unsigned long long>(check.payloadBytes));
  PrintProblems(path, check);  // its notes
  return kSound;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  if (std::strcmp(argv[1], "info") == 0) return Info(argv[2]);
  if (std::strcmp(argv[1], "verify") == 0) return Verify(argv[2]);
  return Usage();
}
