// The four ProgressDialog templates: 150 x 168 dialog units, no caption,
// font "System" 10, message control 1021 and an empty bordered frame 65535.
#pragma once
#include <stdint.h>

constexpr int kMessageControlId = 1021;
constexpr int kFrameControlId = 65535;
constexpr int kTemplateWidthDu = 150;
constexpr int kTemplateHeightDu = 168;

struct DialogRect {
  int16_t x, y, cx, cy;
};

struct ProgressTemplate {
  uint32_t id;
  uint32_t style;
  DialogRect message;
  DialogRect frame;
  const char16_t* builtInText;
};

constexpr uint32_t kTemplateSerial5300 = 103;
constexpr uint32_t kTemplateSerial5800 = 105;
constexpr uint32_t kTemplateUsb5300 = 106;
constexpr uint32_t kTemplateUsb5800 = 107;

const ProgressTemplate* FindProgressTemplate(uint32_t id);
