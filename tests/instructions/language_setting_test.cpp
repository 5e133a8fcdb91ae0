#include <gtest/gtest.h>

#include <set>

#include <QFile>
#include <QLocale>

#include "language_setting.h"
#include "languages.h"
#include "test_support.h"

namespace {

using instructions::findLanguage;
using instructions::LanguageKind;
using instructions::parseLanguageNumber;
using instructions::readInstallerLanguage;

TEST(LanguageNumber, DecimalTextWithOptionalSignOnly) {
  int n = 0;
  EXPECT_TRUE(parseLanguageNumber(QStringLiteral("1031"), &n));
  EXPECT_EQ(n, 1031);
  EXPECT_TRUE(parseLanguageNumber(QStringLiteral("+15"), &n));
  EXPECT_EQ(n, 15);
  EXPECT_TRUE(parseLanguageNumber(QStringLiteral("-7"), &n));
  EXPECT_EQ(n, -7);
  EXPECT_TRUE(parseLanguageNumber(QStringLiteral("2147483647"), &n));
  EXPECT_EQ(n, 2147483647);
  EXPECT_TRUE(parseLanguageNumber(QStringLiteral("-2147483648"), &n));
  EXPECT_EQ(n, -2147483647 - 1);
  for (const char* bad : {"", "abc", "10a", " 1031", "1031 ", "+", "-", "2147483648", "-2147483649",
                          "99999999999999999999", "0x407"}) {
    n = 42;
    EXPECT_FALSE(parseLanguageNumber(QString::fromLatin1(bad), &n)) << bad;
    EXPECT_EQ(n, 42) << "a refused text leaves the number alone: " << bad;
  }
  EXPECT_FALSE(parseLanguageNumber(QStringLiteral(u"١٠٣١"), &n)) << "Arabic-Indic digits";
}

TEST(LanguageTable, EveryNumberSelectsOneLanguage) {
  std::set<int> seen;
  int text = 0, pictures = 0, arabic = 0;
  std::set<std::string> holders;
  for (const instructions::Language& language : instructions::allLanguages()) {
    for (int id : language.ids) {
      if (id == 0) continue;
      EXPECT_TRUE(seen.insert(id).second) << "number " << id << " listed twice";
      EXPECT_EQ(findLanguage(id), &language) << id;
    }
    switch (language.kind) {
      case LanguageKind::Text: {
        ++text;
        const QStringList lines = language.instructionLines();
        ASSERT_EQ(lines.size(), 4) << language.name;
        for (int i = 1; i < 4; ++i) {
          EXPECT_TRUE(lines[i].startsWith(QStringLiteral("--> "))) << language.name << i;
        }
        EXPECT_TRUE(lines[2].contains(QStringLiteral("Extract!"))) << language.name;
        break;
      }
      case LanguageKind::Picture:
        ++pictures;
        holders.insert(language.holder);
        break;
      case LanguageKind::Arabic:
        ++arabic;
        break;
    }
  }
  // English, the window as built, is the 26th text language.
  EXPECT_EQ(text, 25);
  EXPECT_EQ(arabic, 1);
  EXPECT_EQ(holders.size(), 22u);
  EXPECT_EQ(pictures, 22);
  EXPECT_EQ(findLanguage(1033), nullptr);
  EXPECT_EQ(findLanguage(2055), nullptr);
  EXPECT_EQ(findLanguage(0), nullptr);
  EXPECT_EQ(findLanguage(1069), findLanguage(1034)) << "Basque gets the Spanish text";
  EXPECT_EQ(findLanguage(1050), findLanguage(5146));
  EXPECT_EQ(findLanguage(2074), findLanguage(5146));
  EXPECT_TRUE(instructions::isGerman(1031));
  EXPECT_TRUE(instructions::isGerman(4103));
  EXPECT_FALSE(instructions::isGerman(2055)) << "Swiss German is not in the table";
}

TEST(LanguageTable, DesktopLocaleSelectsItsLanguage) {
  const struct {
    const char* locale;
    int id;
  } rows[] = {
      {"de_DE", 1031}, {"de_AT", 1031}, {"de_LU", 4103}, {"fr_BE", 1036}, {"pt_BR", 1046},
      {"pt_PT", 2070}, {"nb_NO", 1044}, {"nn_NO", 2068}, {"es_MX", 3082}, {"eu_ES", 1069},
      {"is_IS", 15},   {"zh_CN", 2052}, {"zh_TW", 1028}, {"sr_RS", 3098}, {"sr_Latn_RS", 2074},
      {"hr_HR", 1050}, {"bs_BA", 5146}, {"fa_IR", 1065}, {"ru_RU", 1049}, {"en_GB", 1033},
      {"C", 1033},     {"sw_KE", 1033},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(instructions::languageIdOfLocale(QLocale(QLatin1String(row.locale))), row.id)
        << row.locale;
  }
  // Every page of the table is reached from some desktop.
  std::set<const instructions::Language*> reached;
  for (const QLocale& locale :
       QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory)) {
    reached.insert(findLanguage(instructions::languageIdOfLocale(locale)));
  }
  for (const instructions::Language& language : instructions::allLanguages()) {
    EXPECT_TRUE(reached.count(&language)) << language.name;
  }
}

using ReadingTest = InstructionsTest;

TEST_F(ReadingTest, NothingStoredGivesEnglishAndCreatesBothKeys) {
  const instructions::LanguageReading reading = readInstallerLanguage(1033);
  EXPECT_EQ(reading.languageId, 1033);
  EXPECT_TRUE(reading.failure.isEmpty()) << reading.failure.toStdString();
  EXPECT_TRUE(QFile::exists(userFile()));
  EXPECT_TRUE(QFile::exists(machineFile()));
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
}

TEST_F(ReadingTest, NothingStoredGivesTheDesktopsLanguageWithoutWritingIt) {
  EXPECT_EQ(readInstallerLanguage(1031).languageId, 1031);
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
  EXPECT_FALSE(readFile(userFile()).contains("Language"));
  // A stored value still wins, English included (the per-user one: below).
  setMachineValue("1033");
  EXPECT_EQ(readInstallerLanguage(1031).languageId, 1033);
}

TEST_F(ReadingTest, MachineWideValueWinsAndNothingIsWritten) {
  setMachineValue("1036");
  setUserValue("1031");
  const QByteArray userBefore = readFile(userFile());
  const QByteArray machineBefore = readFile(machineFile());
  const instructions::LanguageReading reading = readInstallerLanguage(1033);
  EXPECT_EQ(reading.languageId, 1036);
  EXPECT_EQ(readFile(userFile()), userBefore);
  EXPECT_EQ(readFile(machineFile()), machineBefore);
}

TEST_F(ReadingTest, PerUserNumberIsCopiedToTheMachineWideStore) {
  setUserValue("2055");
  EXPECT_EQ(readInstallerLanguage(1031).languageId, 2055);  // over the desktop's language
  EXPECT_TRUE(readFile(machineFile()).contains("Installer%20Language=2055"))
      << readFile(machineFile()).toStdString();
  // The next start finds it there, whatever the user's own store says by then.
  setUserValue("1036");
  EXPECT_EQ(readInstallerLanguage(1033).languageId, 2055);
}

TEST_F(ReadingTest, PerUserEnglishIsNotCopied) {
  setUserValue("1033");
  EXPECT_EQ(readInstallerLanguage(1033).languageId, 1033);
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
}

TEST_F(ReadingTest, MachineWideStoreThatCannotBeOpenedLeavesThePerUserValue) {
  makeMachineStoreUnwritable();
  setUserValue("1033");
  const instructions::LanguageReading reading = readInstallerLanguage(1033);
  EXPECT_EQ(reading.languageId, 1033);
  EXPECT_TRUE(reading.failure.isEmpty());
}

TEST_F(ReadingTest, FailuresCarryTheirMessagesAndStopTheReading) {
  setMachineValue("abc");
  EXPECT_EQ(readInstallerLanguage(1033).failure,
            QStringLiteral(u"'abc' ist kein gültiger Integerwert"));
  setMachineValue("");
  EXPECT_EQ(readInstallerLanguage(1033).failure,
            QStringLiteral(u"'' ist kein gültiger Integerwert"));
  setMachineValue("1031, 1036");
  EXPECT_EQ(readInstallerLanguage(1033).failure,
            QStringLiteral(u"Ungültiger Datentyp für 'Installer Language'"));
  writeFile(machineFile(), "[General]\nInstaller%20Language=1031\n[Broken\n");
  EXPECT_EQ(readInstallerLanguage(1033).failure,
            QStringLiteral(u"Fehler beim Holen der Daten für 'Installer Language'"));
}

// A regular file where the store's folder should be: not a matter of rights.
TEST_F(ReadingTest, CopyRefusedForAnotherReasonIsAFailure) {
  makeMachineStoreUnwritable();
  setUserValue("1031");
  const instructions::LanguageReading reading = readInstallerLanguage(1033);
  EXPECT_EQ(reading.failure,
            QStringLiteral(u"Fehler beim Setzen der Daten für 'Installer Language'"));
}

TEST_F(ReadingTest, BadPerUserValueStopsBeforeTheCopy) {
  setUserValue("10x");
  const instructions::LanguageReading reading = readInstallerLanguage(1033);
  EXPECT_EQ(reading.failure, QStringLiteral(u"'10x' ist kein gültiger Integerwert"));
  EXPECT_EQ(reading.languageId, 1033);
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
}

}  // namespace
