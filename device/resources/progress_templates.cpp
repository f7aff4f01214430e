#include "resources/progress_templates.h"

namespace {

#define BUILT_IN u"Updating ROM image on your device...\r\n\r\nPlease do not remove the USB/serial connection or AC power from the device. Remember, the operation will take about"

constexpr ProgressTemplate kTemplates[] = {
    {kTemplateSerial5300, 0x90000AC0, {7, 77, 127, 81}, {15, 62, 103, 12}, BUILT_IN u" 30 minutes."},
    {kTemplateSerial5800, 0x90000AC0, {7, 81, 121, 73}, {15, 61, 105, 12}, BUILT_IN u" 30 minutes."},
    {kTemplateUsb5300, 0x900002C0, {7, 77, 127, 77}, {15, 62, 103, 12}, BUILT_IN u" 4 minutes."},
    {kTemplateUsb5800, 0x900002C0, {7, 81, 121, 73}, {15, 61, 105, 12}, BUILT_IN u" 4 minutes."},
};

}  // namespace

const ProgressTemplate* FindProgressTemplate(uint32_t id) {
  for (const ProgressTemplate& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}
