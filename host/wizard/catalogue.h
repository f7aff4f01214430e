// The text catalogue: every text romwiz shows, in 130 slots of fixed
// capacity, filled once at start-up from the string tables and read-only
// afterwards. A slot is named by the string id of its English text.
#pragma once
#include <span>

namespace wizard {

struct SlotSpec {
  int id;        // English string id, 11010 to 11166
  int capacity;  // bytes, terminator included
};

constexpr int kSlotCount = 130;

// Base ids of the seven string-table blocks.
constexpr int kEnglishBlock = 11000;
constexpr int kGermanBlock = 12000;
constexpr int kFrenchBlock = 13000;
constexpr int kItalianBlock = 14000;
constexpr int kSpanishBlock = 15000;
constexpr int kSimplifiedChineseBlock = 17000;
constexpr int kTraditionalChineseBlock = 18000;

// Every slot with its capacity, in id order (the fixed loading order).
std::span<const SlotSpec> CatalogueSlots();
// The capacity of slot `englishId`; 0 when there is no such slot.
int SlotCapacity(int englishId);

// Fills every slot from the block of the user's language (the platform's
// choice, platform::UserLanguageId); English for every unlisted language.
void LoadTextCatalogue();

// Loader of one string: LoadStringA semantics (at most capacity - 1 bytes,
// always terminated, empty when missing).
using TextLoader = int (*)(int id, char* buffer, int capacity);
// Fills every slot from the block that `languageId` (a Windows language
// identifier) selects, through `load`. A slot the block has no text for (the
// English-only slots, or a string missing from the block) takes its English
// text: a warning is never left blank.
void LoadTextCatalogueFor(unsigned languageId, TextLoader load);

// Reads a Windows language identifier written as "0x0407" (hex) or "1031"
// (decimal); false for anything else, or a value beyond 16 bits.
bool ParseLanguageId(const char* text, unsigned& languageId);

// The text of slot `englishId`; "" for an id that is not a slot. The address
// stays valid for the life of the process.
const char* Slot(int englishId);

// The string-table block a Windows language identifier selects; anything not
// listed (0 included) gives the English block.
int LanguageBlockFor(unsigned languageId);
// The string id that fills slot `englishId` in block `blockBase`; 0 when the
// slot has no text in that block (English-only slots).
int BlockStringId(int englishId, int blockBase);

// Slot naming the handheld's (or image's) language folder name, e.g. "french"
// -> 11139; anything unknown gives 11138 ("English").
int LanguageNameSlot(const char* language);
const char* LanguageDisplayName(const char* language);

// English, French, German, Italian and Spanish handhelds take the short
// durations; every other language (Japanese and both Chinese included) takes
// the texts that announce twice the time.
bool IsShortDurationLanguage(const char* language);

// A text chosen by language group and connection (backup offer, ready screen,
// progress and backup screens).
struct DurationSlots {
  int shortSerial, shortUsb, longSerial, longUsb;
};
constexpr DurationSlots kBackupOfferTexts{11030, 11061, 11092, 11093};     // screen 125
constexpr DurationSlots kReadyTexts{11062, 11063, 11094, 11095};           // screen 130
constexpr DurationSlots kDownloadTexts{11113, 11112, 11096, 11097};        // screen 102
constexpr DurationSlots kBackupProgressTexts{11066, 11067, 11090, 11091};  // screen 132
int ChooseDurationSlot(const DurationSlots& slots, const char* language, bool serial);

}  // namespace wizard
