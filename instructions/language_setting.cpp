#include "language_setting.h"

#include <limits>

#include "settings_store.h"

namespace instructions {
namespace {

// The only place that names the key and the value.
const QString kKeyPath = QStringLiteral("Brenvale/Quillmoss");
const QString kValueName = QStringLiteral("Installer Language");

QString notAnInteger(const QString& text) {
  return QStringLiteral(u"'%1' ist kein gültiger Integerwert").arg(text);
}

QString readFailure(platform::SettingsStatus status) {
  if (status == platform::SettingsStatus::WrongType) {
    return QStringLiteral(u"Ungültiger Datentyp für '%1'").arg(kValueName);
  }
  return QStringLiteral(u"Fehler beim Holen der Daten für '%1'").arg(kValueName);
}

// Reads the value of an open key into *reading. False when the reading must stop.
bool readNumber(const platform::SettingsKey& key, LanguageReading* reading) {
  QString text;
  const platform::SettingsStatus status = key.readString(kValueName, &text);
  if (status != platform::SettingsStatus::Ok) {
    reading->failure = readFailure(status);
    return false;
  }
  int number = 0;
  if (!parseLanguageNumber(text, &number)) {
    reading->failure = notAnInteger(text);
    return false;
  }
  reading->languageId = number;
  return true;
}

}  // namespace

QString installerLanguageValueName() {
  return kValueName;
}

bool parseLanguageNumber(const QString& text, int* number) {
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  if (i == text.size()) return false;
  // Accumulated as a negative number so that the lowest value fits too.
  long long value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return false;
    value = value * 10 - (c - u'0');
    if (value < std::numeric_limits<int>::min()) return false;
  }
  if (!negative) {
    value = -value;
    if (value > std::numeric_limits<int>::max()) return false;
  }
  *number = static_cast<int>(value);
  return true;
}

LanguageReading readInstallerLanguage(int desktopLanguage) {
  LanguageReading reading;
  platform::SettingsKey machine(platform::SettingsRoot::MachineWide, kKeyPath);
  if (machine.valueExists(kValueName)) {
    readNumber(machine, &reading);
    return reading;
  }
  {
    const platform::SettingsKey user(platform::SettingsRoot::PerUser, kKeyPath);
    if (!user.valueExists(kValueName)) {
      // No installer sets the value on this system: the desktop's language
      // stands in for its choice. Stored, it would outlive a change of the
      // desktop's language.
      reading.languageId = desktopLanguage;
      return reading;
    }
    if (!readNumber(user, &reading)) return reading;
  }
  if (reading.languageId != 1033) {
    const platform::SettingsStatus written =
        machine.writeString(kValueName, QString::number(reading.languageId));
    // An ordinary user may not write the machine-wide store here, where on the
    // original platform an administrator could: the copy is left out and the
    // per-user number stands. Any other refusal is a failure.
    if (written != platform::SettingsStatus::Ok &&
        written != platform::SettingsStatus::WriteDenied) {
      reading.failure = QStringLiteral(u"Fehler beim Setzen der Daten für '%1'").arg(kValueName);
    }
  }
  return reading;
}

}  // namespace instructions
