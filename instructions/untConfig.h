// The instructions window: the three ways of use in the user's language, the
// About, Help and link pages. Shown when the program starts without an archive;
// created hidden beside the extraction window otherwise.
#pragma once

#include <memory>

#include <QWidget>

class QLocale;

#include "link_targets.h"

namespace Ui {
class frmConfig;
}

class TfrmConfig : public QWidget {
  Q_OBJECT
 public:
  // The desktop's language stands in when no language is stored.
  explicit TfrmConfig(const QLocale& desktop, QWidget* parent = nullptr);
  ~TfrmConfig() override;

  // Settled during creation; never changes afterwards.
  int languageId() const { return m_LanguageId; }
  const instructions::LinkTargets& linkTargets() const { return m_links; }

  // Files dropped onto the window, in the drop's order: archives are extracted
  // one after another by copies of the program, pictures become the skin.
  void WMDropFiles(const QStringList& paths);

 private slots:
  void Image2DblClick();
  void StaticText2Click();
  void Button12Click();
  void Button17Click();
  void Button19Click();
  void Image11Click();
  void StaticText5Click();
  void StaticText1Click();
  void Button14Click();
  void Button2Click();
  void Image3Click();
  void Image4Click();
  void Image5Click();
  void Image12Click();
  void Button4Click();
  void Button5Click();
  void Button7Click();
  void Button8Click();
  void Button10Click();
  void Button11Click();
  void Button15Click();
  void Button16Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FormCreate(int desktopLanguage);
  void FormDestroy();
  void loadFormPictures();
  void prepareTextBoxes();
  void layOutAboutText();
  // False when the file is not present; its step is then skipped.
  bool loadHelpFile(const QString& name);
  void readLanguage(int desktopLanguage);
  void applyLanguage();
  void namePictureLinks();
  void applyGerman();
  void showInstructionLines(const QStringList& lines);
  void openLink(const QString& target);
  // False when the copy could not be started; waits without a time limit.
  bool RunAndWait(const QString& program, const QString& archive);
  void LoadSkinPicture(const QString& path);
  void showSkin(const QPixmap& skin);
  void showBuiltInPicture();

  std::unique_ptr<Ui::frmConfig> ui;
  int m_LanguageId = 1033;
  instructions::LinkTargets m_links;
  bool m_centred = false;
};
