// The stand-in's record of breaches of the remote API's documented contract
// (a call before the connection is up, a second start, an uninit without a
// start, an invoke block that LocalFree cannot free). Each breach is one
// line appended to the file named by ROMWIZ_RAPI_BREACH_LOG, so that a suite
// can assert that the program kept the contract; without the variable the
// breaches go to the debugger output only. The caller is never stopped by
// the log: the call itself fails as the contract says.
#pragma once

namespace standin {

constexpr const char kBreachLogVariable[] = "ROMWIZ_RAPI_BREACH_LOG";

// printf-style; the line is cut at a few hundred characters.
void RecordBreach(const char* format, ...);

}  // namespace standin
