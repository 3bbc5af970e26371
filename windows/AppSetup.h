// "Setup": the sysop name, BBS name and host home directory, kept in the
// settings file named after the executable.
// Usage: TSetupDlg dlg(parent, state); ExecModal(&dlg);
#pragma once

#include <QDialog>
#include <string>

#include "run/RunContext.h"
#include "settings/IniFile.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
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
  // Page "Extras": duplicate uploads, the upload check and DOS text, each
  // off unless chosen.
  QWidget* Extras;
  QComboBox* cb_Duplicates;  // Off, Report, Refuse
  QLineEdit* e_UploadCheck;
  QSpinBox* e_UploadCheckSeconds;
  QComboBox* cb_Charset;  // "Windows-1252" or "CP437"
  QPushButton* BitBtn1;   // OK
  QPushButton* BitBtn2;   // Cancel

  // The host's server program the home directory must hold.
  static const char* ServerProgramName();
  const std::string& SettingsPath() const { return settingsPath_; }

  void FormShow();
  void BitBtn1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildCharsetControl(QWidget* page);
  void LoadCharset(const qm::IniFile& settings);
  void SaveCharset(qm::IniFile& settings);
  void CreateExtrasPage();
  void ShowExtras();
  void SaveExtras(qm::IniFile& settings);

  qm::RunState& state_;
  std::string settingsPath_;
};

// The code page of the windows and the web listings, from now on.
void ApplyCharset(qm::RunState& state, qm::Charset charset);

}  // namespace qm::gui
