#include "windows/ProgressUnit.h"

#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace qm::gui {

TProgressForm::TProgressForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("ProgressForm"));
  setWindowTitle(QStringLiteral("Progress"));
  setFixedSize(306, 89);

  Bar = new QProgressBar(this);
  Bar->setObjectName(QStringLiteral("Bar"));
  Bar->setGeometry(16, 16, 274, 18);
  Bar->setRange(0, 100);
  Bar->setValue(0);

  b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
  b_Cancel->setGeometry(115, 48, 75, 25);
  connect(b_Cancel, &QPushButton::clicked, this, [this] { b_CancelClick(); });

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TProgressForm::b_CancelClick() { cancelled = true; }

void TProgressForm::showEvent(QShowEvent* event) {
  cancelled = false;
  QDialog::showEvent(event);
}

}  // namespace qm::gui
