// The agent's start-up while Windows CE still runs: command line, language
// texts, model, notice, dial-up hang-up. Everything here goes through the
// services seam (platform/services.h).
#pragma once
#include <stdint.h>

// HAL requests made through KernelIoControl.
constexpr uint32_t kIoctlHalLanguageName = 0x01010102;
constexpr uint32_t kIoctlHalInformation = 0x01012000;
constexpr uint32_t kIoctlStopInterrupts = 0x0101010E;
constexpr uint16_t kHalInformationRequest = 0x1000;

// Program entry (the body of WinMain). Returns 0 when it gives up before the
// takeover; once the takeover has begun it never returns.
int DevflashMain(void* instance, const char16_t* commandLine);

// Loads the serial and USB notice texts for the HAL's language name.
void SelectLanguageTexts();

// ModelCode from the OEM information string ("5800" first, then "5300").
int32_t DetectModel();

// The full-screen notice for ConnectionType and ModelCode; none for a code
// other than serial or USB. Returns the dialog (0 when none was created).
uintptr_t ShowProgressDialog();

// Hangs up every dial-up connection; 0 or the first error code.
uint32_t CloseRasConnections();
