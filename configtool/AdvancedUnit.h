// "Advanced File Area Config": maps an area's drive letter to a letter of
// this machine. Usage: TAdvancedForm dlg(parent); fill e_RealPath,
// e_DriveLetter, e_ResultingPath; ExecModal(&dlg); read e_ResultingPath.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qm::gui {

class TAdvancedForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAdvancedForm(QWidget* parent = nullptr);

  QPlainTextEdit* Memo1;
  QLineEdit* e_RealPath;
  QLineEdit* e_DriveLetter;
  QLineEdit* e_ResultingPath;
  QPushButton* b_Ok;
  QPushButton* b_Cancel;

  // The explanation Memo1 shows, line by line.
  static const QStringList& MemoLines();

  void e_DriveLetterChange();
  void b_OkClick();
  void b_CancelClick();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace qm::gui
