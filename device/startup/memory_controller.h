// Static memory controller edits made at the takeover.
#pragma once

// MSC0: bank 0 becomes a non-burst ROM/flash bank. MSC1: bank 2 gets the
// longest first-access delay and recovery time. Three read-modify-writes.
void TuneMemoryController();
