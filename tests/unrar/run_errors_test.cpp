#include <QRegularExpression>
#include <cerrno>
#include <stdexcept>

#include "run_fixture.h"

// A failed entry is reported with its own text, and the run goes on with the
// next entry: one damaged entry, a full disk or a refused name must not cost
// the rest of the archive.
// Where the system said why a file could not be made or written (errno),
// the reason follows the table's text.
TEST_F(RunTest, EveryFailedEntryIsReportedAndTheRunGoesOn) {
  const struct {
    int status;
    const char* text;
    int error = 0;  // errno the library leaves behind
  } table[] = {{12, "Corrupted data!"},
               {13, "Corrupted archive!"},
               {14, "Unknown format!"},
               {15, "Volume-Error!"},
               {16, "Error on creating file!"},
               {17, "Error on closing file!"},
               {18, "Read error!"},
               {19, "Write error!"},
               {11, "No memory!"},
               {21, "Unknown error!"},
               {22, "No Password!"},
               {24, "Wrong Password!"},
               {25, "Dictionary too large!"},
               {16, "Error on creating file! Name too long for the file system", ENAMETOOLONG},
               {16, "Error on creating file! Permission denied", EACCES},
               {16, "Error on creating file! Read-only file system", EROFS},
               {19, "Write error! No space left on the disk", ENOSPC},
               {19, "Write error! Disk quota exceeded", EDQUOT},
               {17, "Error on closing file! No space left on the disk", ENOSPC},
               {16, "Error on creating file!", EINVAL},
               {12, "Corrupted data!", EACCES}};
  for (const auto& [status, text, error] : table) {
    events.clear();
    ASSERT_NO_FATAL_FAILURE(start(
        QStringLiteral("entry name=\"a\"\nentry name=\"b\" process=%1 errno=%2\nentry name=\"c\"\n")
            .arg(status)
            .arg(error)));
    vx->Execute();
    EXPECT_EQ(events,
              (QStringList{"status BEFOREOPEN", "status OPEN", "file a 0", "progress 1/0/1/0",
                           "file b 0", "progress 2/0/2/0",
                           QStringLiteral("error %1 %2").arg(status).arg(QLatin1String(text)),
                           "file c 0", "progress 3/0/3/0", "status AFTERCLOSE"}))
        << "status " << status;
    EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), 3) << status;
    EXPECT_EQ(vx->EntriesFailed(), 1u) << status;
    EXPECT_EQ(vx->RunResult(), status);
    EXPECT_EQ(calls().last(), QStringLiteral("RARCloseArchive(#1) = 0"));
  }
}

// A name longer than the header record holds is refused by the library
// without asking the system: the name's length is the reason.
TEST_F(RunTest, ANameBeyondTheHeaderRecordFailsAsTooLong) {
  // Short names, a path the system could take: only the record is too small.
  const QString name = QStringList(22, QString(49, QLatin1Char('n'))).join(QLatin1Char('/'));
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=%1 process2=16\n").arg(name)));
  vx->Execute();
  EXPECT_EQ(events.filter(QStringLiteral("error")),
            QStringList{"error 16 Error on creating file! Name too long for the file system"});
}

// Folders made only for an entry that failed go again, innermost first;
// one that holds another entry's file stays, and so does a folder the
// archive stores.
TEST_F(RunTest, FoldersMadeOnlyForAFailedEntryAreRemoved) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=before/y.txt folders=1 process2=16\n"
                           "entry name=lost/deeper/a.txt folders=1 process2=24\n"
                           "entry name=kept/b.txt data=\"b\"\n"
                           "entry name=kept/new/c.txt folders=1 process2=12\n"
                           "entry name=stored flags=0xE0 data=\"\"\n"
                           "entry name=stored/d.txt folders=1 process2=24\n")));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("before")));  // the user's, empty
  vx->Execute();
  EXPECT_EQ(vx->EntriesFailed(), 4u);
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("before"))).isDir()) << "not made by the run";
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("lost"))));
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("kept/b.txt"))).isFile());
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("kept/new"))));
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("stored"))).isDir()) << "stored in the archive";
}

// In a solid stream nothing after a failed entry can be decoded: the run
// stops at the next entry that continues the stream, and a non-solid entry
// starts afresh.
TEST_F(RunTest, AFailedEntryEndsTheRunWhereTheSolidStreamContinues) {
  const struct {
    const char* script;
    QStringList files;
    int processed;
  } cases[] = {
      {"entry name=a process=12\nentry name=b flags=0x10\nentry name=c flags=0x10\n",
       {"file a 0"},
       1},
      {"entry name=a process=12\nentry name=b\nentry name=c flags=0x10\n",
       {"file a 0", "file b 0", "file c 0"},
       3},
      {"entry name=a\nentry name=b flags=0x10 process=12\nentry name=c\nentry name=d flags=0x10\n",
       {"file a 0", "file b 0", "file c 0", "file d 0"},
       4},
  };
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(start(QLatin1String(c.script)));
    events.clear();
    vx->Execute();
    EXPECT_EQ(events.filter(QRegularExpression(QStringLiteral("^file "))), c.files) << c.script;
    EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), c.processed) << c.script;
    EXPECT_EQ(events.filter(QStringLiteral("error 12 Corrupted data!")).size(), 1) << c.script;
    EXPECT_EQ(events.last(), QStringLiteral("status AFTERCLOSE"));
  }
}

TEST_F(RunTest, CommentStates) {
  const std::pair<int, const char*> errors[] = {{11, "error 11 No memory!"},
                                                {12, "error 12 Corrupted data!"},
                                                {14, "error 14 Unknown format!"},
                                                {20, "error 20 Buffer to small!"}};
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("open cmtstate=1 comment=\"first\"\n")));
  vx->Execute();
  ASSERT_EQ(vx->ArchivComment(), QStringLiteral("first"));
  for (const auto& [state, line] : errors) {
    events.clear();
    ASSERT_EQ(fake.load(QStringLiteral("open cmtstate=%1 comment=\"garbage\"\n").arg(state)),
              QString());
    vx->Execute();
    EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", QLatin1String(line),
                                   "status AFTERCLOSE"}));
    EXPECT_EQ(vx->ArchivComment(), QStringLiteral("first")) << "state " << state;
    EXPECT_EQ(vx->CommentSize(), 5u);
  }
  events.clear();
  ASSERT_EQ(fake.load(QStringLiteral("open cmtstate=7 comment=\"garbage\"\n")), QString());
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "status AFTERCLOSE"}));
  EXPECT_EQ(vx->ArchivComment(), QStringLiteral("first"));
  ASSERT_EQ(fake.load(QStringLiteral("open cmtstate=0\n")), QString());
  vx->Execute();
  EXPECT_EQ(vx->ArchivComment(), QString());
  EXPECT_EQ(vx->CommentSize(), 0u);
  // A comment read without a handler is still kept.
  vx->OnComment = nullptr;
  ASSERT_EQ(fake.load(QStringLiteral("open cmtstate=1 comment=\"line 1\\nline 2\"\n")), QString());
  vx->Execute();
  EXPECT_EQ(vx->ArchivComment(), QStringLiteral("line 1\nline 2"));
  EXPECT_EQ(vx->CommentSize(), 13u);
}

TEST_F(RunTest, AFailedCloseIsReported) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("close result=17\n")));
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "error 17 Error on close!",
                                 "status AFTERCLOSE"}));
}

TEST_F(RunTest, AnArchiveThatCannotBeOpenedEndsThePassWithoutUsingTheMissingHandle) {
  const std::pair<int, const char*> cases[] = {{13, "Corrupted archive!"}, {15, "Volume-Error!"},
                                               {11, "No memory!"},         {22, "No Password!"},
                                               {24, "Wrong Password!"},    {14, "Unknown format!"},
                                               {21, "Unknown format!"}};
  for (const auto& [result, text] : cases) {
    events.clear();
    ASSERT_NO_FATAL_FAILURE(
        start(QStringLiteral("open result=%1\nentry name=\"a\"\n").arg(result)));
    vx->SetCanProgress(true);
    vx->Execute();
    EXPECT_EQ(events,
              (QStringList{"status BEFOREOPEN", "status OPEN",
                           QStringLiteral("error %1 %2").arg(result).arg(QLatin1String(text)),
                           "status AFTERCLOSE"}))
        << "open result " << result << "; a failed count ends the run";
    ASSERT_EQ(calls().size(), 1) << calls().join('\n').toStdString();
    EXPECT_TRUE(calls()[0].endsWith(QStringLiteral("= null OpenResult=%1").arg(result)));
  }
}

TEST_F(RunTest, HeaderStatuses) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"bad\" read=12\n"
                           "entry name=\"odd\" read=21\n"
                           "entry name=\"good\"\n")));
  vx->Execute();
  EXPECT_EQ(events,
            (QStringList{"status BEFOREOPEN", "status OPEN", "error 12 File Header corrupted!",
                         "file odd 21", "progress 1/0/1/0", "file good 0", "progress 2/0/2/0",
                         "status AFTERCLOSE"}));
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), 1)
      << "only the header read with 0 is processed";
}

// The first repeat of the same failure for the same entry ends the header
// loop, in the counting pass too, and the failure is said with its own text.
TEST_F(RunTest, ALibraryRepeatingOneFailureForeverIsCutOffAtTheFirstRepeat) {
  const std::pair<int, const char*> table[] = {
      {15, "Volume-Error!"}, {24, "Wrong Password!"}, {21, "File Header corrupted!"}};
  for (const auto& [status, text] : table) {
    events.clear();
    ASSERT_NO_FATAL_FAILURE(
        start(QStringLiteral("entry name=\"x\" read=%1 repeat=100000\n").arg(status)));
    vx->SetCanProgress(true);
    vx->Execute();
    EXPECT_EQ(
        events.mid(3),
        (QStringList{"status BEFOREOPEN", "status OPEN", QStringLiteral("file x %1").arg(status),
                     QStringLiteral("progress 1/0/1/0"),
                     QStringLiteral("error %1 %2").arg(status).arg(text), "status AFTERCLOSE"}))
        << events.join('\n').toStdString();
    EXPECT_EQ(calls().filter(QStringLiteral("RARReadHeaderEx")).size(), 4) << status;
    EXPECT_EQ(calls().last(), QStringLiteral("RARCloseArchive(#2) = 0"));
  }
}

// A failed read that leaves no entry in the record lists nothing: the failure
// is said at once.
TEST_F(RunTest, AFailedReadThatNamesNoEntryIsNotListed) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"a\"\n"
                           "entry name=\"\" read=15 repeat=3\n")));
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "file a 0", "progress 1/0/1/0",
                                 "error 15 Volume-Error!", "status AFTERCLOSE"}));
}

// --- StopProcessing --------------------------------------------------------

TEST_F(RunTest, StopInFileProcessingSkipsTheEntryAndStillCloses) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\nentry name=\"b\"\n")));
  auto record = vx->OnFileProcessing;
  vx->OnFileProcessing = [&, record](QObject* s, TVxRARHeaderData h, int st) {
    record(s, h, st);
    vx->SetStopProcessing(true);
  };
  vx->Execute();
  EXPECT_EQ(events, (QStringList{"status BEFOREOPEN", "status OPEN", "file a 0", "progress 1/0/1/0",
                                 "status AFTERCLOSE"}));
  EXPECT_EQ(calls(),
            (QStringList{OPEN_LINE(1, 1, 0, 0), "RARSetCallback(#1, callback, UserData=set)",
                         "RARReadHeaderEx(#1) = 0 \"a\"", "RARCloseArchive(#1) = 0"}));
}

TEST_F(RunTest, StopInEachOtherHandler) {
  struct Case {
    const char* name;
    std::function<void(TVxUnRar&, bool& armed)> arm;
    int processCalls;
    int opens;
  };
  const Case cases[] = {
      {"progress",
       [](TVxUnRar& v, bool& armed) {
         auto previous = v.OnProgress;
         v.OnProgress = [&v, &armed, previous](QObject* s, quint32 a, quint32 b, quint32 c,
                                               quint32 d) {
           previous(s, a, b, c, d);
           if (armed) v.SetStopProcessing(true);
         };
       },
       0, 1},
      {"override",
       [](TVxUnRar& v, bool& armed) {
         v.OnOverride = [&v, &armed](QObject*, QString, bool& can) {
           can = true;
           if (armed) v.SetStopProcessing(true);
         };
       },
       1, 1},
      {"comment",
       [](TVxUnRar& v, bool& armed) {
         v.OnComment = [&v, &armed](QObject*, QString) {
           if (armed) v.SetStopProcessing(true);
         };
       },
       0, 1},
      {"status before open (counting pass)",
       [](TVxUnRar& v, bool& armed) {
         v.OnRarStatus = [&v, &armed](QObject*, QString, TRarStatus s) {
           if (armed && s == RAR_ONBEFOREOPEN) v.SetStopProcessing(true);
         };
       },
       0, 1},
  };
  for (const Case& c : cases) {
    ASSERT_NO_FATAL_FAILURE(start(
        QStringLiteral("open cmtstate=1 comment=\"c\"\nentry name=\"a\"\nentry name=\"b\"\n")));
    touch(QStringLiteral("a"));
    vx->SetOverrideEvent(OR_EVENT);
    bool armed = false;
    c.arm(*vx, armed);
    if (QLatin1String(c.name).startsWith(QLatin1String("status"))) vx->SetCanProgress(true);
    armed = true;
    vx->Execute();
    EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), c.processCalls) << c.name;
    EXPECT_EQ(callsStarting(QStringLiteral("RAROpenArchive")).size(), c.opens) << c.name;
    EXPECT_EQ(callsStarting(QStringLiteral("RARCloseArchive")).size(), c.opens) << c.name;
    EXPECT_LE(callsStarting(QStringLiteral("RARReadHeaderEx")).size(), 1) << c.name;
    if (QLatin1String(c.name) == QLatin1String("comment")) {
      EXPECT_TRUE(callsStarting(QStringLiteral("RARSetCallback")).isEmpty())
          << "stopped right after the open: nothing but the close";
    }
    EXPECT_TRUE(vx->StopProcessing());
  }
}

TEST_F(RunTest, StopDuringTheCountMeansTheMainPassNeverOpens) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\nentry name=\"b\"\n")));
  vx->SetCanProgress(true);
  vx->OnRarStatus = [&](QObject*, QString, TRarStatus s) {
    events << QStringLiteral("status %1").arg(s);
    if (s == RAR_ONOPEN) vx->SetStopProcessing(true);
  };
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("RAROpenArchive")).size(), 1);
  EXPECT_EQ(calls().last(), QStringLiteral("RARCloseArchive(#1) = 0"));
  EXPECT_EQ(events, (QStringList{"status 1", "status 0", "status 2"}));
}

TEST_F(RunTest, DataMessagesGoOnWhileNoStopIsAsked) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"a\"\ncallback msg=1 size=3\ncallback msg=1 size=3\n")));
  vx->Execute();
  EXPECT_EQ(
      callsStarting(QStringLiteral("callback")),
      (QStringList{"callback(1, UserData=set, P2=3) = 0", "callback(1, UserData=set, P2=3) = 0"}));
}

TEST_F(RunTest, StopAskedInsideTheLibraryCancelsEveryFollowingMessage) {
  // The password message comes first; its status event asks to stop. The
  // password answer itself is cancelled (the last rule), and so is the data
  // message the library sends anyway.
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(
      "entry name=\"a\"\ncallback msg=2 cancel=0\ncallback msg=1 size=3\nentry name=\"b\"\n")));
  vx->SetPassword(QStringLiteral("pw"));
  vx->OnRarStatus = [&](QObject*, QString message, TRarStatus s) {
    if (s == RAR_ONPASSWORD) vx->SetStopProcessing(true);
    events << QStringLiteral("status %1 %2").arg(s).arg(message);
  };
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            (QStringList{"callback(2, UserData=set, P2=128) = -1 P1=\"pw\"",
                         "callback(1, UserData=set, P2=3) = -1"}));
  EXPECT_EQ(callsStarting(QStringLiteral("RARReadHeaderEx")).size(), 1)
      << "no header after the stop";
  EXPECT_EQ(calls().last(), QStringLiteral("RARCloseArchive(#1) = 0"));
  EXPECT_EQ(events.last(), QStringLiteral("status 2 "));
  EXPECT_EQ(events.filter(QStringLiteral("file ")).size(), 1);
}

// --- exceptions from handlers ----------------------------------------------

TEST_F(RunTest, AnExceptionFromAHandlerReachesTheCallerAfterTheClose) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\nentry name=\"b\"\n")));
  vx->OnFileProcessing = [](QObject*, TVxRARHeaderData, int) { throw std::runtime_error("boom"); };
  EXPECT_THROW(vx->Execute(), std::runtime_error);
  EXPECT_EQ(calls().last(), QStringLiteral("RARCloseArchive(#1) = 0"));
  EXPECT_EQ(events.last(), QStringLiteral("status AFTERCLOSE"));
  EXPECT_TRUE(callsStarting(QStringLiteral("RARProcessFile")).isEmpty());
  // The component is usable again afterwards.
  vx->OnFileProcessing = nullptr;
  fake.clearCalls();
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), 2);
}

TEST_F(RunTest, AnExceptionInsideTheLibraryCallbackNeverUnwindsThroughTheLibrary) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=\"a\"\ncallback msg=2\nentry name=\"b\"\n")));
  vx->OnPassword = [](QObject*, QString&) { throw std::runtime_error("no"); };
  EXPECT_THROW(vx->Execute(), std::runtime_error);
  const QStringList c = calls();
  // The library saw a cancel and returned normally; the error came after the close.
  EXPECT_TRUE(c.contains(QStringLiteral("callback(2, UserData=set, P2=128) = -1 P1=\"\"")))
      << c.join('\n').toStdString();
  EXPECT_TRUE(
      c.contains(QStringLiteral("RARProcessFile(#1, 2, DestPath=\"<dir>\", DestName=null) = 22")));
  EXPECT_EQ(c.last(), QStringLiteral("RARCloseArchive(#1) = 0"));
}

TEST_F(RunTest, AnExceptionDuringTheCountStillClosesTheCountingPass) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("open cmtstate=1 comment=\"c\"\nentry name=\"a\"\n")));
  vx->SetCanProgress(true);
  vx->OnComment = [](QObject*, QString) { throw std::runtime_error("comment"); };
  EXPECT_THROW(vx->Execute(), std::runtime_error);
  EXPECT_EQ(calls(), (QStringList{OPEN_LINE(1, 1, 0, 1), "RARCloseArchive(#1) = 0"}));
}

TEST_F(RunTest, ARunStartedFromInsideARunIsRefused) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\nentry name=\"b\"\n")));
  int nested = 0;
  vx->OnFileProcessing = [&](QObject*, TVxRARHeaderData, int) {
    ++nested;
    vx->Execute();
    if (nested == 2) {
      vx->SetStopProcessing(true);
      vx->Execute();  // must not clear the stop just asked for
    }
  };
  vx->Execute();
  EXPECT_EQ(nested, 2);
  EXPECT_EQ(callsStarting(QStringLiteral("RAROpenArchive")).size(), 1);
  EXPECT_EQ(callsStarting(QStringLiteral("RARProcessFile")).size(), 1);
  // Once the run is over, the next one starts normally.
  vx->OnFileProcessing = nullptr;
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("RAROpenArchive")).size(), 2);
}
