#include "platform/services.h"
#include "resources/agent_strings.h"
#include "startup/agent_state.h"
#include "startup/wide_text.h"
#include "startup/windows_phase.h"

namespace {

constexpr uint32_t kLanguageBufferBytes = 2288;
constexpr uint32_t kLanguageBufferChars = kLanguageBufferBytes / 2;

struct LanguageRow {
  const char16_t* name;
  NoticeTextIds ids;
};

// The first equal name decides; the Asian names get the longer English times.
constexpr LanguageRow kLanguages[] = {
    {u"SIMPLE CHINESE", kEnglishLongTexts},
    {u"TRADITIONAL CHINESE", kEnglishLongTexts},
    {u"JAPANESE", kEnglishLongTexts},
    {u"FRENCH", kFrenchTexts},
    {u"FRANCAIS", kFrenchTexts},
    {u"DEUTSCH", kGermanTexts},
    {u"ITALIAN", kItalianTexts},
    {u"SPANISH", kSpanishTexts},
};

NoticeTextIds TextsFor(const char16_t* name) {
  for (const LanguageRow& row : kLanguages) {
    if (WideEqual(name, row.name)) return row.ids;
  }
  return kEnglishTexts;
}

}  // namespace

void SelectLanguageTexts() {
  char16_t name[kLanguageBufferChars];
  ClearBytes(name, sizeof name);
  devos::KernelIoControl(kIoctlHalLanguageName, nullptr, 0, name, sizeof name);
  // Whatever the HAL wrote, the name ends inside the buffer.
  name[kLanguageBufferChars - 1] = u'\0';
  const NoticeTextIds ids = TextsFor(name);
  devos::LoadString(Agent.instance, ids.serial, Agent.serialText, kNoticeChars);
  devos::LoadString(Agent.instance, ids.usb, Agent.usbText, kNoticeChars);
}
