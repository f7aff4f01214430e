// The resume path: the handheld did not answer through ActiveSync, so an
// upgrade left half done by an earlier run is finished from the resume
// record, without identifying the handheld again.
#pragma once

namespace wizard {

// Runs on the GUI thread when the remote API connection did not come up.
// Without a pending record: "ERROR 101: CONNECTION ERROR", the remote API
// closed. Otherwise ActiveSync is stopped and the resume form of the
// download progress screen resends the image (over the boot loader when the
// record is critical); success leads to the after-transfer screen and the
// closing screen of the connection's kind, failure to "ERROR 114" (critical
// record, or the loader block was under way) or "ERROR 113". Always ends the
// wizard.
void RunResumePath();

}  // namespace wizard
