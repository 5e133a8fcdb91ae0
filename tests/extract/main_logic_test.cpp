// The extraction window's decisions and texts, without a window.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "command_line.h"
#include "main_logic.h"
#include "untVxFileLib.h"

using namespace mainlogic;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}

}  // namespace

TEST(JoinArguments, SplitUnquotedPathIsJoinedWithSingleBlanks) {
  EXPECT_EQ(platform::joinArguments({QStringLiteral("a"), QStringLiteral("b.rar")}),
            QStringLiteral("a b.rar"));
  EXPECT_EQ(
      platform::joinArguments({QStringLiteral("  /d/my"), QStringLiteral("\tarchive.rar \n")}),
      QStringLiteral("/d/my archive.rar"));
}

TEST(JoinArguments, OneArgumentIsTrimmedOfBlanksAndControlsOnly) {
  EXPECT_EQ(platform::joinArguments({QString::fromUtf8("\x01 /d/x.rar\x1f ")}),
            QStringLiteral("/d/x.rar"));
  // A no-break space is not a blank in this sense.
  EXPECT_EQ(platform::joinArguments({QString(QChar(0xA0)) + "x.rar"}),
            QString(QChar(0xA0)) + "x.rar");
  EXPECT_EQ(platform::joinArguments({}), QString());
}

// Where start-up looks: the name as given, then beside the executable; a
// relative name that is found comes back absolute.
TEST(FindArchive, TheNameAsGivenComesFirstThenTheExecutableFolder) {
  const struct {
    const char* given;
    QStringList present;
    QString expected;
    QStringList asked;
  } cases[] = {
      {"backup.rar",
       {"/opt/q/backup.rar"},
       "/opt/q/backup.rar",
       {"backup.rar", "/opt/q/backup.rar"}},
      {"backup.rar",
       {"backup.rar", "/opt/q/backup.rar"},
       QDir::currentPath() + "/backup.rar",
       {"backup.rar"}},
      {"/d/backup.rar", {"/d/backup.rar"}, "/d/backup.rar", {"/d/backup.rar"}},
      {"other.rar", {}, QString(), {"other.rar", "/opt/q/other.rar"}},
  };
  for (const auto& c : cases) {
    QStringList asked;
    const auto present = [&](const QString& p) {
      asked << p;
      return c.present.contains(p);
    };
    EXPECT_EQ(platform::findArchive(QString::fromUtf8(c.given), "/opt/q/", present), c.expected)
        << c.given;
    EXPECT_EQ(asked, c.asked) << c.given;
  }
}

TEST(PathParts, SplitAtTheLastSlash) {
  EXPECT_EQ(fileNamePart(QStringLiteral("/d/data/backup.rar")), QStringLiteral("backup.rar"));
  EXPECT_EQ(folderPart(QStringLiteral("/d/data/backup.rar")), QStringLiteral("/d/data/"));
  EXPECT_EQ(fileNamePart(QStringLiteral("backup.rar")), QStringLiteral("backup.rar"));
  EXPECT_EQ(folderPart(QStringLiteral("backup.rar")), QString());
  // ":" is an ordinary character here.
  EXPECT_EQ(fileNamePart(QStringLiteral("/d/c:x.rar")), QStringLiteral("c:x.rar"));
  EXPECT_EQ(folderPart(QStringLiteral("dir/sub/")), QStringLiteral("dir/sub/"));
}

TEST(Captions, ListingAndExtracting) {
  EXPECT_EQ(listingCaption(QStringLiteral("a b.rar")), QStringLiteral("Quillmoss - a b.rar"));
  EXPECT_EQ(listingCaption(QStringLiteral("/d/data/backup.rar")),
            QStringLiteral("Quillmoss - backup.rar"));
  EXPECT_EQ(extractingCaption(QStringLiteral("/d/data/backup.rar"), QStringLiteral("/d/data")),
            QStringLiteral("backup.rar --> /d/data"));
}

TEST(ProgressPosition, SevenEntriesStepThroughWholePercentages) {
  std::vector<int> seen;
  for (std::uint32_t i = 1; i <= 7; ++i) seen.push_back(progressPosition(i, 7).value_or(-1));
  EXPECT_EQ(seen, (std::vector<int>{14, 28, 42, 57, 71, 85, 100}));
}

// Within an entry the bar moves through that entry's share by its bytes, and
// meets the whole-entry value when the entry is written.
TEST(ProgressPosition, AnEntryFillsItsShareByItsBytes) {
  const struct {
    std::uint32_t done;
    std::int32_t count;
    std::uint64_t bytes, size;
    int position;
  } rows[] = {
      {0, 1, 0, 1536ull << 20, 0},
      {0, 1, 768ull << 20, 1536ull << 20, 50},
      {0, 1, 1536ull << 20, 1536ull << 20, 100},
      {2, 4, 1, 4, 56},
      {2, 4, 4, 4, 75},
      {6, 7, 9, 10, 98},
      {6, 7, 20, 10, 100},
      {3, 7, 5, 0, 42},
      {0, 3, 1, 6ull << 30, 0},
      {1, 3, (6ull << 30) - 1, 6ull << 30, 66},
  };
  for (const auto& r : rows)
    EXPECT_EQ(progressPosition(r.done, r.count, r.bytes, r.size), r.position)
        << r.done << "/" << r.count << " " << r.bytes << "/" << r.size;
}

TEST(ProgressPosition, NothingCountedLeavesTheBarAndNeverPasses100) {
  EXPECT_FALSE(progressPosition(1, 0).has_value());
  EXPECT_FALSE(progressPosition(1, -5).has_value());
  EXPECT_EQ(progressPosition(9, 7), 100);
  // No overflow for counts near the top of the 32-bit range.
  EXPECT_EQ(progressPosition(4000000000u, 2147483647), 100);
  EXPECT_EQ(progressPosition(1000000000u, 2000000000), 50);
}

TEST(StatusLines, GermanLabelsAfterTheMessage) {
  EXPECT_EQ(statusLine(QString(), 1), QStringLiteral(": Archiv wird geöffnet"));
  EXPECT_EQ(statusLine(QString(), 0), QStringLiteral(": Archiv geöffnet"));
  EXPECT_EQ(statusLine(QString(), 2), QStringLiteral(": Nach Schließen"));
  EXPECT_EQ(statusLine(QStringLiteral("A password was used"), 3),
            QStringLiteral("A password was used: Passwortabfrage"));
  EXPECT_EQ(statusLine(QStringLiteral("m"), 7), QStringLiteral("m: "));
  EXPECT_EQ(errorLine(QStringLiteral("Corrupted data!")),
            QStringLiteral("Fehler: Corrupted data!"));
}

TEST(OverwriteAnswer, EachButtonAndTheCloseBox) {
  EXPECT_TRUE(overwriteAnswer(6, false).canOverride);
  EXPECT_EQ(overwriteAnswer(6, false).change, OverrideChange::None);
  EXPECT_FALSE(overwriteAnswer(7, false).canOverride);
  EXPECT_EQ(overwriteAnswer(7, false).change, OverrideChange::None);
  EXPECT_TRUE(overwriteAnswer(10, false).canOverride);
  EXPECT_EQ(overwriteAnswer(10, false).change, OverrideChange::AlwaysOverwrite);
  EXPECT_FALSE(overwriteAnswer(9, false).canOverride);
  EXPECT_EQ(overwriteAnswer(9, false).change, OverrideChange::NeverOverwrite);
  // Closed without a button: the component's preset stands.
  EXPECT_FALSE(overwriteAnswer(2, false).canOverride);
  EXPECT_EQ(overwriteAnswer(2, false).change, OverrideChange::None);
  EXPECT_FALSE(overwriteAnswer(0, false).canOverride);
}

TEST(ReadFirstLine, AnyLineEndNothingElseTrimmed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("folder.txt"));
  const std::pair<QByteArray, QString> cases[] = {
      {" /out/ \nsecond", QStringLiteral(" /out/ ")},
      {"/out\r\nsecond", QStringLiteral("/out")},
      {"/out\rsecond", QStringLiteral("/out")},
      {"/no-line-end", QStringLiteral("/no-line-end")},
      {"", QString()},
      {"\n/second", QString()},
      {"/m\xc3\xbcll", QString::fromUtf8("/m\xc3\xbcll")},
  };
  for (const auto& [bytes, expected] : cases) {
    writeFile(path, bytes);
    QString error;
    const std::optional<QString> line = readFirstLine(path, &error);
    ASSERT_TRUE(line.has_value()) << qPrintable(error);
    EXPECT_EQ(*line, expected) << bytes.constData();
  }
}

TEST(ReadFirstLine, LongFirstLineIsReadWhole) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("folder.txt"));
  const QByteArray longLine(10000, 'x');
  writeFile(path, longLine + "\nrest");
  EXPECT_EQ(readFirstLine(path, nullptr), QString::fromLatin1(longLine));
}

TEST(ReadFirstLine, UnreadableFileIsAnErrorWithText) {
  QTemporaryDir dir;
  const QString blocker = dir.filePath(QStringLiteral("plain"));
  writeFile(blocker, "x");
  QString error;
  EXPECT_FALSE(readFirstLine(blocker + QStringLiteral("/folder.txt"), &error).has_value());
  EXPECT_TRUE(error.contains(QStringLiteral("folder.txt"))) << qPrintable(error);
}

TEST(AutomaticTargetFolder, ArchiveFolderOrFirstLineOfFolderFile) {
  QTemporaryDir dir;
  const QString folderFile = dir.filePath(QStringLiteral("folder.txt"));
  EXPECT_EQ(automaticTargetFolder(QStringLiteral("/d/data/backup.rar"), QString(), nullptr),
            QStringLiteral("/d/data"));
  // An archive given by name only has no folder: nothing to extract into.
  EXPECT_EQ(automaticTargetFolder(QStringLiteral("backup.rar"), QString(), nullptr), QString());
  EXPECT_EQ(automaticTargetFolder(QStringLiteral("/backup.rar"), QString(), nullptr),
            QStringLiteral("/"));
  writeFile(folderFile, "/d/out/\n/ignored");
  EXPECT_EQ(automaticTargetFolder(QStringLiteral("/d/data/backup.rar"), folderFile, nullptr),
            QStringLiteral("/d/out"));
  writeFile(folderFile, "");
  EXPECT_EQ(automaticTargetFolder(QStringLiteral("/d/data/backup.rar"), folderFile, nullptr),
            QString());
  QString error;
  EXPECT_FALSE(automaticTargetFolder(QStringLiteral("/d/data/backup.rar"),
                                     folderFile + QStringLiteral("/x"), &error)
                   .has_value());
  EXPECT_FALSE(error.isEmpty());
}

TEST(CompareListText, AsciiLettersFoldOtherCharactersByCode) {
  EXPECT_EQ(compareListText(QStringLiteral("Readme"), QStringLiteral("README")), 0);
  EXPECT_LT(compareListText(QStringLiteral("10"), QStringLiteral("9")), 0);
  EXPECT_LT(compareListText(QStringLiteral("100"), QStringLiteral("9")), 0);
  EXPECT_LT(compareListText(QStringLiteral("10"), QStringLiteral("100")), 0);
  EXPECT_GT(compareListText(QStringLiteral("b"), QStringLiteral("A")), 0);
  // Folded to upper case: "a" (as "A", 0x41) sorts before "_" (0x5F).
  EXPECT_LT(compareListText(QStringLiteral("a"), QStringLiteral("_")), 0);
  // Letters outside A-Z keep their case and compare by code.
  EXPECT_NE(compareListText(QString::fromUtf8("\xc3\xa9"), QString::fromUtf8("\xc3\x89")), 0);
  EXPECT_EQ(compareListText(QString(), QString()), 0);
  EXPECT_LT(compareListText(QString(), QStringLiteral("a")), 0);
}

TEST(ArchiveInfoText, FourLinesJoinedByLineFeedThenCarriageReturn) {
  const QString text = archiveInfoText(3, -2, 2147483647, QStringLiteral("one\r\ntwo"));
  EXPECT_EQ(text.toUtf8(), QByteArray("Dateien: 3\n\rGepackte Gr\xc3\xb6\xc3\x9f"
                                      "e: -2\n\rUngepackte Gr\xc3\xb6\xc3\x9f"
                                      "e: 2147483647\n\rKommentar: one\r\ntwo"));
  EXPECT_TRUE(archiveInfoText(0, 0, 0, QString()).endsWith(QStringLiteral("Kommentar: ")));
}

// Long time formats of the locales Qt knows, each with its zone part.
TEST(TimeFormatWithoutZone, TheZoneAndWhatHeldItGo) {
  const std::pair<const char*, const char*> formats[] = {
      {"HH:mm:ss t", "HH:mm:ss"},
      {"h:mm:ss AP t", "h:mm:ss AP"},
      {"HH:mm:ss (t)", "HH:mm:ss"},
      {"APh:mm:ss [t]", "APh:mm:ss"},
      {"t HH:mm:ss", "HH:mm:ss"},
      {"h:mm:ss AP, t", "h:mm:ss AP"},
      {"'Klock' H.mm:ss (t)", "'Klock' H.mm:ss"},
      {"H:mm:ss '\u0447'. t", "H:mm:ss '\u0447'."},
      {"H-'a' 'horo' 'kaj' m:ss t", "H-'a' 'horo' 'kaj' m:ss"},
      {"'at' HH:mm", "'at' HH:mm"},
  };
  for (const auto& [format, expected] : formats)
    EXPECT_EQ(mainlogic::timeFormatWithoutZone(QString::fromUtf8(format)),
              QString::fromUtf8(expected))
        << format;
}

TEST(ListTimeText, ShortDateAndZonelessLongTimeMidnightDateAlone) {
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const QDateTime noon(QDate(2009, 1, 15), QTime(12, 0), Qt::UTC);
  EXPECT_EQ(mainlogic::listTimeText(noon, english), QStringLiteral("1/15/09 12:00:00 PM"));
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(mainlogic::listTimeText(noon, german), QStringLiteral("15.01.09 12:00:00"));
  EXPECT_EQ(mainlogic::listTimeText(QDateTime(QDate(2009, 1, 15), QTime(0, 0), Qt::UTC), german),
            QStringLiteral("15.01.09"));
  EXPECT_EQ(mainlogic::listTimeText(QDateTime(), german), QString());
}

TEST(AttributeLetters, FixedOrder) {
  Attributes readOnlyArchive;
  readOnlyArchive.readOnly = true;
  readOnlyArchive.archive = true;
  EXPECT_EQ(attributeLetters(readOnlyArchive), QStringLiteral("AR"));
  Attributes all{true, true, true, true, true, true, true, true, true};
  EXPECT_EQ(attributeLetters(all), QStringLiteral("ACDHNORST"));
  EXPECT_EQ(attributeLetters(Attributes{}), QString());
}

TEST(RemoveTrailingBackslash, OneSeparatorOffLongerTexts) {
  const std::pair<QString, QString> cases[] = {
      {QStringLiteral("/"), QStringLiteral("/")},
      {QStringLiteral("/data/"), QStringLiteral("/data")},
      {QStringLiteral("/data//"), QStringLiteral("/data/")},
      {QStringLiteral("/data"), QStringLiteral("/data")},
      {QString(), QString()},
      {QStringLiteral("a/"), QStringLiteral("a")},
  };
  for (const auto& [in, expected] : cases) {
    QString text = in;
    RemoveTrailingBackslash(text);
    EXPECT_EQ(text, expected) << qPrintable(in);
  }
}

TEST(ReadSkinPicture, BitmapReadGarbageAndAbsenceIgnored) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("skin.bmp"));
  EXPECT_TRUE(readSkinPicture(path).isNull());
  QImage picture(48, 24, QImage::Format_RGB32);
  picture.fill(QColor(10, 200, 30));
  ASSERT_TRUE(picture.save(path, "BMP"));
  const QImage read = readSkinPicture(path);
  EXPECT_EQ(read.size(), QSize(48, 24));
  EXPECT_EQ(read.pixelColor(5, 5), QColor(10, 200, 30));
  writeFile(path, "BM not really a bitmap");
  EXPECT_TRUE(readSkinPicture(path).isNull());
  // A folder of that name is no skin.
  QDir(dir.path()).mkdir(QStringLiteral("folder.bmp"));
  EXPECT_TRUE(readSkinPicture(dir.filePath(QStringLiteral("folder.bmp"))).isNull());
}
