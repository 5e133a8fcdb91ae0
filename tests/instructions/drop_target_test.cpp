#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <fstream>
#include <iterator>
#include <string>

#include "drop_files.h"
#include "jpeg_image.h"
#include "rar_writer.h"
#include "side_files.h"
#include "test_support.h"
#include "untConfig.h"

namespace {

using instructions::classifyDroppedFile;
using instructions::DroppedKind;

TEST(DroppedFileKind, ByTheTailOfTheFileName) {
  EXPECT_EQ(classifyDroppedFile("/d/a.rar"), DroppedKind::Archive);
  EXPECT_EQ(classifyDroppedFile("/d/A.RAR"), DroppedKind::Archive);
  EXPECT_EQ(classifyDroppedFile("/d/x.part1.rar"), DroppedKind::Archive);
  EXPECT_EQ(classifyDroppedFile("/d/rar"), DroppedKind::Archive) << "a name of exactly three";
  EXPECT_EQ(classifyDroppedFile("/d/xrar"), DroppedKind::Ignored);
  EXPECT_EQ(classifyDroppedFile("/d/a.r00"), DroppedKind::Ignored);
  EXPECT_EQ(classifyDroppedFile("/d/a.jpg"), DroppedKind::JpegPicture);
  EXPECT_EQ(classifyDroppedFile("/d/A.JPG"), DroppedKind::JpegPicture);
  EXPECT_EQ(classifyDroppedFile("/d/a.jpeg"), DroppedKind::Ignored);
  EXPECT_EQ(classifyDroppedFile("/d/a.bmp"), DroppedKind::BitmapPicture);
  EXPECT_EQ(classifyDroppedFile("/d/bmp"), DroppedKind::BitmapPicture);
  EXPECT_EQ(classifyDroppedFile("/d.rar/readme"), DroppedKind::Ignored) << "the folder is no tail";
  EXPECT_EQ(classifyDroppedFile(QStringLiteral(u"/d/a.RAR")), DroppedKind::Archive);
  EXPECT_EQ(classifyDroppedFile(QStringLiteral(u"/d/a.rİr")), DroppedKind::Ignored)
      << "only A to Z are lower-cased";
}

TEST(DroppedFileKind, OnlyLocalFilesInTheirOrder) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/t/b.rar"), QUrl("https://host.example/a.rar"),
                QUrl::fromLocalFile("/t/a.jpg")});
  EXPECT_EQ(instructions::droppedLocalPaths(&data), QStringList({"/t/b.rar", "/t/a.jpg"}));
  QMimeData text;
  text.setText("/t/b.rar");
  EXPECT_TRUE(instructions::droppedLocalPaths(&text).isEmpty());
}

// Writes "hidden" and "shown" into the stand-in's log, so that the log tells
// whether the copies ran while the window was away.
class VisibilityLog : public QObject {
 public:
  explicit VisibilityLog(QString path) : path_(std::move(path)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) append("hidden");
    if (event->type() == QEvent::Show) append("shown");
    return false;
  }

 private:
  void append(const char* line) {
    QFile file(path_);
    if (file.open(QIODevice::Append)) file.write(QByteArray(line) + "\n");
  }
  QString path_;
};

class DropTarget : public InstructionsTest {
 protected:
  void SetUp() override {
    InstructionsTest::SetUp();
    instructions::setProgramPathForTests(QStringLiteral(QUILLMOSS_DROP_STANDIN));
    qputenv("QM_DROP_LOG", QFile::encodeName(logPath()));
    qputenv("QM_DROP_SKIN", QFile::encodeName(skinPath()));
    ASSERT_TRUE(QDir().mkpath(drops()));
  }
  void TearDown() override {
    instructions::setProgramPathForTests(QString());
    qunsetenv("QM_DROP_LOG");
    qunsetenv("QM_DROP_SKIN");
    InstructionsTest::TearDown();
  }

  QString logPath() const { return dir.path() + QStringLiteral("/drop.log"); }
  QString skinPath() const { return sideFolder() + QStringLiteral("skin.bmp"); }
  QString parkedPath() const { return sideFolder() + QStringLiteral("noskin.bmp"); }
  QString drops() const { return dir.path() + QStringLiteral("/drops/"); }
  QStringList log() const {
    return QString::fromUtf8(readFile(logPath())).split('\n', Qt::SkipEmptyParts);
  }
  QString standinFolder() const {
    const QString program = QStringLiteral(QUILLMOSS_DROP_STANDIN);
    return program.left(program.lastIndexOf('/'));
  }
  QString runLine(const QString& archive, const char* skin = "no") const {
    return QStringLiteral("run [%1] cwd=%2 skin=%3").arg(archive, standinFolder(), skin);
  }

  QString file(const QString& name, const QByteArray& content = "content") {
    writeFile(drops() + name, content);
    return drops() + name;
  }
  QString picture(const QString& name, const char* form) {
    return file(name, readFile(QStringLiteral(QUILLMOSS_SOURCE_DIR "/forms/") +
                               QLatin1String(form) + QStringLiteral(".jpg")));
  }
  static QImage jpeg(const char* form) {
    return platform::JpegImage::load(QStringLiteral(QUILLMOSS_SOURCE_DIR "/forms/") +
                                     QLatin1String(form) + QStringLiteral(".jpg"));
  }

  std::unique_ptr<TfrmConfig> shownWindow() {
    auto window = createWindow();
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->installEventFilter(&visibility);
    return window;
  }

  // A drop as the desktop delivers it: drag enter, then the drop itself.
  bool drop(QWidget* window, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint where(200, 100);
    QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &dropped);
    return dropped.isAccepted();
  }
  bool dropFiles(QWidget* window, const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    return drop(window, urls);
  }

  static QImage shown(QWidget* window) {
    return control<QLabel>(window, "Image2")->pixmap().toImage();
  }
  static QImage builtIn(QWidget* window) {
    return control<QLabel>(window, "Image300")->pixmap().toImage();
  }
  static bool markVisible(QWidget* window) {
    return control<QLabel>(window, "Image15")->isVisibleTo(window);
  }
  static void doubleClick(QWidget* window) {
    auto* image = control<QLabel>(window, "Image2");
    QTest::mouseDClick(image, Qt::LeftButton, {}, QPoint(10, 10));
  }

  VisibilityLog visibility{dir.path() + QStringLiteral("/drop.log")};
};

TEST_F(DropTarget, OneArchiveRunsACopyWhileTheWindowIsAway) {
  auto window = shownWindow();
  const QString archive = file("backup.rar");
  ASSERT_TRUE(dropFiles(window.get(), {archive}));
  EXPECT_EQ(log(), QStringList({"hidden", runLine(archive), "shown"}));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, ArchiveNamesAreRecognisedByTheirTailOnly) {
  auto window = shownWindow();
  QDir().mkpath(drops() + "sub");
  const QString upper = file("BACKUP.RAR");
  const QString bare = file("sub/rar");
  const QString part = file("set.part1.rar");
  const QStringList ignored = {file("set.r00"), file("photo.jpeg"), file("rar.txt")};
  ASSERT_TRUE(dropFiles(window.get(), QStringList{upper, bare} + ignored + QStringList{part}));
  EXPECT_EQ(log(), QStringList({"hidden", runLine(upper), runLine(bare), runLine(part), "shown"}));
  EXPECT_FALSE(QFile::exists(skinPath()));
}

TEST_F(DropTarget, ArchivesAndAPictureAreHandledInTheDropsOrder) {
  auto window = shownWindow();
  const QString first = file("first.rar");
  const QString second = file("second.rar");
  const QString skin = picture("skin.jpg", "Image3");
  ASSERT_TRUE(dropFiles(window.get(), {first, skin, second}));
  EXPECT_EQ(log(), QStringList({"hidden", runLine(first, "no"), runLine(second, "yes"), "shown"}));
  EXPECT_EQ(shown(window.get()), jpeg("Image3"));
  EXPECT_FALSE(markVisible(window.get()));
}

TEST_F(DropTarget, VanishedFilesFoldersAndOtherUrlsAreSkippedSilently) {
  auto window = shownWindow();
  QDir().mkpath(drops() + "folder.rar");
  const QString kept = file("kept.rar");
  ASSERT_TRUE(dropFiles(
      window.get(), {drops() + "gone.rar", drops() + "folder.rar", drops() + "gone.jpg", kept}));
  EXPECT_EQ(log(), QStringList({"hidden", runLine(kept), "shown"}));
  // Nothing local at all: the window does not take the drop.
  EXPECT_FALSE(drop(window.get(), {QUrl("https://host.example/a.rar")}));
  EXPECT_EQ(log().size(), 3);
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, CopyThatCannotStartIsPassedOver) {
  instructions::setProgramPathForTests(dir.path() + "/no-such-program");
  auto window = shownWindow();
  ASSERT_TRUE(dropFiles(window.get(), {file("a.rar"), picture("p.jpg", "Image4")}));
  EXPECT_EQ(log(), QStringList({"hidden", "shown"}));
  EXPECT_EQ(shown(window.get()), jpeg("Image4")) << "the next dropped file was still handled";
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, DroppedJpegIsStoredAsBitmapSkin) {
  auto window = shownWindow();
  writeFile(parkedPath(), "parked skin");
  ASSERT_TRUE(dropFiles(window.get(), {picture("holiday.JPG", "Image5")}));
  ASSERT_TRUE(QFile::exists(skinPath()));
  EXPECT_TRUE(readFile(skinPath()).startsWith("BM")) << "a Windows bitmap file";
  QImage stored(skinPath(), "BMP");
  EXPECT_EQ(stored.convertToFormat(QImage::Format_RGB32), jpeg("Image5"));
  EXPECT_EQ(shown(window.get()), jpeg("Image5"));
  EXPECT_FALSE(markVisible(window.get()));
  EXPECT_EQ(readFile(parkedPath()), QByteArray("parked skin")) << "a parked skin survives";
}

TEST_F(DropTarget, DroppedBitmapBecomesTheSkin) {
  auto window = shownWindow();
  QImage image(120, 40, QImage::Format_RGB32);
  image.fill(QColor(200, 40, 90));
  ASSERT_TRUE(image.save(drops() + "pink.bmp", "BMP"));
  ASSERT_TRUE(dropFiles(window.get(), {drops() + "pink.bmp"}));
  EXPECT_EQ(shown(window.get()), image);
  EXPECT_FALSE(markVisible(window.get()));
}

TEST_F(DropTarget, PictureOfTheWrongKindOrBrokenChangesNothing) {
  auto window = shownWindow();
  const QImage before = shown(window.get());
  const QByteArray photo = readFile(QStringLiteral(QUILLMOSS_SOURCE_DIR "/forms/Image3.jpg"));
  const QString fake = file("really-a-jpeg.bmp", photo);
  const QString broken = file("broken.jpg", photo.left(photo.size() / 2));
  ASSERT_TRUE(dropFiles(window.get(), {fake, broken}));
  EXPECT_FALSE(QFile::exists(skinPath()));
  EXPECT_EQ(shown(window.get()), before);
  EXPECT_TRUE(markVisible(window.get()));
  EXPECT_TRUE(boxes.isEmpty());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(DropTarget, SkinThatCannotBeSavedChangesNothingOnScreen) {
  auto window = shownWindow();
  ASSERT_TRUE(QDir().mkpath(skinPath())) << "a folder where the skin file would go";
  const QImage before = shown(window.get());
  ASSERT_TRUE(dropFiles(window.get(), {picture("p.jpg", "Image3")}));
  EXPECT_EQ(shown(window.get()), before);
  EXPECT_TRUE(markVisible(window.get()));
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, LargePictureIsCutOffNeverScaled) {
  auto window = shownWindow();
  const QImage large = jpeg("Image11");
  ASSERT_GT(large.width(), 484);
  ASSERT_GT(large.height(), 248);
  ASSERT_TRUE(dropFiles(window.get(), {picture("large.jpg", "Image11")}));
  auto* image = control<QLabel>(window.get(), "Image2");
  EXPECT_EQ(image->size(), QSize(484, 248));
  const QImage drawn = image->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(drawn, large.copy(0, 0, 484, 248)) << "drawn from the top-left corner at its size";
}

TEST_F(DropTarget, DoubleClicksParkAndRestoreTheSkin) {
  auto window = shownWindow();
  ASSERT_TRUE(dropFiles(window.get(), {picture("one.jpg", "Image3")}));
  const QByteArray first = readFile(skinPath());

  doubleClick(window.get());  // off
  EXPECT_FALSE(QFile::exists(skinPath()));
  EXPECT_EQ(readFile(parkedPath()), first);
  EXPECT_EQ(shown(window.get()), builtIn(window.get()));
  EXPECT_TRUE(markVisible(window.get()));

  doubleClick(window.get());  // on
  EXPECT_EQ(readFile(skinPath()), first);
  EXPECT_FALSE(QFile::exists(parkedPath()));
  EXPECT_EQ(shown(window.get()), jpeg("Image3"));
  EXPECT_FALSE(markVisible(window.get()));

  doubleClick(window.get());  // off again, then a new picture while parked
  ASSERT_TRUE(dropFiles(window.get(), {picture("two.jpg", "Image4")}));
  const QByteArray second = readFile(skinPath());
  EXPECT_EQ(readFile(parkedPath()), first);
  EXPECT_EQ(shown(window.get()), jpeg("Image4"));

  doubleClick(window.get());  // off: the old parked skin gives way to the new one
  EXPECT_FALSE(QFile::exists(skinPath()));
  EXPECT_EQ(readFile(parkedPath()), second);
  EXPECT_EQ(shown(window.get()), builtIn(window.get()));
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, SkinFoundAtCreationIsParkedByTheFirstDoubleClick) {
  QImage image(50, 30, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  ASSERT_TRUE(image.save(skinPath(), "BMP"));
  auto window = shownWindow();
  EXPECT_EQ(shown(window.get()), image);
  doubleClick(window.get());
  EXPECT_TRUE(QFile::exists(parkedPath()));
  EXPECT_EQ(shown(window.get()), builtIn(window.get()));
  EXPECT_EQ(builtIn(window.get()).size(), QSize(484, 242));
}

TEST_F(DropTarget, DoubleClickWithNoSkinFileDoesNothing) {
  auto window = shownWindow();
  const QImage before = shown(window.get());
  doubleClick(window.get());
  EXPECT_EQ(shown(window.get()), before);
  EXPECT_TRUE(markVisible(window.get()));
  EXPECT_FALSE(QFile::exists(skinPath()));
  EXPECT_FALSE(QFile::exists(parkedPath()));
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(DropTarget, UnreadableParkedSkinIsReportedWhenSwitchedOn) {
  auto window = shownWindow();
  writeFile(parkedPath(), "BM but not a bitmap");
  doubleClick(window.get());
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Quillmoss"));
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Error);
  EXPECT_FALSE(boxes[0].text.isEmpty()) << "the toolkit's text for the failure";
  EXPECT_TRUE(QFile::exists(skinPath())) << "the rename stays done";
  EXPECT_FALSE(QFile::exists(parkedPath()));
  EXPECT_EQ(shown(window.get()), builtIn(window.get()));
  EXPECT_TRUE(markVisible(window.get()));
}

TEST_F(DropTarget, RealProgramExtractsADroppedArchiveBesideIt) {
  const QString program = QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss");
  ASSERT_TRUE(QFile::exists(program));
  instructions::setProgramPathForTests(program);
  const QString archive = drops() + "project.rar";
  rarwriter::Entry notes;
  notes.name = "notes.txt";
  notes.data = "first file\n";
  rarwriter::Entry readme;
  readme.name = "docs/readme.md";
  readme.data = "# second file\n";
  rarwriter::write(archive.toStdString(), {notes, readme});
  auto window = shownWindow();
  ASSERT_TRUE(dropFiles(window.get(), {archive}));
  EXPECT_EQ(readFile(drops() + "notes.txt"), QByteArray("first file\n"));
  EXPECT_EQ(readFile(drops() + "docs/readme.md"), QByteArray("# second file\n"));
  EXPECT_EQ(log(), QStringList({"hidden", "shown"}));
  EXPECT_TRUE(window->isVisible());
}

}  // namespace

// A name written by an older system, not UTF-8: its bytes reach the copy and
// the library, and the entries land beside it.
TEST_F(DropTarget, RealProgramExtractsADroppedArchiveWhoseNameIsNoUtf8) {
  const QString program = QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss");
  ASSERT_TRUE(QFile::exists(program));
  instructions::setProgramPathForTests(program);
  const QByteArray folder = QFile::encodeName(drops()) + "d\xe9j\xe0";
  ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
  const QByteArray archive = folder + "/caf\xe9.rar";
  // QTemporaryDir cannot remove what it cannot name.
  struct Cleanup {
    QByteArray folder, archive;
    ~Cleanup() {
      ::unlink((folder + "/notes.txt").constData());
      ::unlink(archive.constData());
      ::rmdir(folder.constData());
    }
  } cleanup{folder, archive};
  rarwriter::Entry notes;
  notes.name = "notes.txt";
  notes.data = "first file\n";
  rarwriter::write(archive.toStdString(), {notes});
  auto window = shownWindow();
  ASSERT_TRUE(drop(window.get(), {QUrl::fromEncoded("file://" + archive.toPercentEncoding("/"))}));
  std::ifstream extracted((folder + "/notes.txt").toStdString());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(extracted), {}), "first file\n");
  EXPECT_TRUE(boxes.isEmpty());
}
