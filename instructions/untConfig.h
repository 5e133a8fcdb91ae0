// The instructions window: the three ways of use in the user's language, the
// About, Help and link pages. Shown when the program starts without an archive;
// created hidden beside the extraction window otherwise.
#pragma once

#include <memory>

#include <QWidget>

#include "link_targets.h"

namespace Ui {
class frmConfig;
}

class TfrmConfig : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmConfig(QWidget* parent = nullptr);
  ~TfrmConfig() override;

  // Settled during creation; never changes afterwards.
  int languageId() const { return LanguageId; }
  const instructions::LinkTargets& linkTargets() const { return links; }

 private slots:
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

 private:
  void FormCreate();
  void FormDestroy();
  void loadFormPictures();
  void prepareTextBoxes();
  void layOutAboutText();
  // False when the file is not present; its step is then skipped.
  bool loadHelpFile(const QString& name);
  void readLanguage();
  void applyLanguage();
  void applyGerman();
  void showInstructionLines(const QStringList& lines);
  void openLink(const QString& target);

  std::unique_ptr<Ui::frmConfig> ui;
  int LanguageId = 1033;
  instructions::LinkTargets links;
  bool centred = false;
};
