// The user's language on Linux: ROMWIZ_LANGUAGE, else the locale of messages
// (LC_ALL, then LC_MESSAGES, then LANG: the first that is set and not empty,
// as the C library takes them), turned into a Windows language identifier.
#include "platform/posix/user_language_posix.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/text_resources.h"
#include "wizard/catalogue.h"

namespace platform {
namespace {

struct Territory {
  const char* code;  // ISO 3166 territory of the locale name; "" for any other
  unsigned id;
};

struct Language {
  const char* code;  // ISO 639 language of the locale name
  const Territory* territories;
  std::size_t count;
};

// Windows identifiers of the languages romwiz has texts for (and English);
// each language's first entry is its main one.
constexpr Territory kGerman[] = {{"DE", 0x0407}, {"CH", 0x0807}, {"AT", 0x0C07},
                                 {"LU", 0x1007}, {"LI", 0x1407}};
constexpr Territory kFrench[] = {{"FR", 0x040C}, {"BE", 0x080C}, {"CA", 0x0C0C},
                                 {"CH", 0x100C}, {"LU", 0x140C}, {"MC", 0x180C}};
constexpr Territory kItalian[] = {{"IT", 0x0410}, {"CH", 0x0810}};
constexpr Territory kSpanish[] = {
    {"ES", 0x0C0A}, {"MX", 0x080A}, {"GT", 0x100A}, {"CR", 0x140A}, {"PA", 0x180A},
    {"DO", 0x1C0A}, {"VE", 0x200A}, {"CO", 0x240A}, {"PE", 0x280A}, {"AR", 0x2C0A},
    {"EC", 0x300A}, {"CL", 0x340A}, {"UY", 0x380A}, {"PY", 0x3C0A}, {"BO", 0x400A},
    {"SV", 0x440A}, {"HN", 0x480A}, {"NI", 0x4C0A}, {"PR", 0x500A}, {"US", 0x540A}};
constexpr Territory kChinese[] = {{"CN", 0x0804}, {"TW", 0x0404}, {"HK", 0x0C04},
                                  {"SG", 0x1004}, {"MO", 0x1404}};
constexpr Territory kEnglish[] = {{"US", 0x0409}, {"GB", 0x0809}};

constexpr Language kLanguages[] = {
    {"de", kGerman, std::size(kGerman)},   {"fr", kFrench, std::size(kFrench)},
    {"it", kItalian, std::size(kItalian)}, {"es", kSpanish, std::size(kSpanish)},
    {"zh", kChinese, std::size(kChinese)}, {"en", kEnglish, std::size(kEnglish)},
};

// Spain's traditional sort ("es_ES@traditional") has an identifier of its own.
constexpr unsigned kSpanishTraditionalSort = 0x040A;

const char* FirstSet(const char* const* names) {
  for (; *names != nullptr; ++names) {
    const char* value = std::getenv(*names);
    if (value != nullptr && value[0] != 0) return value;
  }
  return nullptr;
}

}  // namespace

unsigned LanguageIdForLocale(const char* locale) {
  if (locale == nullptr) return 0;
  std::string name = locale;
  std::string modifier;
  std::size_t at = name.find('@');
  if (at != std::string::npos) {
    modifier = name.substr(at + 1);
    name.erase(at);
  }
  name.erase(std::min(name.find('.'), name.size()));
  std::size_t underscore = name.find('_');
  std::string language = name.substr(0, underscore);
  std::string territory = underscore == std::string::npos ? "" : name.substr(underscore + 1);
  for (const Language& entry : kLanguages) {
    if (language != entry.code) continue;
    if (language == "es" && territory == "ES" && modifier == "traditional")
      return kSpanishTraditionalSort;
    for (std::size_t i = 0; i < entry.count; ++i)
      if (territory == entry.territories[i].code) return entry.territories[i].id;
    return entry.territories[0].id;
  }
  return 0;
}

unsigned UserLanguageId() {
  unsigned chosen = 0;
  if (wizard::ParseLanguageId(std::getenv("ROMWIZ_LANGUAGE"), chosen)) return chosen;
  static const char* const kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG", nullptr};
  return LanguageIdForLocale(FirstSet(kLocaleVariables));
}

}  // namespace platform
