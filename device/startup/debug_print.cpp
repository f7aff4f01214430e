#include "startup/debug_print.h"

#include "platform/bus.h"
#include "startup/agent_state.h"
#include "startup/os_timer.h"

namespace {

constexpr uint32_t kByteGapMicroseconds = 1000;
constexpr char kHexDigits[] = "0123456789ABCDEF";

void SendByte(char c) {
  devbus::Write8(Agent.hardwareMap.debugPort, static_cast<uint8_t>(c));
  WaitMicroseconds(kByteGapMicroseconds);
}

// A line feed leaves as carriage return and line feed.
void SendText(const char* text) {
  for (; text != nullptr && *text != '\0'; ++text) {
    if (*text == '\n') SendByte('\r');
    SendByte(*text);
  }
}

void SendHex(uint32_t value, uint32_t minDigits) {
  char digits[8];
  uint32_t n = 0;
  do {
    digits[n++] = kHexDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (uint32_t i = n; i < minDigits; ++i) SendByte('0');
  while (n > 0) SendByte(digits[--n]);
}

void SendUnsigned(uint32_t value) {
  char digits[10];
  uint32_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) SendByte(digits[--n]);
}

void SendSigned(uint32_t value) {
  if (static_cast<int32_t>(value) < 0) {
    SendByte('-');
    value = 0u - value;  // magnitude, also right for the most negative value
  }
  SendUnsigned(value);
}

void SendConversion(char kind, const DebugArg& arg) {
  switch (kind) {
    case 'x': SendHex(arg.value, 1); break;
    case 'B': SendHex(arg.value, 2); break;
    case 'H': SendHex(arg.value, 4); break;
    case 'X': SendHex(arg.value, 8); break;
    case 'd': SendSigned(arg.value); break;
    case 'u': SendUnsigned(arg.value); break;
    case 'c': SendByte(static_cast<char>(arg.value & 0xFF)); break;
    case 's': SendText(arg.text); break;
  }
}

bool TakesValue(char kind) {
  switch (kind) {
    case 'x': case 'B': case 'H': case 'X': case 'd': case 'u': case 'c': case 's':
      return true;
  }
  return false;
}

}  // namespace

void DebugPrintArgs(const char* format, const DebugArg* args, uint32_t count) {
  uint32_t next = 0;
  const DebugArg none;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p == '\n') {
      SendByte('\r');
      SendByte('\n');
    } else if (*p != '%') {
      SendByte(*p);
    } else if (p[1] == '%') {
      SendByte('%');
      ++p;
    } else if (TakesValue(p[1])) {
      SendConversion(p[1], next < count ? args[next] : none);
      ++next;
      ++p;
    } else {
      // Unknown conversion: one space, the character consumed. A "%" at the
      // very end consumes nothing, so the walk never passes the terminator.
      SendByte(' ');
      if (p[1] == '\0') break;
      ++p;
    }
  }
}
