#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>

#include "languages.h"
#include "test_support.h"
#include "untConfig.h"
#include "warning_catcher.h"

namespace {

const QStringList kEnglish = {
    QStringLiteral("To unrar a file choose one of the three following methods:"),
    QStringLiteral("--> Drag 'n' drop the compressed file on the picture above"),
    QStringLiteral("--> Right-click the compressed file and choose 'Extract!' in the context menu"),
    QStringLiteral("--> Double-click the compressed file")};

const QStringList kGerman = {
    QStringLiteral(u"Zum Entpacken einer RAR-Datei wählen Sie eine der folgenden Methoden:"),
    QStringLiteral(u"--> Ziehen Sie die Datei auf das Bild über dieser Anleitung"),
    QStringLiteral(u"--> Öffnen Sie das Kontext-Menü der Datei und wählen Sie \"Extract!\""),
    QStringLiteral(u"--> Doppelklicken Sie die RAR-Datei")};

const QStringList kFrench = {
    QStringLiteral(u"Pour décomprimer un fichier-RAR choisissez une méthode parmi les méthodes "
                   u"suivantes:"),
    QStringLiteral(u"--> Tirez le fichier sur l’image au dessus de ces indications"),
    QStringLiteral(u"--> Ouvrez le menu de raccourci (touche droite de la souris) et choisissez "
                   u"\"Extract!\""),
    QStringLiteral(u"--> Faites un double-click sur le fichier comprimé")};

QImage picture(QWidget* window, const char* name) {
  auto* label = control<QLabel>(window, name);
  return label ? label->pixmap().toImage() : QImage();
}

QString tabText(QWidget* window, const char* page) {
  auto* tabs = control<QTabWidget>(window, "PageControl1");
  return tabs->tabText(tabs->indexOf(control<QWidget>(window, page)));
}

QString helpText(QWidget* window) {
  return control<QTextEdit>(window, "RichEdit1")->toPlainText();
}

using ConfigWindow = InstructionsTest;

TEST_F(ConfigWindow, BuiltAsTheFormDescribes) {
  WarningCatcher trap;
  auto window = createWindow();
  EXPECT_TRUE(trap.connectionWarnings().isEmpty())
      << trap.connectionWarnings().join('\n').toStdString();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillmoss"));
  EXPECT_EQ(window->size(), QSize(513, 363));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->acceptDrops());

  auto* tabs = control<QTabWidget>(window.get(), "PageControl1");
  const char* pages[] = {"t3", "t1", "TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"};
  const char* captions[] = {"Quillmoss", "About", "Gifts", "Thanks", "Appreciation", "Help"};
  ASSERT_EQ(tabs->count(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(tabs->widget(i)->objectName(), QLatin1String(pages[i]));
    EXPECT_EQ(tabs->tabText(i), QLatin1String(captions[i]));
  }
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(instructionLines(window.get()), kEnglish);
  EXPECT_EQ(helpText(window.get()),
            QStringLiteral("Error: The core help file is missing.\n\nPlease reinstall.\n"));
  EXPECT_EQ(window->languageId(), 1033);
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ConfigWindow, EveryAboutLineShowsWhole) {
  auto window = createWindow();
  auto* about = control<QTextEdit>(window.get(), "Memo1");
  QTextDocument* document = about->document();
  const qreal room = about->contentsRect().width() - 2 * document->documentMargin();
  int lines = 0;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next(), ++lines) {
    document->documentLayout()->blockBoundingRect(block);
    ASSERT_GT(block.layout()->lineCount(), 0);
    EXPECT_LE(block.layout()->lineAt(0).naturalTextWidth(), room) << block.text().toStdString();
  }
  EXPECT_EQ(lines, 20);
  // The extraction engine is our own library, on nothing else.
  EXPECT_TRUE(
      about->toPlainText().contains(QStringLiteral("\nlibunrar: the Quillmoss developers\n")));
}

TEST_F(ConfigWindow, PicturesComeWithTheFormAtTheirSizes) {
  auto window = createWindow();
  EXPECT_EQ(picture(window.get(), "Image2").size(), QSize(484, 242));
  EXPECT_EQ(picture(window.get(), "Image300"), picture(window.get(), "Image2"))
      << "the built-in picture is kept for switching a skin off";
  EXPECT_EQ(picture(window.get(), "Image15").size(), QSize(23, 4));
  EXPECT_EQ(picture(window.get(), "LanguageImage").size(), QSize(484, 63));
  EXPECT_TRUE(control<QLabel>(window.get(), "Image15")->isVisibleTo(window.get()));
  int holders = 0;
  for (const instructions::Language& language : instructions::allLanguages()) {
    if (language.kind != instructions::LanguageKind::Picture) continue;
    ++holders;
    auto* holder = control<QLabel>(window.get(), language.holder);
    ASSERT_NE(holder, nullptr);
    EXPECT_FALSE(holder->isVisibleTo(window.get())) << language.holder;
    EXPECT_EQ(holder->pixmap().size(), QSize(484, 63)) << language.holder;
    EXPECT_NE(holder->pixmap().toImage(), picture(window.get(), "LanguageImage"))
        << language.holder << " must show its own language, not the Arabic one";
  }
  EXPECT_EQ(holders, 22);
  for (const char* name : {"Image10", "Image11", "Image3", "Image4", "Image5", "Image12"}) {
    EXPECT_FALSE(picture(window.get(), name).isNull()) << name;
  }
}

TEST_F(ConfigWindow, NoValueGivesEnglishAndWritesNothing) {
  auto window = createWindow();
  EXPECT_EQ(window->languageId(), 1033);
  EXPECT_EQ(instructionLines(window.get()), kEnglish);
  EXPECT_TRUE(QFile::exists(userFile()));
  EXPECT_TRUE(QFile::exists(machineFile()));
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ConfigWindow, NoValueTakesTheDesktopsLanguageAndWritesNothing) {
  auto window = createWindow(QLocale(QStringLiteral("fr_CA")));
  EXPECT_EQ(window->languageId(), 1036);
  EXPECT_EQ(instructionLines(window.get()), kFrench);
  EXPECT_FALSE(readFile(machineFile()).contains("Language"));
  EXPECT_FALSE(readFile(userFile()).contains("Language"));
  // A stored value wins over the desktop, English too.
  setUserValue("1033");
  EXPECT_EQ(instructionLines(createWindow(QLocale(QStringLiteral("fr_FR"))).get()), kEnglish);
}

TEST_F(ConfigWindow, MachineWideFrenchOverPerUserGerman) {
  setMachineValue("1036");
  setUserValue("1031");
  auto window = createWindow();
  EXPECT_EQ(window->languageId(), 1036);
  EXPECT_EQ(instructionLines(window.get()), kFrench);
  EXPECT_EQ(control<QPushButton>(window.get(), "Button2")->text(), QStringLiteral("License..."));
  EXPECT_EQ(window->linkTargets().DonatePageUrl,
            QStringLiteral("https://www.brenvale.example/gratitude.php"));
  EXPECT_FALSE(readFile(machineFile()).contains("1031"));
}

TEST_F(ConfigWindow, PerUserGermanIsAppliedAndCopied) {
  setUserValue("1031");
  putSideFile(QStringLiteral("CoreHelpEN.dat"), "<html><body><p>English help</p></body></html>");
  putSideFile(QStringLiteral("CoreHelpDE.dat"), "<html><body><p>Deutsche Hilfe</p></body></html>");
  {
    auto window = createWindow();
    EXPECT_EQ(window->languageId(), 1031);
    EXPECT_EQ(instructionLines(window.get()), kGerman);
    EXPECT_EQ(helpText(window.get()), QStringLiteral("Deutsche Hilfe"));
    EXPECT_EQ(control<QPushButton>(window.get(), "Button2")->text(), QStringLiteral("Lizenz..."));
    EXPECT_EQ(control<QPushButton>(window.get(), "Button19")->text(), QStringLiteral("Spenden..."));
    EXPECT_EQ(control<QPushButton>(window.get(), "Button17")->text(), QStringLiteral("Update..."));
    EXPECT_EQ(tabText(window.get(), "TabSheet1"), QStringLiteral("Geschenke"));
    EXPECT_EQ(tabText(window.get(), "TabSheet2"), QStringLiteral("Dankbarkeit"));
    EXPECT_EQ(tabText(window.get(), "TabSheet3"), QStringLiteral(u"Wertschätzung"));
    EXPECT_EQ(tabText(window.get(), "TabSheet4"), QStringLiteral("Hilfe"));
    EXPECT_EQ(tabText(window.get(), "t3"), QStringLiteral("Quillmoss"));
    EXPECT_EQ(tabText(window.get(), "t1"), QStringLiteral("About"));
    EXPECT_EQ(control<QPushButton>(window.get(), "Button4")->text(),
              QStringLiteral("Gratis E-Books..."));
    EXPECT_EQ(window->linkTargets().UpdatePageUrl,
              QStringLiteral("https://de.brenvale.example/software/"
                             "quillmoss_update_deutsch.php?UID=160"));
  }
  EXPECT_TRUE(readFile(machineFile()).contains("Installer%20Language=1031"));
  // A later start reads it from the machine-wide store.
  QFile::remove(userFile());
  auto later = createWindow();
  EXPECT_EQ(later->languageId(), 1031);
  EXPECT_EQ(instructionLines(later.get()), kGerman);
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ConfigWindow, LuxembourgGermanIsGerman) {
  setMachineValue("4103");
  auto window = createWindow();
  EXPECT_EQ(instructionLines(window.get()), kGerman);
  EXPECT_EQ(tabText(window.get(), "TabSheet4"), QStringLiteral("Hilfe"));
  EXPECT_TRUE(window->linkTargets().ProductPageUrl.endsWith("quillmoss_deutsch.php"));
}

TEST_F(ConfigWindow, NumberOutsideTheTableGivesEnglishButIsStillCopied) {
  setUserValue("2055");
  auto window = createWindow();
  EXPECT_EQ(window->languageId(), 2055);
  EXPECT_EQ(instructionLines(window.get()), kEnglish);
  EXPECT_EQ(tabText(window.get(), "TabSheet4"), QStringLiteral("Help"));
  EXPECT_TRUE(readFile(machineFile()).contains("Installer%20Language=2055"));
}

TEST_F(ConfigWindow, BasqueShowsTheSpanishText) {
  setMachineValue("1069");
  auto window = createWindow();
  EXPECT_EQ(
      instructionLines(window.get()).first(),
      QStringLiteral(u"Para descomprimir un archivo elija uno de los siguientes tres métodos:"));
}

TEST_F(ConfigWindow, EveryTextLanguageShowsItsOwnFourLines) {
  for (const instructions::Language& language : instructions::allLanguages()) {
    if (language.kind != instructions::LanguageKind::Text) continue;
    for (int id : language.ids) {
      if (id == 0) continue;
      setMachineValue(QByteArray::number(id));
      auto window = createWindow();
      EXPECT_EQ(instructionLines(window.get()), language.instructionLines()) << id;
      EXPECT_TRUE(control<QWidget>(window.get(), "Memo2")->isVisibleTo(window.get()));
    }
  }
}

TEST_F(ConfigWindow, PictureLanguageMovesTheLanguagePictureUp) {
  setMachineValue("1049");
  auto window = createWindow();
  auto* memo = control<QWidget>(window.get(), "Memo2");
  auto* shown = control<QLabel>(window.get(), "LanguageImage");
  EXPECT_FALSE(memo->isVisibleTo(window.get()));
  EXPECT_TRUE(shown->isVisibleTo(window.get()));
  EXPECT_EQ(shown->y(), 253);
  EXPECT_EQ(shown->pixmap().toImage(), picture(window.get(), "LanguageImageRussian"));
  EXPECT_EQ(instructionLines(window.get()), kEnglish) << "the hidden box keeps its text";
  EXPECT_EQ(shown->accessibleName(), kEnglish.join(QLatin1Char(' '))) << "what a reader says";
}

TEST_F(ConfigWindow, ArabicKeepsItsBuiltInPictureWhereItStands) {
  auto plain = createWindow();
  const QImage arabic = picture(plain.get(), "LanguageImage");
  plain.reset();
  setMachineValue("1025");
  auto window = createWindow();
  auto* shown = control<QLabel>(window.get(), "LanguageImage");
  EXPECT_FALSE(control<QWidget>(window.get(), "Memo2")->isVisibleTo(window.get()));
  EXPECT_TRUE(shown->isVisibleTo(window.get()));
  EXPECT_EQ(shown->y(), 256);
  EXPECT_EQ(shown->pixmap().toImage(), arabic);
}

TEST_F(ConfigWindow, CroatianSerbianAndBosnianShareOnePicture) {
  QList<QImage> shown;
  for (const char* id : {"1050", "2074", "5146"}) {
    setMachineValue(id);
    auto window = createWindow();
    shown << picture(window.get(), "LanguageImage");
    EXPECT_EQ(shown.last(), picture(window.get(), "LanguageImageBosnianCroatianSerbian")) << id;
  }
}

TEST_F(ConfigWindow, TextThatIsNotANumberIsReportedAndTheWindowStaysEnglish) {
  setMachineValue("abc");
  auto window = createWindow();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Quillmoss"));
  EXPECT_EQ(boxes[0].text, QStringLiteral(u"'abc' ist kein gültiger Integerwert."));
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Error);
  EXPECT_EQ(instructionLines(window.get()), kEnglish);
}

TEST_F(ConfigWindow, RefusedCopyIsReportedAndThePerUserLanguageNotApplied) {
  makeMachineStoreUnwritable();
  setUserValue("1031");
  putSideFile(QStringLiteral("CoreHelpDE.dat"), "<p>Deutsche Hilfe</p>");
  auto window = createWindow();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].text, QStringLiteral(u"Fehler beim Setzen der Daten für 'Installer Language'"))
      << "no full stop after a closing quotation mark";
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Error);
  EXPECT_EQ(instructionLines(window.get()), kEnglish);
  EXPECT_EQ(control<QPushButton>(window.get(), "Button2")->text(), QStringLiteral("License..."));
  EXPECT_NE(helpText(window.get()), QStringLiteral("Deutsche Hilfe"));
  EXPECT_TRUE(window->linkTargets().ProductPageUrl.startsWith("https://www.brenvale.example/"));
}

TEST_F(ConfigWindow, WrongTypeAndUnreadableStoreAreReported) {
  setMachineValue("1031, 1036");
  createWindow();
  writeFile(machineFile(), "[General]\nInstaller%20Language=1031\n[Broken\n");
  createWindow();
  ASSERT_EQ(boxes.size(), 2);
  EXPECT_EQ(boxes[0].text, QStringLiteral(u"Ungültiger Datentyp für 'Installer Language'"));
  EXPECT_EQ(boxes[1].text, QStringLiteral(u"Fehler beim Holen der Daten für 'Installer Language'"));
}

TEST_F(ConfigWindow, GermanWithOnlyTheEnglishHelpKeepsTheEnglishHelp) {
  setMachineValue("1031");
  putSideFile(QStringLiteral("CoreHelpEN.dat"), "<html><body><p>English help</p></body></html>");
  auto window = createWindow();
  EXPECT_EQ(helpText(window.get()), QStringLiteral("English help"));
  EXPECT_EQ(instructionLines(window.get()), kGerman);
  EXPECT_EQ(control<QPushButton>(window.get(), "Button19")->text(), QStringLiteral("Spenden..."));
}

TEST_F(ConfigWindow, HelpFileIsShownAsRichTextAndOtherLanguagesKeepTheEnglishOne) {
  putSideFile(QStringLiteral("CoreHelpEN.dat"), "<h3>Skins</h3><p>Drop a <b>picture</b></p>");
  putSideFile(QStringLiteral("CoreHelpDE.dat"), "<p>Deutsche Hilfe</p>");
  setMachineValue("1036");
  auto window = createWindow();
  EXPECT_EQ(helpText(window.get()), QStringLiteral("Skins\nDrop a picture"));
}

TEST_F(ConfigWindow, ShippedHelpFilesAreRealHtmlHelp) {
  for (const char* name : {"CoreHelpEN.dat", "CoreHelpDE.dat"}) {
    const QByteArray help = readFile(QStringLiteral(QUILLMOSS_BIN_DIR "/") + QLatin1String(name));
    ASSERT_FALSE(help.isEmpty()) << name << " is not beside the program";
    EXPECT_TRUE(help.contains("<html>")) << name;
    for (const char* topic :
         {"folder.txt", "silent.txt", "password.txt", "skin.bmp", "noskin.bmp", "shutdown",
          "Installer Language", "Extract!", "Overwrite all files!", "Next Archive:"}) {
      EXPECT_TRUE(help.contains(topic)) << name << " says nothing about " << topic;
    }
  }
  EXPECT_TRUE(readFile(QStringLiteral(QUILLMOSS_BIN_DIR "/License.txt")).startsWith("MIT License"));
}

TEST_F(ConfigWindow, SkinPresentAtCreationReplacesTheBuiltInPicture) {
  QImage skin(300, 120, QImage::Format_RGB32);
  skin.fill(QColor(10, 200, 30));
  ASSERT_TRUE(skin.save(sideFolder() + QStringLiteral("skin.bmp"), "BMP"));
  setMachineValue("1031");
  auto window = createWindow();
  EXPECT_EQ(picture(window.get(), "Image2"), skin);
  EXPECT_FALSE(control<QLabel>(window.get(), "Image15")->isVisibleTo(window.get()));
  EXPECT_EQ(picture(window.get(), "Image300").size(), QSize(484, 242))
      << "the built-in picture was kept before the skin replaced it";
  EXPECT_EQ(instructionLines(window.get()), kGerman);
}

TEST_F(ConfigWindow, UnreadableSkinAtCreationLeavesTheBuiltInPictureSilently) {
  putSideFile(QStringLiteral("skin.bmp"), "BM this is no bitmap");
  setMachineValue("1036");
  auto window = createWindow();
  EXPECT_EQ(picture(window.get(), "Image2").size(), QSize(484, 242));
  EXPECT_TRUE(control<QLabel>(window.get(), "Image15")->isVisibleTo(window.get()));
  EXPECT_TRUE(boxes.isEmpty());
  EXPECT_EQ(instructionLines(window.get()), kFrench) << "the remaining set-up still ran";
}

}  // namespace
