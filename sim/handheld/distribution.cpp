#include "distribution.h"

#include <filesystem>
#include <fstream>

#include "handheld.h"
#include "programs.h"

namespace fs = std::filesystem;

namespace handheld {
namespace {

constexpr std::uint32_t kMb = 1024 * 1024;
// Payload offset of the byte a corrupted image has flipped: inside the OS
// part, after the identity block, so the image still names its handheld.
constexpr std::uint32_t kCorruptedByte = kIdentityOffset + 0x1000;

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

bool WriteLoaderFile(const std::string& path, const std::string& kind) {
  // Content is a recognisable pattern; the simulated loader peers do not run it.
  std::string bytes = "handheld-sim download loader (" + kind + ")\n";
  bytes.resize(kLoaderFileSize, '\0');
  for (std::size_t i = 64; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + kind.size());
  return WriteText(path, bytes);
}

}  // namespace

std::string ImageFileName(const RomIdentity& identity) {
  std::string name;
  for (char c : identity.modelId)
    if (c != '-') name += c;
  name += "_" + identity.language + "_";
  for (char c : identity.version.substr(0, 4))
    if (c != '.') name += c;
  return name + ".nbf";
}

const std::vector<std::string>& DistributedPrograms() {
  static const std::vector<std::string> programs = {"GetType.exe", "backup.exe", "SetSystemTime.dll",
                                                    "Devflash.exe"};
  return programs;
}

std::string DistributedProgramText(const std::string& program) { return ProgramFileText(program); }

std::string WriteDistribution(const std::string& outFolder, const DistributionOptions& options,
                              std::string* imagePath) {
  if (std::string problem = CheckIdentity(options.identity); !problem.empty()) return problem;
  const std::string language = LanguageFolderForCode(options.identity.language);
  if (language.empty()) return "unknown language code " + options.identity.language;
  if (options.sizeMb == 0 || options.sizeMb > 255) return "the image size must be 1 to 255 MB";
  const std::string folder = outFolder + "/" + language;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create " + folder;
  auto wanted = [&](const std::string& kind) { return options.omit.count(kind) == 0; };

  if (wanted("image")) {
    std::vector<std::uint8_t> payload = MakeRomPayload(options.identity, options.sizeMb * kMb);
    const std::string path = folder + "/" + ImageFileName(options.identity);
    const std::string header = MakeImageHeader(options.identity, payload);
    if (options.corruptImage) payload[kCorruptedByte] ^= 0x5A;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(payload.data()), static_cast<std::streamsize>(payload.size()));
    if (!out.flush()) return "cannot write " + path;
    if (imagePath) *imagePath = path;
  }
  if (wanted("module.dat")) {
    std::string text;
    for (const std::string& m : options.modules.empty() ? CreateOptions::DefaultModules() : options.modules)
      text += m + "\r\n";
    text += "$\r\n";
    if (!WriteText(folder + "/module.dat", text)) return "cannot write module.dat";
  }
  for (const std::string& program : DistributedPrograms())
    if (wanted(program) && !WriteText(folder + "/" + program, DistributedProgramText(program)))
      return "cannot write " + program;
  if (wanted("flash_usb.nb") && !WriteLoaderFile(folder + "/flash_usb.nb", "usb")) return "cannot write flash_usb.nb";
  if (wanted("flash_serial.nb") && !WriteLoaderFile(folder + "/flash_serial.nb", "serial"))
    return "cannot write flash_serial.nb";
  if (wanted("readme.doc") &&
      !WriteText(folder + "/readme.doc", "Lumo Pocket PC ROM " + options.identity.version + " (" + language +
                                             ") for " + options.identity.modelId + ".\r\n"))
    return "cannot write readme.doc";
  return {};
}

}  // namespace handheld
