// "Setup": the sysop name, BBS name and host home directory, kept in the
// settings file named after the executable.
// Usage: TSetupDlg dlg(parent, state); ExecModal(&dlg);
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "run/RunContext.h"
#include "settings/IniFile.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace qm {
class IniFile;
}

namespace qm::gui {

class TSetupDlg : public QDialog {
  Q_OBJECT

 public:
  // exeName names the settings file; empty: the running executable's.
  TSetupDlg(QWidget* parent, qm::RunState& state, std::string exeName = {});

  QTabWidget* PageControl1;
  QWidget* General;
  QGroupBox* GroupBox1;
  QLineEdit* e_SysopName;
  QLineEdit* e_BBSName;
  QLineEdit* e_wcHomeDir;
  // Page "Extras": a control per [Extras] key, each extra off unless
  // chosen.
  QWidget* Extras;
  QPushButton* BitBtn1;  // OK
  QPushButton* BitBtn2;  // Cancel

  // The host's server program the home directory must hold.
  static const char* ServerProgramName();
  const std::string& SettingsPath() const { return settingsPath_; }

  void FormShow();
  void BitBtn1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateExtrasPage();
  void ShowExtras();
  void SaveExtras(qm::IniFile& settings);
  void ShowArchivers();

  qm::RunState& state_;
  std::string settingsPath_;
  std::map<std::string, QWidget*> extraControls_;  // by key
  QLabel* archiversInEffect_ = nullptr;
};

// The extras the settings file holds, in effect from now on, the windows'
// code page among them.
void ApplyExtras(qm::RunState& state, const qm::IniFile& settings);

}  // namespace qm::gui
