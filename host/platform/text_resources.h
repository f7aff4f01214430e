// Text resources seam: the string tables of romwiz.
// Win32: LoadStringA on the program's resources. Linux: the same English
// texts compiled in from resources/strings_en.def.
#pragma once

namespace platform {

// LoadStringA semantics: copies at most capacity - 1 bytes of string `id`
// into `buffer` and terminates it; a missing string leaves it empty.
// Returns the number of bytes copied.
int LoadText(int id, char* buffer, int capacity);

}  // namespace platform
