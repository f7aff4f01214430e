// The demo distribution: the folder romwiz runs from. For one handheld
// identity it writes OUT/<Language>/ with
//   <model>_<code>_<version>.nbf   a valid image (header and checksum right),
//                                  whose payload carries the identity block
//   module.dat                     the modules to remove, CR LF lines, "$" last
//   GetType.exe, backup.exe, SetSystemTime.dll, Devflash.exe
//                                  program files (ProgramFileText); the
//                                  handheld runs its own built-in program of
//                                  that name
//   flash_usb.nb, flash_serial.nb  64 KiB loader files
//   readme.doc                     a short text
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "rom_image.h"

namespace handheld {

constexpr std::uint32_t kLoaderFileSize = 64 * 1024;

struct DistributionOptions {
  RomIdentity identity;
  std::uint32_t sizeMb = 2;               // image payload size
  std::vector<std::string> modules;       // module.dat lines (empty: the handheld defaults)
  std::set<std::string> omit;             // file kinds left out: "image", "module.dat", or a file name
  bool corruptImage = false;              // flip one payload byte after the checksum was taken
};

// Writes the distribution; returns an error text, empty on success. Returns
// the image's path in `imagePath` when one was written.
std::string WriteDistribution(const std::string& outFolder, const DistributionOptions& options,
                              std::string* imagePath = nullptr);

// The handheld programs a distribution carries, and their exact contents.
// The handheld runs its built-in program of that name only when the staged
// file is this file byte for byte.
const std::vector<std::string>& DistributedPrograms();
std::string DistributedProgramText(const std::string& program);

// "LUMO-5800" + "ENG" + "1.14.00" -> "LUMO5800_ENG_114.nbf"
std::string ImageFileName(const RomIdentity& identity);

}  // namespace handheld
