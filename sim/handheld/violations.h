// The handheld's record of protocol violations: everything a real handheld
// would refuse or choke on (bytes before their turn, wrong replies,
// out-of-range addresses, a damaged staged program, a HAL request with the
// wrong sizes, a flash command sequence the chips abort). Kept in the state
// folder ("violations.txt", one line each) so that the daemon's threads, its
// peers and `handheld-sim status` share it; a correct PC leaves it empty, and
// every end-to-end and integration test checks that.
#pragma once
#include <string>
#include <vector>

namespace handheld {

// Appends one line ("who: what"); safe from several threads and processes.
void RecordViolation(const std::string& folder, const std::string& what);
std::vector<std::string> LoadViolations(const std::string& folder);
// Shown by `handheld-sim status`: "violations=N" and one "violation=..." each.
std::string FormatViolations(const std::vector<std::string>& violations);

}  // namespace handheld
