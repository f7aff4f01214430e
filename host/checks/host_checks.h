// Host environment checks: which Windows the PC runs and which ActiveSync is
// installed, read from the PC registry (HKEY_LOCAL_MACHINE). Each probe opens
// its key for reading, closes it on every path and shows nothing.
#pragma once

namespace wizard {

// "ProductName" of SOFTWARE\Microsoft\Windows\CurrentVersion is
// "Microsoft Windows 95" (case-insensitive). Unreadable: false.
bool IsWindows95();
// "CurrentVersion" of SOFTWARE\Microsoft\Windows NT\CurrentVersion is "4.0"
// or "3.51" (case-insensitive). Unreadable: false.
bool IsOldWindowsNT();
// MajorVersion x 10 + MinorVersion of SOFTWARE\Microsoft\Windows CE Services
// is at least 35 (ActiveSync 3.5). A value that cannot be read counts as 0;
// a missing key fails the check.
bool ActiveSyncVersionOk();

}  // namespace wizard
