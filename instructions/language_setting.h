// The language number kept in the two settings stores.
#pragma once

#include <QString>

namespace instructions {

struct LanguageReading {
  // Where the reading stopped: the number read so far, 1033 when nothing was read.
  int languageId = 1033;
  // Empty on success; otherwise the failure's message, and the reading stopped
  // at the step that failed.
  QString failure;
};

// Reads the machine-wide value first; only when it has none, the per-user value,
// and a per-user number other than 1033 is copied to the machine-wide store so
// that every user gets it from then on. Opening a store creates it where allowed.
// A copy refused for lack of rights (an ordinary user and the machine-wide
// store) is left out silently; the per-user number is still the result.
// When neither store holds the value, desktopLanguage is the result; it is
// never written.
LanguageReading readInstallerLanguage(int desktopLanguage);

// The value's text as a language number: optional sign and decimal digits only,
// within the signed 32-bit range. False for anything else, the empty text included.
bool parseLanguageNumber(const QString& text, int* number);

// The name of the stored value, as failure messages quote it.
QString installerLanguageValueName();

}  // namespace instructions
