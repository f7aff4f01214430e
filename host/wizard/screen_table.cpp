// Every screen of the wizard as data. Controls are listed in layout order
// (top to bottom, left to right), so front-ends that cannot draw a template
// (the terminal) show them in that order. Texts chosen at run time have slot
// 0 and are filled by the screens' behaviours.
#include "wizard/screen_table.h"

#include <algorithm>

namespace screens {
namespace {

// Slots of the button captions.
constexpr int kNext = 11012, kCancel = 11011, kExit = 11048, kFinish = 11070;
constexpr int kBackupCaption = 11018, kUpgrade = 11055, kRestore = 11056;
// Prompts shared by many screens.
constexpr int kNextOrCancel = 11039;   // "Click Next to proceed. Click Cancel to quit."
constexpr int kExitToQuit = 11074;     // "Click Exit to quit."
constexpr int kMbytes = 11103;         // unit after the sizes on screen 151
// Labels of the label-and-value controls.
constexpr int kModelLabel = 11042, kVersionLabel = 11043, kLanguageLabel = 11044;
constexpr int kImageVersionLabel = 11046;

// Command ids besides the standard 1 (OK / Enter) and 2 (Cancel / Escape).
constexpr int kUpgradeButton = 1035, kRestoreButton = 1036, kBackupButton = 1030;
constexpr int kProceedButton = 1181;   // "Next" of screens 166 and 167
constexpr int kExitButton165 = 1175;   // "Exit" of screen 165

// Wizard screens are 440 x 228 dialog units: tall enough for the whole side
// picture (320 pixels from y = 10) with the smallest usual dialog font.
constexpr int kWizardWidth = 440, kWizardHeight = 228;

constexpr Control Text(int id, int slot) { return {id, ControlKind::Text, slot}; }
constexpr Control Headline(int id, int slot) { return {id, ControlKind::Headline, slot}; }
constexpr Control Button(int id, int slot) { return {id, ControlKind::Button, slot}; }
constexpr Control Radio(int id, int slot) { return {id, ControlKind::Radio, slot}; }
constexpr Control RedText(int id, int slot) {
  return {.id = id, .kind = ControlKind::Text, .slot = slot, .red = true};
}
constexpr Control Banner(int id, int slot) {
  return {.id = id, .kind = ControlKind::Text, .slot = slot, .blackFace = true};
}
constexpr Control LabelValue(int id, int slot, Value value) {
  return {.id = id, .kind = ControlKind::Text, .slot = slot, .value = value};
}
constexpr Control TickedBox(int id, int label) {
  return {.id = id, .kind = ControlKind::CheckBox, .slot = 0, .checked = true, .label = label};
}
constexpr Control Bar() { return {1020, ControlKind::ProgressBar, 0}; }
constexpr Control Percent() { return {1023, ControlKind::Text, 0}; }  // "0" until the worker writes

// Pictures (pixels).
constexpr int kResetPicture = 157, kUsbPicture = 162, kSerialPicture = 163, kSwitchPicture = 173;
constexpr int kResetWidth = 120, kResetHeight = 75;
constexpr int kPlugWidth = 119, kPlugHeight = 74;
constexpr int kSwitchWidth = 330, kSwitchHeight = 91;

// Commands shared by many screens.
constexpr Command kNextZeroCancelOne[] = {{1, 0}, {2, 1}};
constexpr Command kNextOneCancelTwo[] = {{1, 1}, {2, 2}};
constexpr Command kExitOne[] = {{2, 1}};

// --- wait and progress screens --------------------------------------------
constexpr Control c102[] = {Text(1043, 11034), Bar(), Percent(), RedText(1131, 11111),
                            Text(1132, 0)};
constexpr Control c122[] = {Text(1072, 11057)};
constexpr Control c132[] = {Text(1087, 0), Bar(), Percent()};
constexpr Control c153[] = {Text(1127, 11106)};
// The wait screens have no buttons; commands 1 and 2 would end them.
constexpr Command kWaitCommands[] = {{1, 1}, {2, 2}};

// --- introductory screens ---------------------------------------------------
constexpr Control c166[] = {Banner(1182, 11166), Banner(1176, 11148), Text(1177, 11149),
                            Text(1178, 11150), Text(1180, kNextOrCancel),
                            Button(kProceedButton, kNext), Button(2, kCancel)};
constexpr Command m166[] = {{kProceedButton, 0}, {2, 1}};

constexpr Control c103[] = {Headline(1038, 11058), Text(65535, 11059), Text(1073, 11060),
                            Text(1074, kNextOrCancel), Button(1, kNext), Button(2, kCancel)};
constexpr Control c121[] = {Text(1044, 11036), Text(1047, kNextOrCancel), Button(1, kNext),
                            Button(2, kCancel)};
constexpr Control c161[] = {Text(1045, 11037), Text(1046, 11038), RedText(1157, 11135),
                            Text(1047, kNextOrCancel), Button(1, kNext), Button(2, kCancel)};
// Between the two instructions (the side picture's column is to its left).
constexpr Picture p161[] = {{kResetPicture, 350, 84, kResetWidth, kResetHeight}};

constexpr Control c165[] = {Headline(1172, 11146), Text(1173, 11147), Text(1174, kExitToQuit),
                            Button(kExitButton165, kExit)};
constexpr Command m165[] = {{kExitButton165, 1}};

// --- connection, power, choice ----------------------------------------------
constexpr Control c158[] = {Text(1152, 11129), Radio(1150, 11130), Radio(1151, 11131),
                            Text(1153, kNextOrCancel), Text(1154, 11160), Button(1, kNext),
                            Button(2, kCancel)};
constexpr Picture p158[] = {{kUsbPicture, 305, 100, kPlugWidth, kPlugHeight},
                            {kSerialPicture, 305, 200, kPlugWidth, kPlugHeight}};

constexpr Control c105[] = {Headline(1040, 11029), Text(1144, 11126), Text(1089, kNextOrCancel),
                            Button(1, kNext), Button(2, kCancel)};

constexpr Control c109[] = {Text(1064, 11051),
                            LabelValue(1066, kModelLabel, Value::ModelID),
                            LabelValue(1067, kVersionLabel, Value::Version),
                            LabelValue(1068, kLanguageLabel, Value::LanguageName),
                            Text(1065, 11052),
                            Button(kUpgradeButton, kUpgrade), Text(1069, 11053),
                            Button(kRestoreButton, kRestore), Text(1070, 11054),
                            Text(1071, 11031), Button(2, kCancel)};
// No default button: Enter sends 1, which returns 0 (the driver leaves).
constexpr Command m109[] = {{kUpgradeButton, kUpgradeButton}, {kRestoreButton, kRestoreButton},
                            {1, 0}, {2, 1}};

// --- checks of the image ------------------------------------------------------
constexpr Control c123[] = {Headline(1055, 11047), Text(1145, 11115),
                            LabelValue(1056, kModelLabel, Value::ModelID),
                            LabelValue(1057, kVersionLabel, Value::Version),
                            LabelValue(1058, kLanguageLabel, Value::LanguageName),
                            Text(1059, 11049),
                            LabelValue(1060, kModelLabel, Value::ImageModelID),
                            LabelValue(1061, kImageVersionLabel, Value::ImageVersion),
                            LabelValue(1062, kLanguageLabel, Value::ImageLanguageName),
                            Text(1063, 11050), Button(2, kExit)};
// Enter returns 0, Exit 1.
constexpr Command m123[] = {{1, 0}, {2, 1}};

// Sizes are printed "%d %s": the number of megabytes, then "Mbytes".
constexpr Control c151[] = {Headline(1116, 11098), Text(1138, 11125), Text(1118, 11099),
                            LabelValue(1120, kMbytes, Value::ImageSizeMB), Text(1119, 11100),
                            LabelValue(1121, kMbytes, Value::FlashSizeMB),
                            Text(1117, kExitToQuit), Button(2, kExit)};

// --- confirmation, backup, ready ---------------------------------------------
constexpr Control c124[] = {Text(1048, 11041), Text(1049, 11013),
                            LabelValue(1050, kVersionLabel, Value::Version), Text(1051, 11014),
                            LabelValue(1027, kImageVersionLabel, Value::ImageVersion),
                            Text(1054, kNextOrCancel), Button(1, kNext), Button(2, kCancel)};

constexpr Control c125[] = {Text(1041, 0), Text(1042, 11031), Button(kBackupButton, kBackupCaption),
                            Button(1, kNext), Button(2, kCancel)};
// Backup returns 1000 once a file has been chosen (its behaviour decides).
constexpr Command m125[] = {{1, 1}, {2, 2}, {kBackupButton, 1000}};

constexpr Control c152[] = {Headline(1122, 11101), Text(1123, 11102), Button(1, kNext),
                            Button(2, kCancel)};

constexpr Control c130[] = {Text(1076, 0), Text(1128, 0), Text(1129, 11108), Text(1130, 11109),
                            Text(1075, kNextOrCancel), Button(1, kNext), Button(2, kCancel)};

// --- after the transfer ---------------------------------------------------------
constexpr Control c167[] = {Text(1193, 11155), Text(1194, 11156), Text(1195, 11134),
                            Button(kProceedButton, kNext)};
constexpr Command m167[] = {{kProceedButton, 0}, {2, 1}};
constexpr Picture p167[] = {{kSwitchPicture, 282, 177, kSwitchWidth, kSwitchHeight}};

// Closing screens 133 (USB) and 160 (Serial) differ only in a few units of layout.
constexpr Control cClosing[] = {Text(1088, 11069), Text(1126, 11104), TickedBox(1134, 1133),
                                Text(1133, 11114), RedText(1127, 11159), Button(1, kFinish)};

// --- error screens: title, explanation, "Click Exit to quit.", Exit -------------
constexpr Control c138[] = {Headline(1091, 11075), Text(1135, 11116), Text(1092, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c139[] = {Headline(1093, 11076), Text(1137, 11117), Text(1094, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c140[] = {Headline(1095, 11077), Text(1136, 11118), Text(1096, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c141[] = {Headline(1097, 11078), Text(1141, 11119), Text(1098, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c142[] = {Headline(1099, 11079), Text(1100, 11080), Text(1101, 11128),
                            Text(1146, kExitToQuit), Button(2, kExit)};
constexpr Picture p142[] = {{kResetPicture, 440, 245, kResetWidth, kResetHeight}};
constexpr Control c143[] = {Headline(1105, 11082), Text(1140, 11120), Text(1103, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c144[] = {Headline(1106, 11083), Text(1142, 11121), Text(1107, kExitToQuit),
                            Button(2, kExit)};
constexpr Control c145[] = {Headline(1108, 11084), Text(1115, 11089), Text(1109, 11122),
                            Text(1143, kExitToQuit), Button(2, kExit)};
constexpr Control c146[] = {Headline(1110, 11085), Text(1111, 11086), Text(1112, kExitToQuit),
                            Button(2, kExit)};
constexpr Command m146[] = {{1, 1}, {2, 2}};  // Enter returns 1, Exit 2
constexpr Control c147[] = {Headline(1113, 11088), Text(1114, 11124), Text(1139, kExitToQuit),
                            Button(2, kExit)};
constexpr Command m147[] = {{1, 0}, {2, 1}};  // Enter returns 0, Exit 1
constexpr Control c114[] = {Headline(1039, 11028), Text(1147, 11127), Text(1102, 11081),
                            Text(1148, kExitToQuit), Button(2, kExit)};
constexpr Picture p114[] = {{kResetPicture, 420, 155, kResetWidth, kResetHeight}};

constexpr std::span<const Command> NoCommands() { return {}; }
constexpr std::span<const Picture> NoPictures() { return {}; }

constexpr Screen Wizard(int id, const char* role, std::span<const Control> controls,
                        std::span<const Command> commands, int enter,
                        std::span<const Picture> pictures = NoPictures()) {
  return {id, role, Kind::Modal, kWizardWidth, kWizardHeight, controls, commands, enter,
          pictures, true};
}

constexpr int kTallErrorHeight = 262;

constexpr Screen Tall(Screen screen, int height) {
  screen.height = height;
  return screen;
}


constexpr Screen kScreens[] = {
    {102, "download progress", Kind::Progress, 339, 95, c102, NoCommands(), 1, NoPictures(), false},
    Wizard(103, "welcome", c103, kNextZeroCancelOne, 1),
    Wizard(105, "WARNING 111: power adapter not plugged in", c105, kNextZeroCancelOne, 1),
    Wizard(109, "handheld information and choice", c109, m109, 1),
    // Taller than the others: picture 157 stands between its two explanations.
    Tall(Wizard(114, "ERROR 113: upgrade error", c114, kExitOne, 2, p114), kTallErrorHeight),
    Wizard(121, "preparing the PC", c121, kNextZeroCancelOne, 1),
    {122, "checking the handheld", Kind::Wait, 279, 35, c122, kWaitCommands, 1, NoPictures(), false},
    Wizard(123, "ERROR 100: incompatible image", c123, m123, 1),
    Wizard(124, "version confirmation", c124, kNextOneCancelTwo, 1),
    Wizard(125, "backup offer", c125, m125, 2),
    Wizard(130, "ready to upgrade", c130, kNextOneCancelTwo, 1),
    {132, "backup progress", Kind::Progress, 339, 98, c132, NoCommands(), 1, NoPictures(), false},
    Wizard(133, "closing screen, USB", cClosing, kNextZeroCancelOne, 1),
    Wizard(138, "ERROR 101: connection error", c138, kExitOne, 1),
    Wizard(139, "ERROR 102: image file checksum error", c139, kExitOne, 1),
    Wizard(140, "ERROR 103: ROM image file not found", c140, kExitOne, 1),
    Wizard(141, "ERROR 104: cannot open ROM image file", c141, kExitOne, 1),
    Wizard(142, "ERROR 114: communication error", c142, kExitOne, 1, p142),
    Wizard(143, "ERROR 105: open port failure", c143, kExitOne, 1),
    Wizard(144, "ERROR 106: execute remote communication program failure", c144, kExitOne, 1),
    Wizard(145, "ERROR 107: system cannot back up current ROM image", c145, kExitOne, 1),
    Wizard(146, "ERROR 108: cannot open module data file", c146, m146, 1),
    Wizard(147, "ERROR 109: failure to back up current ROM image", c147, m147, 1),
    Wizard(151, "ERROR 110: image file is too large", c151, kExitOne, 1),
    Wizard(152, "WARNING 112: the file you have selected already exists", c152,
           kNextOneCancelTwo, 1),
    {153, "preparing the upgrade", Kind::Wait, 282, 35, c153, kWaitCommands, 1, NoPictures(), false},
    Wizard(158, "connection type", c158, kNextZeroCancelOne, 1, p158),
    Wizard(160, "closing screen, Serial", cClosing, kNextZeroCancelOne, 1),
    Wizard(161, "preparing the handheld", c161, kNextZeroCancelOne, 1, p161),
    Wizard(165, "ERROR 115: invalid version of ActiveSync", c165, m165, kExitButton165),
    Wizard(166, "upgrade warning", c166, m166, kProceedButton),
    Wizard(167, "after a successful transfer", c167, m167, kProceedButton, p167),
};

}  // namespace

std::span<const Screen> AllScreens() { return kScreens; }

const Screen* FindScreen(int id) {
  const Screen* end = std::end(kScreens);
  const Screen* found = std::lower_bound(std::begin(kScreens), end, id,
                                         [](const Screen& s, int wanted) { return s.id < wanted; });
  return (found != end && found->id == id) ? found : nullptr;
}

}  // namespace screens
