// Reads DLGTEMPLATE and DLGTEMPLATEEX resources as the dialog manager does.
#include "dialog_template.h"

#include <cstdint>
#include <cstring>

namespace probe {

namespace {

constexpr WORD kOrdinalMark = 0xFFFF;
constexpr WORD kExtendedSignature = 0xFFFF;
// Class ordinals of the predefined control classes.
constexpr WORD kButtonAtom = 0x80, kEditAtom = 0x81, kStaticAtom = 0x82;

struct Reader {
  const BYTE* at;
  WORD Word() {
    WORD value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  DWORD Dword() {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    at += sizeof value;
    return value;
  }
  short Short() { return static_cast<short>(Word()); }
  // A string or an ordinal (0xFFFF then the number); returns the text, or
  // the ordinal's class name.
  std::string StringOrOrdinal() {
    WORD first = Word();
    if (first == kOrdinalMark) {
      WORD ordinal = Word();
      if (ordinal == kButtonAtom) return "Button";
      if (ordinal == kEditAtom) return "Edit";
      if (ordinal == kStaticAtom) return "Static";
      return "#" + std::to_string(ordinal);
    }
    std::string text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<char>(c < 0x80 ? c : '?');
    return text;
  }
  void AlignDword(const BYTE* base) {
    std::uintptr_t offset = static_cast<std::uintptr_t>(at - base);
    at += (4 - offset % 4) % 4;
  }
};

RECT Units(short x, short y, short cx, short cy) { return RECT{x, y, x + cx, y + cy}; }

DialogTemplate Parse(int number, const BYTE* data) {
  Reader reader{data};
  DialogTemplate dialog{number, 0, {}, 0, {}, {}};
  bool extended = false;
  int count = 0;
  if (reinterpret_cast<const WORD*>(data)[0] == 1 && reinterpret_cast<const WORD*>(data)[1] == kExtendedSignature) {
    extended = true;
    reader.Word();
    reader.Word();
    reader.Dword();  // help id
    reader.Dword();  // extended style
    dialog.style = reader.Dword();
  } else {
    dialog.style = reader.Dword();
    reader.Dword();  // extended style
  }
  count = reader.Word();
  short x = reader.Short(), y = reader.Short(), cx = reader.Short(), cy = reader.Short();
  dialog.units = Units(x, y, cx, cy);
  reader.StringOrOrdinal();  // menu
  reader.StringOrOrdinal();  // class
  reader.StringOrOrdinal();  // caption
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = reader.Word();
    if (extended) {
      reader.Word();  // weight
      reader.Word();  // italic, character set
    }
    dialog.face = reader.StringOrOrdinal();
  }
  for (int i = 0; i < count; ++i) {
    reader.AlignDword(data);
    TemplateItem item{};
    if (extended) {
      reader.Dword();  // help id
      reader.Dword();  // extended style
      reader.Dword();  // style
    } else {
      reader.Dword();  // style
      reader.Dword();  // extended style
    }
    short ix = reader.Short(), iy = reader.Short(), icx = reader.Short(), icy = reader.Short();
    item.units = Units(ix, iy, icx, icy);
    item.id = extended ? static_cast<int>(reader.Dword()) : reader.Word();
    item.className = reader.StringOrOrdinal();
    reader.StringOrOrdinal();  // text
    WORD extra = reader.Word();
    reader.at += extra;
    dialog.items.push_back(item);
  }
  return dialog;
}

struct Collector {
  HMODULE module;
  std::vector<DialogTemplate>* templates;
};

BOOL CALLBACK CollectTemplate(HMODULE module, LPCSTR, LPSTR name, LONG_PTR parameter) {
  if (!IS_INTRESOURCE(name)) return TRUE;
  Collector* collector = reinterpret_cast<Collector*>(parameter);
  HRSRC resource = FindResourceA(module, name, MAKEINTRESOURCEA(5));  // RT_DIALOG
  HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
  const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  if (data != nullptr) {
    collector->templates->push_back(Parse(static_cast<int>(reinterpret_cast<std::uintptr_t>(name)), data));
  }
  return TRUE;
}

}  // namespace

std::vector<DialogTemplate> ReadTemplates(HMODULE module) {
  std::vector<DialogTemplate> templates;
  Collector collector{module, &templates};
  EnumResourceNamesA(module, MAKEINTRESOURCEA(5), CollectTemplate, reinterpret_cast<LONG_PTR>(&collector));
  return templates;
}

}  // namespace probe
