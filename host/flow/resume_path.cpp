#include "flow/resume_path.h"

#include "checks/activesync.h"
#include "checks/identify.h"
#include "checks/resume_record.h"
#include "flow/driver.h"
#include "flow/screen_behaviour.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

constexpr int kAfterTransfer = 167;
constexpr int kClosingSerial = 160;
constexpr int kClosingUsb = 133;
constexpr int kCommunicationError = 142;  // "ERROR 114:  COMMUNICATION ERROR"
constexpr int kUpgradeError = 114;        // "ERROR 113:  UPGRADE ERROR"

void ShowOutcome(int transfer) {
  if (transfer == kTransferred) {
    if (screens::ShowScreen(kAfterTransfer) != kSkipClosing) {
      screens::ShowScreen(Wizard.ConnectionType == Connection::Serial ? kClosingSerial : kClosingUsb);
    }
    return;
  }
  // A critical record failed again, or the loader block was under way: the
  // next run must use the boot loader (the screen marks the record).
  if (Wizard.Critical || Workers.BytesToSend <= kLoaderBlockBytes) {
    screens::ShowScreen(kCommunicationError);
  } else {
    screens::ShowScreen(kUpgradeError);
  }
}

}  // namespace

void RunResumePath() {
  // The connection attempt was ended before this path was taken.
  if (!LoadUpgradeState()) {
    screens::ShowScreen(kConnectionErrorScreen);
    EndWizard();
    return;
  }
  StopActiveSync();  // it holds the port
  int transfer = screens::ShowResumeProgressScreen();
  // A worker that could not use the image has shown its error and ended the
  // wizard already.
  if (!Wizard.WizardEnded) ShowOutcome(transfer);
  EndWizard();
}

}  // namespace wizard
