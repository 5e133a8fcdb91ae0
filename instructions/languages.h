// The languages of the instructions page, looked up by their language number.
#pragma once

#include <array>
#include <span>

#include <QStringList>

class QLocale;

namespace instructions {

enum class LanguageKind {
  Text,     // the four lines replace the instruction box's text
  Picture,  // a prepared picture of the four lines, kept in a hidden holder
  Arabic,   // the picture built into the language picture box itself
};

struct Language {
  const char* name;
  LanguageKind kind;
  // Numbers that select the language; unused places hold 0.
  std::array<int, 3> ids;
  // Text only: heading, drop, context menu, double-click; UTF-8.
  std::array<const char*, 4> lines;
  // Picture only: the object name of the holder whose picture is shown.
  const char* holder;

  QStringList instructionLines() const;
};

inline constexpr int kEnglish = 1033;

// nullptr for a number that is not in the table; 1033 (English, the window as
// built) is not in it either.
const Language* findLanguage(int id);

// German gets more than its text: help file, captions and link targets.
bool isGerman(int id);

std::span<const Language> allLanguages();

// The number that stands for a desktop's language (QLocale::system(), from
// LC_ALL, LC_MESSAGES or LANG): the table's number for that language and, where
// the table tells them apart, its script or country; English (1033) for any
// language the table does not have.
int languageIdOfLocale(const QLocale& locale);

}  // namespace instructions
