#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QTest>

#include "test_support.h"
#include "untConfig.h"
#include "warning_catcher.h"

namespace {

// Every clickable control of the window and the address it must open; "FILE"
// stands for the licence file beside the executable.
struct Link {
  const char* control;
  const char* english;
  const char* german;
};

const Link kLinks[] = {
    {"StaticText2", "https://www.brenvale.example/software/quillmoss.php",
     "https://de.brenvale.example/software/quillmoss_deutsch.php"},
    {"Image10", "https://www.brenvale.example/software/quillmoss.php",
     "https://de.brenvale.example/software/quillmoss_deutsch.php"},
    {"Button13", "https://www.brenvale.example/software/quillmoss.php",
     "https://de.brenvale.example/software/quillmoss_deutsch.php"},
    {"Button12", "https://www.brenvale.example/software/quillmoss_faq.php",
     "https://de.brenvale.example/software/quillmoss_faq_deutsch.php"},
    {"Button17", "https://www.brenvale.example/software/quillmoss_update.php?UID=160",
     "https://de.brenvale.example/software/quillmoss_update_deutsch.php?UID=160"},
    {"Button19", "https://www.brenvale.example/gratitude.php",
     "https://de.brenvale.example/dankbarkeit.php?SID=10"},
    {"Image11", "https://www.brenvale.example/gratitude.php",
     "https://de.brenvale.example/dankbarkeit.php?SID=10"},
    {"StaticText5", "https://www.brenvale.example/", "https://de.brenvale.example/"},
    {"StaticText1", "https://studio.brenvale.example/", "https://studio.brenvale.example/"},
    {"Button14", "https://video.example/watch?v=quillmoss-160",
     "https://video.example/watch?v=quillmoss-160"},
    {"Button2", "FILE", "FILE"},
    {"Image3", "https://www.brenvale.example/ebooks.php",
     "https://de.brenvale.example/ebooks_deutsch.php"},
    {"Button4", "https://www.brenvale.example/ebooks.php",
     "https://de.brenvale.example/ebooks_deutsch.php"},
    {"Image4", "https://www.brenvale.example/wallpapers.php",
     "https://de.brenvale.example/hintergrundbilder.php"},
    {"Button5", "https://www.brenvale.example/wallpapers.php",
     "https://de.brenvale.example/hintergrundbilder.php"},
    {"Button7", "https://www.brenvale.example/screensavers.php",
     "https://de.brenvale.example/bildschirmschoner.php"},
    {"Button15", "https://www.brenvale.example/software/download.php",
     "https://de.brenvale.example/software/download_deutsch.php"},
    {"Image5", "https://www.brenvale.example/book.php", "https://de.brenvale.example/buch.php"},
    {"Button8", "https://www.brenvale.example/book.php", "https://de.brenvale.example/buch.php"},
    {"Image12", "https://www.brenvale.example/projects.php",
     "https://de.brenvale.example/projekte.php"},
    {"Button10", "https://www.brenvale.example/projects.php",
     "https://de.brenvale.example/projekte.php"},
    {"Button11", "https://studio.brenvale.example/gallery/",
     "https://studio.brenvale.example/gallery/"},
    {"Button16", "https://www.brenvale.example/contact.php",
     "https://de.brenvale.example/kontakt.php"},
};

// Fires the control's own signal, the way a click reaches the handler.
void fire(QWidget* window, const char* name) {
  QObject* object = window->findChild<QObject*>(QLatin1String(name));
  ASSERT_NE(object, nullptr) << name;
  if (auto* button = qobject_cast<QAbstractButton*>(object)) {
    button->click();
  } else {
    ASSERT_TRUE(QMetaObject::invokeMethod(object, "clicked")) << name;
  }
}

class ConfigLinks : public InstructionsTest {
 protected:
  void checkEveryLink(bool german) {
    WarningCatcher trap;
    auto window = createWindow();
    for (const Link& link : kLinks) {
      opened.clear();
      fire(window.get(), link.control);
      ASSERT_EQ(opened.size(), 1) << link.control << " is not wired to exactly one handler";
      const QString expected = QLatin1String(german ? link.german : link.english);
      if (expected == QLatin1String("FILE")) {
        EXPECT_EQ(opened[0], QUrl::fromLocalFile(sideFolder() + QStringLiteral("License.txt")));
      } else {
        EXPECT_EQ(opened[0].toString(), expected) << link.control;
      }
    }
    EXPECT_TRUE(trap.connectionWarnings().isEmpty())
        << trap.connectionWarnings().join('\n').toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << "links report nothing of their own";
  }
};

TEST_F(ConfigLinks, EnglishWindowOpensTheEnglishPages) {
  checkEveryLink(false);
}

TEST_F(ConfigLinks, GermanWindowOpensTheGermanPages) {
  setMachineValue("1031");
  checkEveryLink(true);
}

TEST_F(ConfigLinks, EveryOtherLanguageOpensTheEnglishPages) {
  setMachineValue("1049");
  checkEveryLink(false);
}

TEST_F(ConfigLinks, RealMouseClickOnALinkLabelOpensIt) {
  auto window = createWindow();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  auto* tabs = window->findChild<QWidget*>(QStringLiteral("PageControl1"));
  QMetaObject::invokeMethod(tabs, "setCurrentIndex", Q_ARG(int, 1));
  auto* label = control<QLabel>(window.get(), "StaticText2");
  QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0].toString(),
            QStringLiteral("https://www.brenvale.example/software/quillmoss.php"));
  // A press that ends outside the label is no click.
  QTest::mousePress(label, Qt::LeftButton, {}, label->rect().center());
  QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(-5, -5));
  EXPECT_EQ(opened.size(), 1);
}

TEST_F(ConfigLinks, MissingLicenceFileShowsNoMessageOfOurOwn) {
  ASSERT_FALSE(QFile::exists(sideFolder() + QStringLiteral("License.txt")));
  auto window = createWindow();
  fire(window.get(), "Button2");
  EXPECT_EQ(opened.size(), 1);
  EXPECT_TRUE(boxes.isEmpty());
}

TEST(ConnectionTrap, CatchesAMisspeltSlot) {
  WarningCatcher trap;
  QObject sender, receiver;
  QObject::connect(&sender, SIGNAL(destroyed()), &receiver, SLOT(noSuchSlot()));
  EXPECT_EQ(trap.connectionWarnings().size(), 1);
}

}  // namespace
