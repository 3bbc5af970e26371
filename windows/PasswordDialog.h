// The modal password prompt, laid out in dialog units of its font.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qm::gui {

class TPasswordDialog : public QDialog {
  Q_OBJECT
 public:
  // passwordChar 0 shows the text as typed.
  TPasswordDialog(QWidget* parent, const QString& title, const QString& prompt,
                  const QString& value, QChar passwordChar = QLatin1Char('*'));

  QString Value() const;

  QLabel* Prompt;
  QLineEdit* Edit;
  QPushButton* b_OK;
  QPushButton* b_Cancel;
};

}  // namespace qm::gui
