// The component driving our own library on archives made by the project's
// RAR writer.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstring>
#include <memory>

#include "component_on_libunrar.h"
#include "modal.h"
#include "rar_writer.h"

namespace {

class RealLibrary : public ComponentOnLibunrar {
 protected:
  void SetUp() override {
    ComponentOnLibunrar::SetUp();
    if (HasFatalFailure()) return;
    vx->OnFileProcessing = [this](QObject*, TVxRARHeaderData h, int status) {
      listed << QStringLiteral("%1 %2").arg(h.FileName).arg(status);
    };
  }

  QString make(const char* name, const std::vector<rarwriter::Entry>& entries,
               const rarwriter::Options& options = {}) {
    const QString path = dir.filePath(QLatin1String(name));
    rarwriter::write(path.toStdString(), entries, options);
    vx->SetFileName(path);
    return path;
  }

  void write(const QString& relative, const QByteArray& bytes) {
    QFile f(target + QLatin1Char('/') + relative);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  static rarwriter::Entry file(const char* name, const char* data) {
    rarwriter::Entry e;
    e.name = name;
    e.data = data;
    return e;
  }

  QStringList listed;
};

}  // namespace

TEST_F(RealLibrary, ListsAndCountsARar5Archive) {
  rarwriter::Options options;
  options.comment = "a comment";
  make("list.rar", {file("a.txt", "alpha"), file("sub/b.txt", "bravo!")}, options);
  vx->SetMode(VxRAR_LIST);
  vx->SetCanProgress(true);
  QString comment;
  vx->OnComment = [&](QObject*, QString c) { comment = c; };
  vx->Execute();
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(listed, (QStringList{"a.txt 0", "sub/b.txt 0"}));
  EXPECT_EQ(vx->FileCount(), 2u);
  EXPECT_EQ(vx->SizeCount(), 11u);
  EXPECT_EQ(comment, QStringLiteral("a comment"));
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("<missing>")) << "listing writes nothing";
}

TEST_F(RealLibrary, ExtractsARar4ArchiveIntoTheDestination) {
  rarwriter::Options options;
  options.format = rarwriter::Format::Rar4;
  make("x.rar", {file("a.txt", "alpha"), file("deep/er/b.txt", "bravo")}, options);
  vx->SetMode(VxRAR_EXTRACT);
  vx->Execute();
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("alpha"));
  EXPECT_EQ(read(QStringLiteral("deep/er/b.txt")), QByteArray("bravo"));
}

TEST_F(RealLibrary, AnExistingFileUnderEachOption) {
  make("o.rar", {file("a.txt", "new")});
  vx->SetMode(VxRAR_EXTRACT);
  write(QStringLiteral("a.txt"), "old");
  vx->SetOverrideEvent(OR_NEVER);
  vx->Execute();
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("old"));
  int asked = 0;
  vx->OnOverride = [&](QObject*, QString path, bool& can) {
    ++asked;
    EXPECT_EQ(path, target + QStringLiteral("/a.txt"));
    can = false;
  };
  vx->SetOverrideEvent(OR_EVENT);
  vx->Execute();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("old"));
  vx->OnOverride = [&](QObject*, QString, bool& can) { can = true; };
  vx->Execute();
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("new"));
  write(QStringLiteral("a.txt"), "old");
  vx->OnOverride = nullptr;
  vx->SetOverrideEvent(OR_ALWAYS);
  vx->Execute();
  EXPECT_EQ(read(QStringLiteral("a.txt")), QByteArray("new"));
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// The question is about the file the library would write: a backslash in a
// Unix-made name is part of the name, and "." and ".." parts are gone.
TEST_F(RealLibrary, TheOverwriteQuestionIsAboutTheFileWritten) {
  rarwriter::Entry slash = file("a\\b", "new");
  slash.host = rarwriter::HostOS::Unix;
  rarwriter::Entry dots = file("./c/../d.txt", "new");
  dots.host = rarwriter::HostOS::Unix;
  make("n.rar", {slash, dots});
  ASSERT_TRUE(QDir(target).mkpath(QStringLiteral("a")));
  ASSERT_TRUE(QDir(target).mkpath(QStringLiteral("c")));
  const QStringList existing = {QStringLiteral("a/b"), QStringLiteral("a\\b"),
                                QStringLiteral("c/d.txt")};
  for (const QString& f : existing) write(f, "old");
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetOverrideEvent(OR_EVENT);
  QStringList asked;
  vx->OnOverride = [&](QObject*, QString path, bool& can) {
    asked << path;
    can = false;
  };
  vx->Execute();
  EXPECT_EQ(asked,
            (QStringList{target + QStringLiteral("/a\\b"), target + QStringLiteral("/c/d.txt")}));
  for (const QString& f : existing) EXPECT_EQ(read(f), QByteArray("old")) << f.toStdString();
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(RealLibrary, ARenamedSecondVolumeIsAskedForAndFound) {
  std::string big(30000, 'v');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  rarwriter::Entry e;
  e.name = "big.txt";
  e.data = big;
  rarwriter::Options options;
  options.volumeSize = 20000;
  const QString first = dir.filePath(QStringLiteral("set.part1.rar"));
  const auto files = rarwriter::write(first.toStdString(), {e}, options);
  ASSERT_EQ(files.size(), 2u);
  const QString second = QString::fromStdString(files[1]);
  const QString renamed = dir.filePath(QStringLiteral("renamed-second.rar"));
  ASSERT_TRUE(QFile::rename(second, renamed));
  vx->SetFileName(first);
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetPromptForVolumn(true);
  QStringList asked;
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("edtPrompt"));
    asked << edit->text();
    edit->setText(renamed);
    d.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  vx->Execute();
  ASSERT_EQ(asked.size(), 1) << asked.join('\n').toStdString();
  EXPECT_EQ(asked[0], first) << "the prompt starts with the volume read last";
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(read(QStringLiteral("big.txt")), QByteArray::fromStdString(big));
}

TEST_F(RealLibrary, ARefusedVolumeEndsTheRunWithAVolumeError) {
  rarwriter::Entry e;
  e.name = "big.txt";
  e.data = std::string(50000, 'x');
  rarwriter::Options options;
  options.volumeSize = 20000;
  const QString first = dir.filePath(QStringLiteral("gone.part1.rar"));
  const auto files = rarwriter::write(first.toStdString(), {e}, options);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(files[1])));
  vx->SetFileName(first);
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetPromptForVolumn(true);
  platform::setDialogAnswerer(platform::Modal::VolumePrompt,
                              [](QDialog& d) { d.findChild<QPushButton*>("btnCancel")->click(); });
  vx->Execute();
  EXPECT_EQ(errors, QStringList{"15 Volume-Error!"});
  EXPECT_FALSE(QFile::exists(target + QStringLiteral("/big.txt"))) << "no partial file is left";
}

TEST_F(RealLibrary, AnEncryptedArchiveAsksForThePassword) {
  rarwriter::Entry e = file("secret.txt", "the secret");
  e.password = "opensesame";
  ASSERT_NO_THROW(make("enc.rar", {e}));
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetPromptForPass(true);
  int asked = 0;
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    ++asked;
    d.findChild<QLineEdit*>(QStringLiteral("edtPrompt"))->setText(QStringLiteral("opensesame"));
    d.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  QStringList statuses;
  vx->OnRarStatus = [&](QObject*, QString m, TRarStatus s) {
    if (s == RAR_ONPASSWORD) statuses << m;
  };
  vx->Execute();
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(statuses, QStringList{"A password was used"});
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(read(QStringLiteral("secret.txt")), QByteArray("the secret"));
}

TEST_F(RealLibrary, TheEncryptedFlagAloneAlsoAsksForAPassword) {
  rarwriter::Entry e = file("flagged.txt", "plain");
  e.encryptedFlagOnly = true;
  rarwriter::Options options;
  options.format = rarwriter::Format::Rar4;
  make("flag.rar", {e}, options);
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetPromptForPass(true);
  int asked = 0;
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    ++asked;
    d.findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
  });
  vx->Execute();
  EXPECT_EQ(asked, 1) << errors.join('\n').toStdString();
}

// Our library answers the same failure again once a header read has failed
// (here the headers' password is wrong). The failure is said once, with its
// own text, and nothing is listed for it.
TEST_F(RealLibrary, AHeaderReadFailingForGoodIsSaidOnceWithItsOwnText) {
  rarwriter::Options options;
  options.headerPassword = "right";
  make("locked.rar", {file("a.txt", "alpha")}, options);
  vx->SetPassword(QStringLiteral("wrong"));
  vx->SetMode(VxRAR_LIST);
  vx->Execute();
  EXPECT_EQ(listed, QStringList()) << listed.size() << " rows";
  EXPECT_EQ(errors, QStringList{"24 Wrong Password!"}) << errors.join('\n').toStdString();
}

// A window keeps itself alive through OnBusy while one big entry is written:
// raised all along the entry, never twice within the interval.
TEST_F(RealLibrary, BusyIsRaisedThroughoutALargeEntryAtMostOncePerInterval) {
  rarwriter::Entry big;
  big.name = "big.bin";
  big.sourceSize = std::uint64_t{256} << 20;
  big.source = [](std::uint64_t, char* out, std::size_t length) { std::memset(out, 'q', length); };
  make("big.rar", {big});
  vx->SetMode(VxRAR_EXTRACT);
  QElapsedTimer clock;
  QList<qint64> raised;
  vx->OnBusy = [&](QObject* sender) {
    EXPECT_EQ(sender, vx.get());
    raised << clock.elapsed();
  };
  clock.start();
  vx->Execute();
  const qint64 took = clock.elapsed();
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(QFileInfo(target + QStringLiteral("/big.bin")).size(), qint64{256} << 20);
  EXPECT_EQ(listed, QStringList{"big.bin 0"}) << "the run's own events are unchanged";
  const qint64 interval = TVxUnRar::kBusyInterval;
  EXPECT_GE(raised.size(), took / (3 * interval)) << took << " ms";
  EXPECT_LE(raised.size(), took / interval + 1) << took << " ms";
  for (qsizetype i = 1; i < raised.size(); ++i)
    EXPECT_GE(raised[i] - raised[i - 1], interval) << "raise " << i;
}
