#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#include "VxUnRarConvert.h"

namespace {

std::unique_ptr<RARHeaderDataEx> header() {
  auto h = std::make_unique<RARHeaderDataEx>();
  std::memset(h.get(), 0, sizeof(RARHeaderDataEx));
  return h;
}

}  // namespace

TEST(ConvertHeader, NamesComeFromArcNameAndTheWideFileName) {
  auto h = header();
  std::strcpy(h->ArcName, "/data/backup.part1.rar");
  std::strcpy(h->FileName, "wrong-narrow-name");
  const wchar_t wide[] = L"dir/\u00FCber \u65E5\u672C.txt";
  std::memcpy(h->FileNameW, wide, sizeof wide);
  TVxRARHeaderData d;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.ArcName, QStringLiteral("/data/backup.part1.rar"));
  EXPECT_EQ(d.FileName, QStringLiteral("dir/\u00FCber \u65E5\u672C.txt"));
}

TEST(ConvertHeader, NamesFillingTheWholeFieldAreNotReadPastIt) {
  auto h = header();
  std::memset(h->ArcName, 'a', sizeof h->ArcName);  // no terminating zero
  for (wchar_t& c : h->FileNameW) c = L'b';
  TVxRARHeaderData d;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.ArcName.size(), 1024);
  EXPECT_EQ(d.FileName.size(), 1024);
}

TEST(ConvertHeader, FlagsGiveSplitsEncryptionDirectoryAndDictionary) {
  auto h = header();
  TVxRARHeaderData d;
  h->Flags = 0xE0;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_TRUE(d.IsDirectory);
  EXPECT_EQ(d.DictionarySize, 0u) << "a directory has no dictionary";
  h->Flags = 0x70;  // bits 7..5 = 3, plus the solid bit
  vxunrar::ConvertHeader(*h, d);
  EXPECT_FALSE(d.IsDirectory);
  EXPECT_EQ(d.DictionarySize, 524288u);
  EXPECT_FALSE(d.SplitBefore);
  h->Flags = 0x01 | 0x02 | 0x04 | 0xC0;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_TRUE(d.SplitBefore);
  EXPECT_TRUE(d.SplitAfter);
  EXPECT_TRUE(d.Encrypted);
  EXPECT_EQ(d.DictionarySize, 4096u * 1024u);
  h->Flags = 0;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.DictionarySize, 65536u);
  EXPECT_FALSE(d.SplitBefore || d.SplitAfter || d.Encrypted);
}

TEST(ConvertHeader, UnknownHostOsAndMethodKeepThePreviousText) {
  auto h = header();
  TVxRARHeaderData d;
  h->HostOS = 2;
  h->Method = 0x35;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.HostOS, QStringLiteral("Windows"));
  EXPECT_EQ(d.Method, QStringLiteral("best"));
  h->HostOS = 5;
  h->Method = 0x36;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.HostOS, QStringLiteral("Windows"));
  EXPECT_EQ(d.Method, QStringLiteral("best"));
  const char* hosts[] = {"DOS", "IBM OS/2", "Windows", "Unix"};
  for (unsigned i = 0; i < 4; ++i) {
    h->HostOS = i;
    vxunrar::ConvertHeader(*h, d);
    EXPECT_EQ(d.HostOS, QLatin1String(hosts[i]));
  }
  const char* methods[] = {"store", "fastest", "fast", "normal", "good", "best"};
  for (unsigned i = 0; i < 6; ++i) {
    h->Method = 0x30 + i;
    vxunrar::ConvertHeader(*h, d);
    EXPECT_EQ(d.Method, QLatin1String(methods[i]));
  }
}

TEST(ConvertHeader, CrcIsUpperCaseHexWithoutLeadingZeros) {
  auto h = header();
  TVxRARHeaderData d;
  h->FileCRC = 0xABCD;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.CRC, QStringLiteral("ABCD"));
  h->FileCRC = 0;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.CRC, QStringLiteral("0"));
  h->FileCRC = 0xFFFFFFFF;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.CRC, QStringLiteral("FFFFFFFF"));
}

TEST(ConvertHeader, VersionSizesAndAttributes) {
  auto h = header();
  TVxRARHeaderData d;
  h->UnpVer = 29;
  h->PackSize = 10;
  h->PackSizeHigh = 1;
  h->UnpSize = 4000000000u;
  h->UnpSizeHigh = 2;
  h->FileAttr = 0x20 | 0x800 | 0x01;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.UnpVerMajor, 2u);
  EXPECT_EQ(d.UnpVerMinor, 9u);
  EXPECT_EQ(d.PackSize, 10u) << "only the low 32 bits";
  EXPECT_EQ(d.UnpSize, 4000000000u);
  EXPECT_TRUE(d.AttrArchive);
  EXPECT_TRUE(d.AttrCompressed);
  EXPECT_TRUE(d.AttrReadOnly);
  EXPECT_FALSE(d.AttrDirectory || d.AttrHidden || d.AttrNormal || d.AttrOffline || d.AttrSystem ||
               d.AttrTemporary);
  h->FileAttr = 0x10 | 0x02 | 0x80 | 0x1000 | 0x04 | 0x100;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_FALSE(d.AttrArchive || d.AttrCompressed || d.AttrReadOnly);
  EXPECT_TRUE(d.AttrDirectory && d.AttrHidden && d.AttrNormal && d.AttrOffline && d.AttrSystem &&
              d.AttrTemporary);
  h->UnpVer = 50;
  vxunrar::ConvertHeader(*h, d);
  EXPECT_EQ(d.UnpVerMajor, 5u);
  EXPECT_EQ(d.UnpVerMinor, 0u);
}

TEST(ConvertHeader, PackedDateTimeWithoutTimeZoneConversion) {
  auto h = header();
  TVxRARHeaderData d;
  h->FileTime = 0x3A2F5C20;
  vxunrar::ConvertHeader(*h, d);
  ASSERT_TRUE(d.FileTime.isValid());
  EXPECT_EQ(d.FileTime.date(), QDate(2009, 1, 15));
  EXPECT_EQ(d.FileTime.time(), QTime(11, 33, 0));
  // Seconds are stored in units of two.
  EXPECT_EQ(vxunrar::PackedDateTime(0x3A2F5C3B).time(), QTime(11, 33, 54));
}

// 2009-03-29 02:30 does not exist on a Berlin wall clock (the clocks went from
// 02:00 to 03:00), yet it is what the archive stores, and what it shows.
TEST(ConvertHeader, ATimeInTheSpringForwardHourStaysAsStored) {
  const QByteArray savedTz = qgetenv("TZ");
  const bool hadTz = qEnvironmentVariableIsSet("TZ");
  qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  ::tzset();
  const quint32 packed = ((2009u - 1980u) << 9 | 3u << 5 | 29u) << 16 | (2u << 11 | 30u << 5);
  const QDateTime time = vxunrar::PackedDateTime(packed);
  if (hadTz)
    qputenv("TZ", savedTz);
  else
    qunsetenv("TZ");
  ::tzset();
  ASSERT_TRUE(time.isValid());
  EXPECT_EQ(time.date(), QDate(2009, 3, 29));
  EXPECT_EQ(time.time(), QTime(2, 30));
}

TEST(ConvertHeader, AnInvalidPackedValueGivesANullDateTime) {
  auto h = header();
  TVxRARHeaderData d;
  h->FileTime = 0x3A2F5C20;
  vxunrar::ConvertHeader(*h, d);
  h->FileTime = 0;  // day 0, month 0
  vxunrar::ConvertHeader(*h, d);
  EXPECT_FALSE(d.FileTime.isValid()) << "the previous entry's time must not remain";
  EXPECT_FALSE(vxunrar::PackedDateTime((29u << 9 | 2u << 5 | 30u) << 16).isValid())
      << "30 February";
  EXPECT_FALSE(vxunrar::PackedDateTime(0x3A2F0000u | (24u << 11)).isValid()) << "hour 24";
  EXPECT_FALSE(vxunrar::PackedDateTime(0x3A2F0000u | (60u << 5)).isValid()) << "minute 60";
  EXPECT_FALSE(vxunrar::PackedDateTime(0x3A2F0000u | 30u).isValid()) << "second 60";
}

TEST(TargetPath, UsesTheWholeDirectory) {
  const QString longDir = QStringLiteral("/tmp/") + QString(300, QLatin1Char('d'));
  EXPECT_EQ(vxunrar::TargetPath(longDir, QStringLiteral("a/b.txt")),
            longDir + QStringLiteral("/a/b.txt"));
  EXPECT_EQ(vxunrar::TargetPath(QStringLiteral("/x/"), QStringLiteral("b")),
            QStringLiteral("/x//b"));
}

TEST(Selection, EmptyListSelectsAllAndCaseIsIgnored) {
  EXPECT_TRUE(vxunrar::IsSelected({}, QStringLiteral("/x/a")));
  EXPECT_TRUE(vxunrar::IsSelected({QStringLiteral("/X/A.TXT")}, QStringLiteral("/x/a.txt")));
  EXPECT_FALSE(vxunrar::IsSelected({QStringLiteral("/x/b")}, QStringLiteral("/x/a")));
}

TEST(CopyToBuffer, CutsToTheSizeWithItsZeroAndNeverSplitsACharacter) {
  char buffer[8];
  std::memset(buffer, 'z', sizeof buffer);
  vxunrar::CopyToBuffer("abcdefghij", buffer, 4);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'z') << "nothing may be written past the size";
  vxunrar::CopyToBuffer("ab\xC3\xA4", buffer, 4);  // "abä": the ä would be cut in half
  EXPECT_STREQ(buffer, "ab");
  std::memset(buffer, 'z', sizeof buffer);
  vxunrar::CopyToBuffer("abc", buffer, 0);
  EXPECT_EQ(buffer[0], 'z');
}

TEST(ErrorTexts, OpenFailuresAndProcessingStatuses) {
  EXPECT_EQ(vxunrar::OpenErrorText(13), QStringLiteral("Corrupted archive!"));
  EXPECT_EQ(vxunrar::OpenErrorText(15), QStringLiteral("Volume-Error!"));
  EXPECT_EQ(vxunrar::OpenErrorText(22), QStringLiteral("No Password!"));
  EXPECT_EQ(vxunrar::OpenErrorText(24), QStringLiteral("Wrong Password!"));
  EXPECT_EQ(vxunrar::OpenErrorText(21), QStringLiteral("Unknown format!"));
  EXPECT_EQ(vxunrar::ProcessErrorText(21), QString());
}

// A failed entry's text: a checksum failure of an entry encrypted by RAR 1.5
// to 4 may as well be a wrong password; RAR 5 checks passwords itself.
TEST(ErrorTexts, AFailedEntrySaysWhatTheFormatCanTell) {
  const struct {
    int status;
    unsigned flags;
    unsigned unpVer;
    const char* text;
  } cases[] = {
      {12, RHDF_ENCRYPTED, 29, "Wrong password or damaged data!"},
      {12, RHDF_ENCRYPTED, 20, "Wrong password or damaged data!"},
      {12, RHDF_ENCRYPTED, 15, "Wrong password or damaged data!"},
      {12, RHDF_ENCRYPTED, 50, "Corrupted data!"},
      {12, 0, 29, "Corrupted data!"},
      {24, RHDF_ENCRYPTED, 29, "Wrong Password!"},
      {22, RHDF_ENCRYPTED, 50, "No Password!"},
      {16, 0, 29, "Error on creating file!"},
      {21, 0, 29, "Unknown error!"},
  };
  for (const auto& c : cases) {
    RARHeaderDataEx header{};
    header.Flags = c.flags;
    header.UnpVer = c.unpVer;
    EXPECT_EQ(vxunrar::EntryErrorText(c.status, header), QLatin1String(c.text))
        << c.status << " " << c.flags << " " << c.unpVer;
  }
}

// A name the system cannot take is refused by the library before the system
// is asked, so errno does not say why: the limits do.
TEST(ErrorTexts, ANameTooLongIsToldByTheSystemsLimits) {
  EXPECT_FALSE(vxunrar::NameTooLong("/tmp/" + QByteArray(NAME_MAX, 'n')));
  EXPECT_TRUE(vxunrar::NameTooLong("/tmp/" + QByteArray(NAME_MAX + 1, 'n') + "/a.txt"));
  QByteArray deep = "/tmp";
  while (deep.size() < PATH_MAX) deep += '/' + QByteArray(200, 'd');
  EXPECT_TRUE(vxunrar::NameTooLong(deep));
}

// Memory as the large-dictionary question names it: whole units, or tenths
// rounded down, never more than asked.
TEST(MemoryText, WholeUnitsOrTenths) {
  EXPECT_EQ(vxunrar::MemoryText(67108864), QStringLiteral("64 GB"));
  EXPECT_EQ(vxunrar::MemoryText(4194304 + 2097152), QStringLiteral("6 GB"));
  EXPECT_EQ(vxunrar::MemoryText(1572864), QStringLiteral("1.5 GB"));
  EXPECT_EQ(vxunrar::MemoryText(512), QStringLiteral("512 KB"));
}
