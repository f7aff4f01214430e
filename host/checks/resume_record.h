// The resume record: an upgrade under way, kept in the PC registry under
// HKEY_CURRENT_USER "Software\Veltrom" for exactly the time the handheld's
// flash is being rewritten, so that the next run can resume the download.
//
//   "Flash"     REG_DWORD  1 while an upgrade is pending
//   "Language"  REG_SZ     DeviceInfo.Language, a 20-byte block (text, NUL, zeros)
//   "ModelID"   REG_SZ     DeviceInfo.ModelID, 15-byte block
//   "Lang"      REG_SZ     DeviceInfo.Lang, 10-byte block
//   "Version"   REG_SZ     DeviceInfo.Version, 20-byte block
//   "USB"       REG_DWORD  1 for a USB connection, 0 for Serial
//   "FlashFile" REG_SZ     the image being written, with its NUL
//   "Critical"  REG_DWORD  1 once a download failed in its critical stretch;
//                          never written as 0 (only deleting the key clears it)
//
// All registry failures are silent.
#pragma once

namespace wizard {

// Writes "Flash" = 1, "Language", "ModelID", "Lang", "Version", "USB" and
// "FlashFile", in this order, from the wizard state. Not "Critical".
void SaveUpgradeState();
// Writes "Critical" = 1.
void MarkCriticalState();
// Reads the record into DeviceInfo, FlashFile, ConnectionType and Critical;
// returns (and stores) ResumePending: "Flash" equals 1. A missing key returns
// false and changes nothing; values too large for their field are skipped.
bool LoadUpgradeState();
// Deletes the key "Veltrom" under HKEY_CURRENT_USER\Software. Failures are
// ignored.
void DeleteUpgradeState();
// For identification, once the handheld has answered through ActiveSync and
// the connection type is chosen: deletes the record and clears Critical in
// memory as well, so that the run goes on as a fresh upgrade over the chosen
// connection (a kept Critical would force the serial port and the boot
// loader on a handheld that runs Windows CE normally).
void ForgetUpgradeStateAfterConnect();
// True (the default) in the wizard. A program that writes an image without
// an upgrade behind it (romwiz-flash) turns it off: Save, Mark and Delete
// then touch nothing, so a record another run left stays as it was.
void KeepResumeRecord(bool kept);
bool ResumeRecordKept();

}  // namespace wizard
