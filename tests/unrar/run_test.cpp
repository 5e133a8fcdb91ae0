#include "run_fixture.h"

namespace {

const QString kTwoEntries = QStringLiteral(
    "open cmtstate=1 comment=\"Hello\"\n"
    "entry name=\"one.txt\" unp=10 data=\"new one\"\n"
    "entry name=\"two.txt\" unp=20 data=\"new two\"\n");

}  // namespace

TEST_F(RunTest, TypicalExtractRunWithCounting) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoEntries));
  touch(QStringLiteral("two.txt"));
  overrideAnswer = true;
  vx->SetCanProgress(true);
  vx->SetOverrideEvent(OR_EVENT);
  vx->Execute();
  EXPECT_EQ(events,
            (QStringList{"status BEFOREOPEN", "status OPEN", "comment Hello", "status AFTERCLOSE",
                         "status BEFOREOPEN", "status OPEN", "comment Hello", "file one.txt 0",
                         "progress 1/2/1/30", "file two.txt 0", "progress 2/2/2/30",
                         "override <dir>/two.txt", "status AFTERCLOSE"}));
  EXPECT_EQ(calls(),
            (QStringList{OPEN_LINE(1, 1, 0, 1), "RARSetCallback(#1, callback, UserData=set)",
                         "RARReadHeaderEx(#1) = 0 \"one.txt\"",
                         "RARProcessFile(#1, 0, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#1) = 0 \"two.txt\"",
                         "RARProcessFile(#1, 0, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#1) = 10", "RARCloseArchive(#1) = 0",
                         OPEN_LINE(2, 1, 5, 1), "RARSetCallback(#2, callback, UserData=set)",
                         "RARReadHeaderEx(#2) = 0 \"one.txt\"",
                         "RARProcessFile(#2, 2, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#2) = 0 \"two.txt\"",
                         "RARProcessFile(#2, 2, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#2) = 10", "RARCloseArchive(#2) = 0"}));
  EXPECT_EQ(vx->ArchivComment(), QStringLiteral("Hello"));
  EXPECT_EQ(vx->CommentSize(), 5u);
  EXPECT_EQ(vx->FileCount(), 2u);
  EXPECT_EQ(vx->SizeCount(), 30u);
  EXPECT_EQ(contents(QStringLiteral("two.txt")), QByteArray("new two"));
}

TEST_F(RunTest, ListRunWithoutCountingKeepsTheLastTotals) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoEntries, VxRAR_LIST));
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "comment Hello",
                                 "file one.txt 0", "progress 1/0/1/0", "file two.txt 0",
                                 "progress 2/0/2/0", "status AFTERCLOSE"}));
  EXPECT_EQ(calls(),
            (QStringList{OPEN_LINE(1, 0, 0, 1), "RARSetCallback(#1, callback, UserData=set)",
                         "RARReadHeaderEx(#1) = 0 \"one.txt\"",
                         "RARProcessFile(#1, 1, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#1) = 0 \"two.txt\"",
                         "RARProcessFile(#1, 1, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARReadHeaderEx(#1) = 10", "RARCloseArchive(#1) = 0"}));
  // A counting run, then a run without counting: the totals of the count remain.
  vx->SetCanProgress(true);
  vx->Execute();
  vx->SetCanProgress(false);
  events.clear();
  vx->Execute();
  EXPECT_TRUE(events.contains(QStringLiteral("progress 2/2/2/30")))
      << events.join('\n').toStdString();
}

TEST_F(RunTest, EmptyArchive) {
  ASSERT_NO_FATAL_FAILURE(start(QString()));
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "status AFTERCLOSE"}));
  EXPECT_EQ(calls(),
            (QStringList{OPEN_LINE(1, 1, 0, 0), "RARSetCallback(#1, callback, UserData=set)",
                         "RARReadHeaderEx(#1) = 10", "RARCloseArchive(#1) = 0"}));
  events.clear();
  vx->SetCanProgress(true);
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "status AFTERCLOSE",
                                 "status BEFOREOPEN", "status OPEN", "status AFTERCLOSE"}));
}

TEST_F(RunTest, CountingSkipsOnlyAndCountsEntriesNotContinuedFromBefore) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral(
                "entry name=\"a\" unp=4000000000\n"
                "entry name=\"b\" unp=500000000 flags=0x02\n"
                "entry name=\"b\" unp=500000000 flags=0x01\n"  // the rest of b: not counted again
                "entry name=\"c\" unp=7 process0=0\n"),
            VxRAR_LIST));
  vx->SetCanProgress(true);
  vx->Execute();
  EXPECT_EQ(vx->FileCount(), 3u);
  EXPECT_EQ(vx->SizeCount(), static_cast<quint32>(4000000000ull + 500000000ull + 7ull))
      << "32-bit unsigned arithmetic wraps";
  const QStringList opens = callsStarting(QStringLiteral("RAROpenArchive"));
  ASSERT_EQ(opens.size(), 2);
  EXPECT_TRUE(opens[0].contains(QStringLiteral("OpenMode=1")))
      << "counting always opens to extract";
  EXPECT_TRUE(opens[1].contains(QStringLiteral("OpenMode=0")));
  const QStringList processed = callsStarting(QStringLiteral("RARProcessFile(#1"));
  EXPECT_EQ(processed.size(), 4);
  for (const QString& line : processed) EXPECT_TRUE(line.startsWith("RARProcessFile(#1, 0,"));
}

TEST_F(RunTest, AFailingSkipEndsTheCountSilently) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"a\" unp=1\n"
                           "entry name=\"b\" unp=2 process0=13\n"
                           "entry name=\"c\" unp=4\n")));
  vx->SetCanProgress(true);
  vx->Execute();
  EXPECT_EQ(vx->FileCount(), 1u);
  EXPECT_EQ(vx->SizeCount(), 1u);
  EXPECT_FALSE(events.join('\n').contains(QStringLiteral("error"))) << "the count raises no error";
  EXPECT_EQ(callsStarting(QStringLiteral("RARReadHeaderEx(#1)")).size(), 2)
      << "no header is read after the failed skip";
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile(#2, 2")).size(), 3)
      << "the main pass runs";
}

TEST_F(RunTest, PasswordIsHandedOverAfterEachOpenOnlyWhenNotEmpty) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\n")));
  vx->SetCanProgress(true);
  vx->Execute();
  EXPECT_TRUE(callsStarting(QStringLiteral("RARSetPassword")).isEmpty());
  fake.clearCalls();
  vx->SetPassword(QStringLiteral("p\u00E4ss word"));
  vx->Execute();
  const QStringList c = calls();
  ASSERT_GE(c.size(), 6);
  EXPECT_EQ(c[1], QStringLiteral("RARSetCallback(#3, callback, UserData=set)"));
  EXPECT_EQ(c[2], QStringLiteral("RARSetPassword(#3, \"p\u00E4ss word\")"));
  EXPECT_EQ(callsStarting(QStringLiteral("RARSetPassword(#4, \"p\u00E4ss word\")")).size(), 1);
}

TEST_F(RunTest, HeaderConversionReachesTheHandlerAndOnlyWithAHandler) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(
      "entry name=\"d/\u00FC.txt\" arcname=\"/v/a.part1.rar\" flags=0x66 pack=3 unp=9 host=3 "
      "crc=0xABCD time=0x3A2F5C20 ver=29 method=0x35 attr=0x21\n")));
  TVxRARHeaderData seen;
  vx->OnFileProcessing = [&](QObject*, TVxRARHeaderData h, int) { seen = h; };
  vx->Execute();
  EXPECT_EQ(seen.FileName, QStringLiteral("d/\u00FC.txt"));
  EXPECT_EQ(seen.ArcName, QStringLiteral("/v/a.part1.rar"));
  EXPECT_TRUE(seen.SplitAfter);
  EXPECT_TRUE(seen.Encrypted);
  EXPECT_EQ(seen.DictionarySize, 65536u << 3);
  EXPECT_EQ(seen.HostOS, QStringLiteral("Unix"));
  EXPECT_EQ(seen.CRC, QStringLiteral("ABCD"));
  EXPECT_EQ(seen.FileTime.date(), QDate(2009, 1, 15));
  EXPECT_EQ(seen.FileTime.time(), QTime(11, 33, 0));
  EXPECT_EQ(seen.Method, QStringLiteral("best"));
  EXPECT_TRUE(seen.AttrArchive && seen.AttrReadOnly);
  EXPECT_EQ(vx->HeaderData().CRC, QStringLiteral("ABCD"));

  // Without either handler the converted header is not refreshed.
  ASSERT_EQ(fake.load(QStringLiteral("entry name=\"other\" crc=0x1\n")), QString());
  vx->OnFileProcessing = nullptr;
  vx->OnProgress = nullptr;
  vx->Execute();
  EXPECT_EQ(vx->HeaderData().CRC, QStringLiteral("ABCD"));
  // With only a progress handler it is.
  vx->OnProgress = [](QObject*, quint32, quint32, quint32, quint32) {};
  vx->Execute();
  EXPECT_EQ(vx->HeaderData().CRC, QStringLiteral("1"));
}

TEST_F(RunTest, SelectionByTargetPathIgnoringCase) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"Docs/A.txt\" data=\"a\"\n"
                           "entry name=\"b.txt\" data=\"b\"\n")));
  vx->SetOverrideEvent(OR_EVENT);
  vx->FileList() << dir.path() + QStringLiteral("/docs/a.TXT");
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")),
            (QStringList{"RARProcessFile(#1, 2, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARProcessFile(#1, 0, DestPath=\"<dir>\", DestName=null) = 0"}));
  EXPECT_EQ(contents(QStringLiteral("Docs/A.txt")), QByteArray("a"));
  EXPECT_EQ(contents(QStringLiteral("b.txt")), QByteArray("<missing>"));
}

TEST_F(RunTest, ASelectionMatchingNothingSkipsAllYetReportsEveryEntry) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoEntries));
  vx->SetOverrideEvent(OR_EVENT);
  vx->FileList() << QStringLiteral("/elsewhere/x");
  vx->Execute();
  for (const QString& line : callsStarting(QStringLiteral("RARProcessFile")))
    EXPECT_TRUE(line.startsWith(QStringLiteral("RARProcessFile(#1, 0,"))) << line.toStdString();
  EXPECT_EQ(events.filter(QStringLiteral("file ")).size(), 2);
  EXPECT_EQ(events.filter(QStringLiteral("progress ")).size(), 2);
  // OR_ALWAYS ignores the selection.
  fake.clearCalls();
  vx->SetOverrideEvent(OR_ALWAYS);
  vx->Execute();
  for (const QString& line : callsStarting(QStringLiteral("RARProcessFile")))
    EXPECT_TRUE(line.startsWith(QStringLiteral("RARProcessFile(#2, 2,"))) << line.toStdString();
}

TEST_F(RunTest, ExistingFilesUnderEachOverrideOption) {
  ASSERT_NO_FATAL_FAILURE(start(kTwoEntries));
  touch(QStringLiteral("one.txt"));
  touch(QStringLiteral("two.txt"));
  auto operations = [&] {
    QStringList ops;
    for (const QString& line : callsStarting(QStringLiteral("RARProcessFile")))
      ops << line.section(QLatin1Char(' '), 1, 1).chopped(1);
    fake.clearCalls();
    return ops;
  };
  vx->SetOverrideEvent(OR_ALWAYS);
  vx->Execute();
  EXPECT_EQ(operations(), (QStringList{"2", "2"}));
  EXPECT_TRUE(events.filter(QStringLiteral("override")).isEmpty());

  vx->SetOverrideEvent(OR_NEVER);
  vx->Execute();
  EXPECT_EQ(operations(), (QStringList{"0", "0"}));
  EXPECT_TRUE(events.filter(QStringLiteral("override")).isEmpty()) << "OR_NEVER asks nobody";

  vx->SetOverrideEvent(OR_EVENT);
  overrideAnswer = true;
  vx->Execute();
  EXPECT_EQ(operations(), (QStringList{"2", "2"}));
  EXPECT_EQ(events.filter(QStringLiteral("override")).size(), 2);

  overrideAnswer = false;
  vx->Execute();
  EXPECT_EQ(operations(), (QStringList{"0", "0"}));

  vx->OnOverride = nullptr;
  vx->Execute();
  EXPECT_EQ(operations(), (QStringList{"0", "0"})) << "OR_EVENT without a handler skips";
}

TEST_F(RunTest, AnOverrideHandlerMaySwitchTheOptionForTheRestOfTheRun) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"a\"\nentry name=\"b\"\nentry name=\"c\"\n")));
  touch(QStringLiteral("a"));
  touch(QStringLiteral("b"));
  touch(QStringLiteral("c"));
  int asked = 0;
  vx->SetOverrideEvent(OR_EVENT);
  vx->OnOverride = [&](QObject*, QString, bool& can) {
    ++asked;
    can = true;
    vx->SetOverrideEvent(OR_NEVER);  // "yes to this one, no to all others"
  };
  vx->Execute();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")),
            (QStringList{"RARProcessFile(#1, 2, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARProcessFile(#1, 0, DestPath=\"<dir>\", DestName=null) = 0",
                         "RARProcessFile(#1, 0, DestPath=\"<dir>\", DestName=null) = 0"}));
}

TEST_F(RunTest, ListModeAndDirectoriesNeverAskAboutExistingFiles) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"sub\" flags=0xE0\nentry name=\"one.txt\"\n"), VxRAR_LIST));
  touch(QStringLiteral("one.txt"));
  vx->SetOverrideEvent(OR_EVENT);
  vx->Execute();
  EXPECT_TRUE(events.filter(QStringLiteral("override")).isEmpty());
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile(#1, 1")).size(), 2);
  fake.clearCalls();
  vx->SetMode(VxRAR_EXTRACT);
  touch(QStringLiteral("sub"));  // even a file in the directory's place
  vx->Execute();
  EXPECT_EQ(events.filter(QStringLiteral("override")), QStringList{"override <dir>/one.txt"})
      << "the directory entry is processed without the question";
}

TEST_F(RunTest, ALongDestinationStillFindsTheExistingFile) {
  QString deep = dir.path();
  while (deep.size() <= 300) deep += QStringLiteral("/a_rather_long_folder_name_for_testing");
  ASSERT_TRUE(QDir().mkpath(deep));
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"file.txt\" data=\"new\"\n")));
  vx->SetDirectory(deep);
  {
    QFile f(deep + QStringLiteral("/file.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old");
  }
  vx->SetOverrideEvent(OR_EVENT);
  overrideAnswer = false;
  vx->Execute();
  EXPECT_EQ(events.filter(QStringLiteral("override")).size(), 1)
      << "the overwrite question must be asked for a destination of " << deep.size()
      << " characters";
  QFile f(deep + QStringLiteral("/file.txt"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("old"));
  // The selection keys the window builds from the whole destination match too.
  vx->FileList() << deep + QStringLiteral("/FILE.txt");
  vx->SetOverrideEvent(OR_NEVER);
  fake.clearCalls();
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), 1);
}
