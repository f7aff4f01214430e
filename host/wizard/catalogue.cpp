#include "wizard/catalogue.h"

#include <array>
#include <cstddef>

#include "base/bounded_text.h"
#include "platform/text_resources.h"

namespace wizard {
namespace {

constexpr SlotSpec kSlots[kSlotCount] = {
    {11010, 100}, {11011, 100}, {11012, 50},  {11013, 50},  {11014, 50},  {11015, 100},
    {11017, 100}, {11018, 50},  {11019, 100}, {11023, 50},  {11028, 100}, {11029, 256},
    {11030, 500}, {11031, 100}, {11033, 256}, {11034, 256}, {11035, 100}, {11036, 456},
    {11037, 350}, {11038, 400}, {11039, 100}, {11040, 20},  {11041, 100}, {11042, 50},
    {11043, 50},  {11044, 50},  {11045, 100}, {11046, 100}, {11047, 100}, {11048, 20},
    {11049, 100}, {11050, 300}, {11051, 100}, {11052, 100}, {11053, 100}, {11054, 100},
    {11055, 50},  {11056, 50},  {11057, 150}, {11058, 100}, {11059, 256}, {11060, 350},
    {11061, 500}, {11062, 300}, {11063, 300}, {11064, 100}, {11065, 50},  {11066, 256},
    {11067, 256}, {11069, 650}, {11070, 50},  {11074, 100}, {11075, 100}, {11076, 256},
    {11077, 256}, {11078, 256}, {11079, 256}, {11080, 900}, {11081, 400}, {11082, 256},
    {11083, 256}, {11084, 256}, {11085, 256}, {11086, 256}, {11087, 50},  {11088, 256},
    {11089, 500}, {11090, 256}, {11091, 256}, {11092, 500}, {11093, 500}, {11094, 300},
    {11095, 300}, {11096, 256}, {11097, 256}, {11098, 256}, {11099, 50},  {11100, 50},
    {11101, 100}, {11102, 200}, {11103, 20},  {11104, 256}, {11106, 100}, {11107, 100},
    {11108, 500}, {11109, 300}, {11110, 256}, {11111, 256}, {11112, 256}, {11113, 256},
    {11114, 256}, {11115, 300}, {11116, 500}, {11117, 256}, {11118, 256}, {11119, 256},
    {11120, 300}, {11121, 350}, {11122, 256}, {11124, 256}, {11125, 350}, {11126, 256},
    {11127, 360}, {11128, 256}, {11129, 100}, {11130, 50},  {11131, 50},  {11132, 300},
    {11134, 100}, {11135, 300}, {11136, 300}, {11137, 300}, {11138, 50},  {11139, 50},
    {11140, 50},  {11141, 50},  {11142, 50},  {11143, 50},  {11144, 50},  {11145, 50},
    {11146, 50},  {11147, 150}, {11148, 50},  {11149, 150}, {11150, 500}, {11155, 200},
    {11156, 500}, {11159, 200}, {11160, 200}, {11166, 20},
};

constexpr std::size_t TotalCapacity() {
  std::size_t total = 0;
  for (const SlotSpec& slot : kSlots) total += static_cast<std::size_t>(slot.capacity);
  return total;
}

// One fixed buffer per slot, laid end to end in a single block.
char storage[TotalCapacity()];

constexpr std::array<std::size_t, kSlotCount> Offsets() {
  std::array<std::size_t, kSlotCount> offsets{};
  std::size_t next = 0;
  for (int i = 0; i < kSlotCount; ++i) {
    offsets[i] = next;
    next += static_cast<std::size_t>(kSlots[i].capacity);
  }
  return offsets;
}
constexpr std::array<std::size_t, kSlotCount> kOffsets = Offsets();

int IndexOf(int englishId) {
  int low = 0, high = kSlotCount - 1;  // kSlots is sorted by id
  while (low <= high) {
    int middle = (low + high) / 2;
    if (kSlots[middle].id == englishId) return middle;
    if (kSlots[middle].id < englishId) low = middle + 1; else high = middle - 1;
  }
  return -1;
}

// Slots whose texts exist in the English block only.
constexpr int kEnglishOnly[] = {11036, 11037, 11038, 11135, 11146, 11147, 11148,
                                11149, 11150, 11155, 11156, 11159, 11160, 11166};

constexpr int kBackupSlot = 11018, kBackupOffset = 32;
constexpr int kNormalResetSlot = 11019, kNormalResetOffset = 138;
constexpr int kFirstLanguageName = 11138, kLastLanguageName = 11145, kLanguageNameOffset = 139;

struct LanguageBlock {
  unsigned languageId;
  int block;
};

// Windows language identifiers with a block of their own.
constexpr LanguageBlock kLanguageBlocks[] = {
    {0x0407, kGermanBlock}, {0x0807, kGermanBlock}, {0x0C07, kGermanBlock},
    {0x1007, kGermanBlock}, {0x1407, kGermanBlock},
    {0x040C, kFrenchBlock}, {0x080C, kFrenchBlock}, {0x0C0C, kFrenchBlock},
    {0x100C, kFrenchBlock}, {0x140C, kFrenchBlock}, {0x180C, kFrenchBlock},
    {0x0410, kItalianBlock}, {0x0810, kItalianBlock},
    {0x0404, kTraditionalChineseBlock}, {0x1004, kTraditionalChineseBlock},
    {0x1404, kTraditionalChineseBlock},
    {0x0804, kSimplifiedChineseBlock}, {0x0C04, kSimplifiedChineseBlock},
};

// Spanish: primary language 0x0A with sub-languages 1 (0x040A) to 20 (0x500A).
constexpr unsigned kSpanishPrimary = 0x0A;
constexpr unsigned kFirstSpanishSub = 1, kLastSpanishSub = 20;

struct LanguageName {
  const char* folder;
  int slot;
};
constexpr LanguageName kLanguageNames[] = {
    {"Japanese", 11145}, {"french", 11139},   {"german", 11140},   {"italian", 11141},
    {"spanish", 11142},  {"TChinese", 11143}, {"SChinese", 11144},
};
constexpr int kEnglishNameSlot = 11138;

constexpr const char* kShortDurationLanguages[] = {"English", "French", "German", "Italian",
                                                   "Spanish"};

}  // namespace

std::span<const SlotSpec> CatalogueSlots() { return kSlots; }

int SlotCapacity(int englishId) {
  int index = IndexOf(englishId);
  return index < 0 ? 0 : kSlots[index].capacity;
}

const char* Slot(int englishId) {
  int index = IndexOf(englishId);
  return index < 0 ? "" : storage + kOffsets[index];
}

void LoadTextCatalogue() { LoadTextCatalogueFor(platform::UserLanguageId(), platform::LoadText); }

void LoadTextCatalogueFor(unsigned languageId, TextLoader load) {
  int block = LanguageBlockFor(languageId);
  for (int i = 0; i < kSlotCount; ++i) {
    char* slot = storage + kOffsets[i];
    int capacity = kSlots[i].capacity;
    slot[0] = 0;
    int id = BlockStringId(kSlots[i].id, block);
    if (id != 0) load(id, slot, capacity);
    slot[capacity - 1] = 0;  // a faulty loader cannot leave a slot open
    // The block has no text here (English-only slot or missing string): the
    // English text stands in, so no warning or instruction shows blank.
    if (slot[0] == 0 && block != kEnglishBlock) {
      load(kSlots[i].id, slot, capacity);
      slot[capacity - 1] = 0;
    }
  }
}

bool ParseLanguageId(const char* text, unsigned& languageId) {
  constexpr unsigned kLargestId = 0xFFFF;
  if (text == nullptr || text[0] == 0) return false;
  unsigned base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
    if (text[0] == 0) return false;
  }
  unsigned value = 0;
  for (; *text != 0; ++text) {
    char c = *text;
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    value = value * base + digit;
    if (value > kLargestId) return false;
  }
  languageId = value;
  return true;
}

int LanguageBlockFor(unsigned languageId) {
  for (const LanguageBlock& entry : kLanguageBlocks)
    if (entry.languageId == languageId) return entry.block;
  unsigned primary = languageId & 0x3FF, sub = languageId >> 10;
  if (primary == kSpanishPrimary && sub >= kFirstSpanishSub && sub <= kLastSpanishSub)
    return kSpanishBlock;
  return kEnglishBlock;
}

int BlockStringId(int englishId, int blockBase) {
  if (IndexOf(englishId) < 0) return 0;
  if (blockBase == kEnglishBlock) return englishId;
  for (int only : kEnglishOnly)
    if (only == englishId) return 0;
  if (englishId == kBackupSlot) return blockBase + kBackupOffset;
  if (englishId == kNormalResetSlot) return blockBase + kNormalResetOffset;
  if (englishId >= kFirstLanguageName && englishId <= kLastLanguageName)
    return blockBase + kLanguageNameOffset + (englishId - kFirstLanguageName);
  return englishId - kEnglishBlock + blockBase;
}

int LanguageNameSlot(const char* language) {
  for (const LanguageName& name : kLanguageNames)
    if (EqualNoCase(language, name.folder)) return name.slot;
  return kEnglishNameSlot;
}

const char* LanguageDisplayName(const char* language) { return Slot(LanguageNameSlot(language)); }

bool IsShortDurationLanguage(const char* language) {
  for (const char* name : kShortDurationLanguages)
    if (EqualNoCase(language, name)) return true;
  return false;
}

int ChooseDurationSlot(const DurationSlots& slots, const char* language, bool serial) {
  if (IsShortDurationLanguage(language)) return serial ? slots.shortSerial : slots.shortUsb;
  return serial ? slots.longSerial : slots.longUsb;
}

}  // namespace wizard
