// The progress window of one file transfer.
#pragma once

#include <QDialog>

class QProgressBar;
class QPushButton;

namespace qm::gui {

class TProgressForm : public QDialog {
  Q_OBJECT
 public:
  explicit TProgressForm(QWidget* parent = nullptr);

  QProgressBar* Bar;
  QPushButton* b_Cancel;
  bool cancelled = false;

  void b_CancelClick();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
};

}  // namespace qm::gui
