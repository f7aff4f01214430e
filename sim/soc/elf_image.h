// A StrongARM program image read from an ELF file: the loadable segments and
// the entry address. Only what a bare image linked to fixed addresses needs:
// 32-bit little-endian ARM executables with PT_LOAD segments.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace soc {

struct ElfSegment {
  uint32_t address;            // where the segment runs
  uint32_t memoryBytes;        // its size in memory (.bss included)
  std::vector<uint8_t> bytes;  // the file's bytes; the rest up to memoryBytes is zero
};

struct ElfImage {
  uint32_t entry = 0;
  std::vector<ElfSegment> segments;
  // The stack's range from the symbols __stack_limit and __stack_top; both 0
  // when the file has no such symbols (the core then guards no stack).
  uint32_t stackLimit = 0;
  uint32_t stackTop = 0;
  // The guard pages from the symbol __stack_guard up to __stack_limit: the
  // core leaves them inaccessible, so that the first store below the stack
  // faults before it lands. 0 when the image names none.
  uint32_t stackGuard = 0;
};

// The value of symbol `name` in the file's symbol table, if it has one.
bool FindElfSymbol(const std::vector<uint8_t>& file, const std::string& name, uint32_t& value);

// Reads `path`. Returns an empty string, or why the file is no usable image.
std::string LoadElfImage(const std::string& path, ElfImage& image);
// The same from bytes already in memory (tests patch images this way).
std::string ParseElfImage(const std::vector<uint8_t>& file, ElfImage& image);

}  // namespace soc
