// The user's language on Linux, as a Windows language identifier.
#pragma once

namespace platform {

// The Windows language identifier of a POSIX locale name
// ("language[_TERRITORY][.codeset][@modifier]", e.g. "de_AT.UTF-8" -> 0x0C07).
// A territory Windows has no identifier for takes the language's main one
// ("de_BE" -> 0x0407); "C", "POSIX", empty names and languages romwiz has no
// texts for give 0.
unsigned LanguageIdForLocale(const char* locale);

}  // namespace platform
