// Text resources seam: the string tables of romwiz and the user's language.
// Win32: LoadStringA on the program's resources, GetUserDefaultUILanguage.
// Linux: the same texts compiled in from resources/strings_*.def (UTF-8),
// and the language of LC_ALL, LC_MESSAGES or LANG.
#pragma once

namespace platform {

// LoadStringA semantics: copies at most capacity - 1 bytes of string `id`
// into `buffer` and terminates it; a missing string leaves it empty.
// Returns the number of bytes copied.
int LoadText(int id, char* buffer, int capacity);

// The Windows language identifier (e.g. 0x0407, German) of the language the
// user reads: ROMWIZ_LANGUAGE=<identifier> ("0x0407" or "1031") when it is
// set to one, else the user's interface language; 0 when it is unknown.
unsigned UserLanguageId();

}  // namespace platform
