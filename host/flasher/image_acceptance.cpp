#include "flasher/image_acceptance.h"

#include <cstdio>

#include "base/bounded_text.h"
#include "base/escaped_text.h"
#include "image/image_check.h"
#include "image/image_file.h"

namespace flasher {
namespace {

constexpr int kColumn = 14;  // width of the handheld's column in the comparison

// Names and codes compare as the wizard compares them (ASCII letters without
// regard to case).
bool SameNoCase(const std::string& a, const std::string& b) { return wizard::EqualNoCase(a.c_str(), b.c_str()); }

// A header field as it may be shown: a damaged header's bytes escaped (\x8f),
// never sent raw to the terminal. A sound header's fields are plain text and
// read the same.
template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return wizard::EscapedText(text, wizard::BoundedLength(text, N));
}

// "ENG (English)"; the code alone when it is not in the language table.
std::string LanguageText(const std::string& code) {
  const char* name = wizard::LanguageForCode(code.c_str());
  return name == nullptr ? code : code + " (" + name + ")";
}

// Both sides side by side, as the incompatible-image screen shows them, the
// differing lines marked.
std::string Comparison(const FlashOptions& options, const std::string& model, const std::string& language) {
  char line[160];
  std::string text = "the image does not fit the handheld you named:\n";
  std::snprintf(line, sizeof line, "              %-*s %s\n", kColumn, "handheld", "image");
  text += line;
  std::snprintf(line, sizeof line, "  model     %s %-*s %s\n", SameNoCase(options.model, model) ? " " : "*", kColumn,
                options.model.c_str(), model.c_str());
  text += line;
  std::snprintf(line, sizeof line, "  language  %s %-*s %s\n", SameNoCase(options.language, language) ? " " : "*",
                kColumn, LanguageText(options.language).c_str(), LanguageText(language).c_str());
  text += line;
  text += "Use the image made for this handheld; nothing was sent.\n";
  return text;
}

}  // namespace

ImageVerdict AcceptImage(const FlashOptions& options) {
  ImageVerdict verdict;
  wizard::ImageCheck check = wizard::CheckImageFile(options.image.c_str());
  verdict.fileSize = check.payloadBytes + wizard::kImageHeaderSize;
  verdict.model = Field(check.header.ImageModelID);
  verdict.language = Field(check.header.ImageLang);
  verdict.version = Field(check.header.ImageVersion);
  if (!check.Sound()) {
    verdict.report = options.image + ": the image cannot be written:\n";
    for (const std::string& problem : check.problems) verdict.report += "  " + wizard::EscapedText(problem) + "\n";
    if (check.problems.empty()) verdict.report += "  it cannot be read\n";
    // What the check does not refuse but looks odd helps to tell which file it is.
    for (const std::string& note : check.notes) verdict.report += "  note: " + wizard::EscapedText(note) + "\n";
    verdict.report += "Nothing was sent.\n";
    return verdict;
  }
  if (!options.force && (!SameNoCase(options.model, verdict.model) || !SameNoCase(options.language, verdict.language))) {
    verdict.report = Comparison(options, verdict.model, verdict.language);
    return verdict;
  }
  verdict.accepted = true;
  return verdict;
}

}  // namespace flasher
