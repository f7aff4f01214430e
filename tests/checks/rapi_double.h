// A link-time double of the remote API for the suites that must not need a
// running handheld simulator: a handful of handheld files in memory, counters
// of the connection calls and a record of the remote calls made.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rapidouble {

struct Invocation {
  std::u16string library, function;
  std::vector<std::uint8_t> input;
};

struct State {
  std::map<std::u16string, std::string> files;  // handheld path -> contents
  int initCalls = 0, uninitCalls = 0;
  std::int32_t initResult = 0;       // what CeRapiInitEx returns
  bool connects = true;              // the start's event is signalled within the wait
  bool failCreate = false;           // CeCreateFile fails
  int failWriteAfter = -1;           // CeWriteFile fails from this call on (-1: never)
  int writeCalls = 0;
  int openHandles = 0;               // handles created and not yet closed
  int blocksAllocated = 0, blocksFreed = 0;
  std::vector<Invocation> invocations;
};

State& Handheld();
void Reset();

}  // namespace rapidouble
