// "Quillmar Configuration Tool": lists the host's file areas, edits their
// actions and opens and saves configuration files.
// Usage: TCfgForm form(mainWindow, state); qm::gui::ExecModal(&form);
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <vector>

#include "config/ConfigFile.h"
#include "run/RunContext.h"

class QAction;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm::gui {

class ToxForm;

class TCfgForm : public QDialog {
  Q_OBJECT

 public:
  TCfgForm(QWidget* parent, qm::RunState& state);
  ~TCfgForm() override;

  QLineEdit* e_CurrentFile;
  QPushButton* Button1;
  QTreeWidget* FileListView;
  QStatusBar* StatusBar1;
  QMenuBar* MainMenu1;
  QAction* New1;
  QAction* Open1;
  QAction* Save1;
  QAction* SaveAs1;
  QAction* Close1;
  QAction* SelectAll1;
  QAction* EditSelected1;
  QAction* QuillmarManual1;
  QAction* AboutQuillmar1;
  ToxForm* oxForm1;

  // Column captions (also the settings keys) and their built-in widths.
  static const QStringList& ColumnCaptions();
  static const std::vector<int>& ColumnWidths();
  static const QString& FileDialogFilter();

  bool Modified() const { return modified_; }
  // The list's rows as entries, in display order.
  std::vector<qm::AreaConfigEntry> Entries() const;
  void AddRow(const qm::AreaConfigEntry& entry);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  // The menu, button and list handlers, reached through their signals.
  void FormShow();
  bool FormCloseQuery();  // true: the window may close
  void FormClose();
  void New1Click();
  void Open1Click() { OpenConfigFile(); }
  void Save1Click();
  void SaveAs1Click();
  void Close1Click();
  void SelectAll1Click();
  void EditEntries();
  void QuillmarManual1Click();
  void AboutQuillmar1Click();
  void FileListViewMouseDown();

  void FillFromHost();
  void OpenConfigFile();
  bool SaveToFile(const QString& fileName);

  bool SavePrompt();  // true: go on
  void SetRow(QTreeWidgetItem* item, const qm::AreaConfigEntry& entry);
  qm::AreaConfigEntry RowEntry(const QTreeWidgetItem* item) const;
  std::string SettingsPath() const;
  // Where the file dialogs start: configuration files are kept there.
  QString ProgramDirText() const;

  qm::RunState& state_;
  std::unique_ptr<qm::RecordFile> recordFile_;
  bool modified_ = false;
};

}  // namespace qm::gui
