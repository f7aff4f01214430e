#include "prepare/settings_carry_over.h"

#include <cctype>
#include <cstring>
#include <string>

#include "handheld_files/device_files.h"
#include "image/image_file.h"

namespace wizard {
namespace {

constexpr int kButtonCount = 5;
constexpr const char16_t* kPowerKey = u"\\ControlPanel\\Power";
constexpr const char16_t* kDiskKey = u"\\Drivers\\NrvDisk";
constexpr const char16_t* kStarterKey = u"\\SOFTWARE\\Norvane\\Starter";
constexpr const char16_t* kMenusKey = u"ControlPanel\\Menus";
constexpr const char16_t* kCoolMenuValue = u"CoolMenu";
constexpr std::uint32_t kCoolMenuReadBytes = 100;
constexpr const char16_t* kOldPowerRedirect = u"\\windows\\ctlpnl.exe powerg.cpl";
constexpr const char16_t* kNewPowerRedirect = u"\\windows\\ctlpnl.exe MyCpl,5";
constexpr std::uint32_t kPowerGroup = 1;
// Disk driver values of the new layout.
constexpr std::uint32_t kDiskSize = 0x2000000u;
constexpr const char16_t* kDiskFolder = u"Norvane DISK";
constexpr std::uint32_t kDiskDisableInt = 0, kDiskOnBoard = 0, kDiskIndex = 8;
constexpr const char16_t* kDiskDll = u"NRVDSK.DLL";
// The maker's menu folder: this text followed by a group name.
constexpr const char* kMakerMenu = "\\Norvane Menu\\";

// Shortcut contents (8-bit, written without a NUL).
constexpr const char* kUtilitiesStartMenuText = "29#\"\\Windows\\Brannock.exe\"";
constexpr const char* kUtilitiesMakerMenuText = "28#\"\\Windows\\Brannock.exe\"";
constexpr const char* kAssetViewerText = "27#\"\\Windows\\Corvell.exe\"";
constexpr const char* kAutoRunText = "24#\"\\Windows\\Tessaro.exe\"";
constexpr const char* kMicrophoneText = "25#\"\\Windows\\Vindle.exe\"";
constexpr const char* kBackupText = "29#\"\\Windows\\Backup.exe\"";
constexpr const char* kInternetExplorerText = "21#:MSPIE";
constexpr const char* kWindowsMediaText = "21#\"\\windows\\player.exe\"";
constexpr const char* kInternetExplorerShortcut = "Internet Explorer.lnk";
constexpr const char* kWindowsMediaShortcut = "Windows Media.lnk";

// One row of the button table. Names are the prefix followed by the number.
struct ButtonRow {
  const char* lang;  // null: every other code (English)
  const char16_t* folder;
  const char16_t* namePrefix;
  const char16_t* shortcuts[kButtonCount];
};

constexpr ButtonRow kButtonRows[] = {
    {"CHT", u"\\Windows\\AppButtons\\", u"功能鍵 ",
     {u"行事曆.lnk", u"連絡人.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"錄音.lnk"}},
    {"CHS", u"\\Windows\\AppButtons\\", u"按键 ",
     {u"日程表.lnk", u"联系人.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"录音.lnk"}},
    {"JPN", u"\\Windows\\AppButtons\\", u"ﾎﾞﾀﾝ ",
     {u"予定表.lnk", u"連絡先.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"ﾎﾞｲｽ ﾚｺｰﾀﾞｰ.lnk"}},
    {"FRE", u"\\Windows\\BoutonsApp\\", u"Bouton ",
     {u"Calendrier.lnk", u"Contacts.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"Enregistrement.lnk"}},
    {"GER", u"\\Windows\\AppButtons\\", u"Taste ",
     {u"Kalender.lnk", u"Kontakte.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"Record.lnk"}},
    {"ITA", u"\\Windows\\PulsantiApp\\", u"Pulsante ",
     {u"Calendario.lnk", u"Contatti.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"Voice Recorder.lnk"}},
    {"SPA", u"\\Windows\\BotonesApl\\", u"Botón ",
     {u"Calendario.lnk", u"Contactos.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"Grabadora.lnk"}},
    {nullptr, u"\\Windows\\AppButtons\\", u"Button ",
     {u"Calendar.lnk", u"Contacts.lnk", u"Pallimo.lnk",
      u"Ostrand.lnk", u"Record.lnk"}},
};

constexpr const char16_t* kButtonKeys[kButtonCount] = {
    u"Software\\Microsoft\\Shell\\Keys\\40C1", u"Software\\Microsoft\\Shell\\Keys\\40C2",
    u"Software\\Microsoft\\Shell\\Keys\\40C3", u"Software\\Microsoft\\Shell\\Keys\\40C4",
    u"Software\\Microsoft\\Shell\\Keys\\40C5"};
constexpr const char16_t* kButtonIcons[kButtonCount] = {
    u"\\windows\\calendar.exe, 0", u"\\windows\\addrbook.exe, 0", u"\\windows\\Merrow.exe, 0",
    u"\\windows\\Ostrand.exe, 0", u"\\windows\\Calsey.exe, 0"};
// Button 5 starts its program with this option.
constexpr const char16_t* kLastButtonOption = u" -b";

// One row of the start-menu table. Folders are UTF-16 texts of the program;
// shortcut names are 8-bit texts in the ANSI code page (Windows-1252 here),
// converted for the handheld like every 8-bit handheld path.
struct StartMenuRow {
  const char* lang;
  const char16_t* programs;
  const char16_t* settings;
  const char* utilities;
  const char* asset;
  const char* autoRun;
  const char* microphone;
  const char* backup;
  const char* expansion;
  const char* mainGroup;
  const char* utilitiesGroup;
  const char* pimGroup;
};

constexpr StartMenuRow kStartMenuRows[] = {
    {"ENG",
     u"\\Windows\\Start Menu\\Programs\\",
     u"\\Windows\\Start Menu\\Settings\\",
     "Brannock.lnk", "Corvell.lnk", "Auto Run.lnk", "Microphone AGC.lnk",
     "Backup.lnk", "Expansion Pack.lnk",
     "Main", "Utilities", "PIM"},
    {"JPN",
     u"\\Windows\\ｽﾀｰﾄ ﾒﾆｭｰ\\ﾌﾟﾛｸﾞﾗﾑ\\",
     u"\\Windows\\ｽﾀｰﾄ ﾒﾆｭｰ\\ﾌﾟﾛｸﾞﾗﾑ\\",  // its Settings folder is the Programs folder
     "Brannock.lnk", "Corvell.lnk", "Auto Run.lnk", "Microphone AGC.lnk",
     "Backup.lnk", "Expansion Pack.lnk",
     "Main", "Utilities", "PIM"},
    {"FRE",
     u"\\Windows\\Menu Démarrer\\Programmes\\",
     u"\\Windows\\Menu Démarrer\\Paramètres\\",
     "Brannick.lnk", "Informations d'inventaire.lnk", "Auto Run.lnk", "Microphone AGC.lnk",
     "Sauvegarde.lnk", "Module d'extension.lnk",
     "Groupe Principal", "Utilitaires", "GIP"},
    {"GER",
     u"\\Windows\\Startmenü\\Programme\\",
     u"\\Windows\\Startmenü\\Einstellungen\\",
     "Brannock.lnk", "Bestands-Manager.lnk", "Autorun.lnk", "Mikrofon-AGC.lnk",
     "Sichern.lnk", "Expansion Pack.lnk",
     "Hauptgruppe", "Utilities", "Pim"},
    {"ITA",
     u"\\Windows\\Start Menu\\Programmi\\",
     u"\\Windows\\Start Menu\\Impostazioni\\",
     "Brannock.lnk", "Asset Viewer.lnk", "Auto Run.lnk", "Microfono AGC.lnk",
     "Backup.lnk", "Modulo di espansione.lnk",
     "Principale", "Utility", "Pim"},
    {"SPA",
     u"\\Windows\\Menú Inicio\\Programas\\",
     u"\\Windows\\Menú Inicio\\Configuración\\",
     // "Ejecución automática.lnk", "Micrófono AGC.lnk", "Paquete de expansión.lnk"
     "Brannock.lnk", "Visor de activos.lnk", "Ejecuci\xF3n autom\xE1tica.lnk", "Micr\xF3" "fono AGC.lnk",
     "Copia de Seguridad.lnk", "Paquete de expansi\xF3n.lnk",
     "Principal", "Utilidades", "Pim"},
};

bool SameCode(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

const ButtonRow& ButtonRowFor(const char* lang) {
  for (const ButtonRow& row : kButtonRows)
    if (row.lang == nullptr || SameCode(row.lang, lang)) return row;
  return kButtonRows[sizeof kButtonRows / sizeof kButtonRows[0] - 1];
}

const StartMenuRow* StartMenuRowFor(const char* lang) {
  for (const StartMenuRow& row : kStartMenuRows)
    if (SameCode(row.lang, lang)) return &row;
  return nullptr;
}

// --- registry values -----------------------------------------------------------

int WriteText(const char16_t* keyPath, const char16_t* valueName, const std::u16string& text) {
  // REG_SZ: the UTF-16 text with its NUL, byte for byte (little-endian).
  std::u16string terminated = text + u'\0';
  std::string bytes;
  for (char16_t c : terminated) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return WriteDeviceRegistryValue(rapi::kRegLocalMachine, keyPath, valueName, rapi::kRegSz, bytes.data(),
                                  static_cast<std::uint32_t>(bytes.size()));
}

int WriteNumber(const char16_t* keyPath, const char16_t* valueName, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return WriteDeviceRegistryValue(rapi::kRegLocalMachine, keyPath, valueName, rapi::kRegDword, bytes, sizeof bytes);
}

void WritePowerPanel(const char16_t* redirect) {
  WriteNumber(kPowerKey, u"Group", kPowerGroup);
  WriteText(kPowerKey, u"Redirect", redirect);
}

void WriteDiskDriverValues() {
  WriteNumber(kDiskKey, u"Size", kDiskSize);
  WriteText(kDiskKey, u"Folder", kDiskFolder);
  WriteNumber(kDiskKey, u"DisableInt", kDiskDisableInt);
  WriteNumber(kDiskKey, u"OnBoard", kDiskOnBoard);
  WriteText(kDiskKey, u"Dll", kDiskDll);
  WriteNumber(kDiskKey, u"Index", kDiskIndex);
}

// --- shortcut files ------------------------------------------------------------

// Creates or replaces `folder` + `name` holding `text`, as
// WriteShortcutInDeviceFolder does, for the start-menu folders, which are
// UTF-16 texts (the Japanese ones have no 8-bit form in most code pages).
// A path that does not fit a handheld path is refused, never cut.
int WriteShortcutInStartMenuFolder(const char16_t* folder, const char* name, const char* text) {
  const std::u16string path = std::u16string(folder) + rapi::AnsiToDevicePath(name);
  if (path.size() >= kDevicePathCapacity) return 0;
  rapi::Handle file = rapi::CeCreateFile(path.c_str(), rapi::kGenericRead | rapi::kGenericWrite, 0,
                                         rapi::kCreateAlways, rapi::kAttributeNormal);
  if (file == rapi::kInvalidHandle) return 0;
  const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(text));
  std::uint32_t written = 0;
  const bool ok = rapi::CeWriteFile(file, text, length, &written) && written == length;
  rapi::CeCloseHandle(file);
  return ok ? 1 : 0;
}

// "\Norvane Menu\" + group, and the same with a trailing "\".
std::string MakerFolder(const char* group) { return std::string(kMakerMenu) + group; }
std::string MakerFolderSlash(const char* group) { return MakerFolder(group) + "\\"; }

void ApplyOldStartMenu(const StartMenuRow& row) {
  WriteShortcutInStartMenuFolder(row.programs, row.utilities, kUtilitiesStartMenuText);
  WriteShortcutInStartMenuFolder(row.settings, row.asset, kAssetViewerText);
  WriteShortcutInStartMenuFolder(row.settings, row.autoRun, kAutoRunText);
  WriteShortcutInStartMenuFolder(row.settings, row.microphone, kMicrophoneText);
  DeleteFileInDeviceFolder(row.programs, row.backup);
  DeleteFileInDeviceFolder(row.programs, row.expansion);
  RemoveDeviceFolder(MakerFolder(row.mainGroup).c_str());
  DeleteDeviceFile((MakerFolderSlash(row.utilitiesGroup) + row.utilities).c_str());
  DeleteDeviceFile((MakerFolderSlash(row.utilitiesGroup) + row.backup).c_str());
  WriteText(kStarterKey, u"Category", rapi::AnsiToDevicePath(row.utilitiesGroup));
}

void ApplyNewStartMenu(const StartMenuRow& row) {
  DeleteFileInDeviceFolder(row.programs, row.utilities);
  DeleteFileInDeviceFolder(row.settings, row.asset);
  DeleteFileInDeviceFolder(row.settings, row.autoRun);
  DeleteFileInDeviceFolder(row.settings, row.microphone);
  WriteShortcutInStartMenuFolder(row.programs, row.backup, kBackupText);
  const std::string main = MakerFolder(row.mainGroup);
  CreateDeviceFolder(main.c_str());
  CopyDeviceShortcuts(MakerFolder(row.pimGroup).c_str(), main.c_str());
  WriteShortcutInDeviceFolder((main + "\\").c_str(), kInternetExplorerShortcut, kInternetExplorerText);
  WriteShortcutInDeviceFolder((main + "\\").c_str(), kWindowsMediaShortcut, kWindowsMediaText);
  const std::string utilities = MakerFolderSlash(row.utilitiesGroup);
  WriteShortcutInDeviceFolder(utilities.c_str(), row.backup, kBackupText);
  WriteShortcutInDeviceFolder(utilities.c_str(), row.utilities, kUtilitiesMakerMenuText);
}

void ApplyOldLayout() {
  WritePowerPanel(kOldPowerRedirect);
  // The old layout would also remove the disk driver key "\Drivers\NrvDisk",
  // but that request has always gone to the PC's own registry, where it does
  // nothing. The key is kept on the handheld: the running ROM's disk driver
  // needs it until the new ROM is in place, and the window base was just
  // written into it.
  AssignHardwareButtons();
  ApplyStartMenuLayout(StartMenuLayout::Old);
}

void ApplyNewLayout() {
  WritePowerPanel(kNewPowerRedirect);
  WriteDiskDriverValues();
  AssignHardwareButtons();
  ApplyStartMenuLayout(StartMenuLayout::New);
}

}  // namespace

int WriteDeviceRegistryValue(rapi::RegKey root, const char16_t* keyPath, const char16_t* valueName,
                             std::uint32_t type, const void* data, std::uint32_t size) {
  while (*keyPath == u'\\') ++keyPath;
  rapi::RegKey key = nullptr;
  if (rapi::CeRegOpenKeyEx(root, keyPath, &key) != rapi::kErrorSuccess &&
      rapi::CeRegCreateKeyEx(root, keyPath, &key, nullptr) != rapi::kErrorSuccess) {
    return 0;
  }
  const bool set = rapi::CeRegSetValueEx(key, valueName, type, static_cast<const std::uint8_t*>(data), size) ==
                   rapi::kErrorSuccess;
  rapi::CeRegCloseKey(key);
  return set ? 1 : 0;
}

void DisableCoolMenu() {
  rapi::RegKey key = nullptr;
  if (rapi::CeRegOpenKeyEx(rapi::kRegLocalMachine, kMenusKey, &key) != rapi::kErrorSuccess) return;
  std::uint8_t value[kCoolMenuReadBytes] = {};
  std::uint32_t type = 0, size = sizeof value;
  // Only a value that could be read and holds a non-zero first byte is
  // changed: a missing, empty or unreadable "CoolMenu" is left as it is.
  if (rapi::CeRegQueryValueEx(key, kCoolMenuValue, &type, value, &size) == rapi::kErrorSuccess && size > 0 &&
      value[0] != 0) {
    const std::uint8_t off = 0;
    rapi::CeRegSetValueEx(key, kCoolMenuValue, rapi::kRegNone, &off, sizeof off);
  }
  rapi::CeRegCloseKey(key);
}

void AssignHardwareButtons() {
  const ButtonRow& row = ButtonRowFor(ImageHeader.ImageLang);
  for (int i = 0; i < kButtonCount; ++i) {
    std::u16string target = u"\"" + std::u16string(row.folder) + row.shortcuts[i] + u"\"";
    if (i == kButtonCount - 1) target += kLastButtonOption;
    const std::u16string name = std::u16string(row.namePrefix) + static_cast<char16_t>(u'1' + i);
    WriteText(kButtonKeys[i], u"Default", target);
    WriteText(kButtonKeys[i], u"Name", name);
    WriteText(kButtonKeys[i], u"Icon", kButtonIcons[i]);
    WriteText(kButtonKeys[i], u"ResetCmd", target);
    WriteNumber(kButtonKeys[i], u"Flags", 0);
  }
}

void ApplyStartMenuLayout(StartMenuLayout layout) {
  const StartMenuRow* row = StartMenuRowFor(ImageHeader.ImageLang);
  if (row == nullptr) return;
  if (layout == StartMenuLayout::Old) {
    ApplyOldStartMenu(*row);
  } else {
    ApplyNewStartMenu(*row);
  }
}

void CarrySettingsOver() {
  const float version = ImageHeader.ImageVersionNumber;
  DisableCoolMenu();
  WriteNumber(kDiskKey, u"WindowBase", version >= kHighWindowBaseVersion ? kHighWindowBase : kLowWindowBase);
  // A version above 1.4 and below 1.41 gets neither layout; a four-character
  // version text never gives one.
  if (version <= kOldLayoutLastVersion) ApplyOldLayout();
  if (version >= kNewLayoutFirstVersion) ApplyNewLayout();
}

}  // namespace wizard
