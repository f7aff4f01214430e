// The asset data file's parser on arbitrary bytes of exactly the input's
// length (so that a read past the bytes read is caught), checked against a
// plain reading of the file's layout: the model is the low bytes of up to 9
// UTF-16 units at offset 152 up to the first zero unit; the version is 11
// units at offset 2556, a zero unit read as "."; "1..2.00 ENG" and
// "1..2.00 JPN" (any case) are read as 1.12.00.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "checks/identify.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& got, const std::string& expected) {
  std::fprintf(stderr, "asset data: %s: got [%s], expected [%s]\n", what, got.c_str(), expected.c_str());
  std::abort();
}

std::uint16_t Unit(const std::uint8_t* data, std::size_t offset) {
  return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

std::string ExpectedModel(const std::uint8_t* data) {
  std::string model;
  for (std::size_t i = 0; i < wizard::kAssetModelUnits; ++i) {
    std::uint16_t unit = Unit(data, wizard::kAssetModelOffset + 2 * i);
    if (unit == 0) break;
    model += static_cast<char>(unit & 0xFF);
  }
  return model;
}

std::string ExpectedVersion(const std::uint8_t* data) {
  std::string version;
  for (std::size_t i = 0; i < wizard::kAssetVersionUnits; ++i) {
    std::uint16_t unit = Unit(data, wizard::kAssetVersionOffset + 2 * i);
    version += unit == 0 ? '.' : static_cast<char>(unit & 0xFF);
  }
  std::string folded = version;
  for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (folded == "1..2.00 ENG" || folded == "1..2.00 JPN") version[2] = '1';
  return version;
}

// The parsed text as far as the field holds it (a unit whose low byte is 0
// ends the C string early; the field is compared byte for byte).
template <std::size_t N>
std::string Field(const char (&field)[N], std::size_t length) {
  if (field[N - 1] != 0) Fail("field not terminated", std::string(field, N), "");
  return std::string(field, length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  wizard::AssetFields fields;
  bool parsed = wizard::ParseAssetData(data, size, fields);
  if (parsed != (size >= wizard::kAssetMinimumSize)) Fail("accepted a file of the wrong size", "", "");
  if (!parsed) {
    if (fields.ModelID[0] != 0 || fields.VersionString[0] != 0) Fail("refused file leaves fields", "", "");
    return 0;
  }
  std::string model = ExpectedModel(data), version = ExpectedVersion(data);
  if (Field(fields.ModelID, model.size()) != model || fields.ModelID[model.size()] != 0)
    Fail("model", fields.ModelID, model);
  if (Field(fields.VersionString, version.size()) != version) Fail("version", fields.VersionString, version);
  return 0;
}
