#include "configtool/AdvancedUnit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>
#include <QVBoxLayout>

#include "config/AreaPaths.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

namespace qm::gui {

namespace {

QLineEdit* ReadOnlyEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setReadOnly(true);
  return edit;
}

}  // namespace

const QStringList& TAdvancedForm::MemoLines() {
  static const QStringList lines{
      QStringLiteral("This Advanced configuration allows you to change the "
                     "drive letter of this file area so "),
      QStringLiteral("you can run this program from another computer on your "
                     "network.  For example,"),
      QStringLiteral("if all your file areas are on the same machine as WIN "
                     "Server on your D: drive, you "),
      QStringLiteral("can MAP a drive on another machine to say T: so that a "
                     "file area's path looks like "),
      QStringLiteral("T:\\WinApps\\Games instead of D:\\WinApps\\Games.  "),
      QString(),
      QStringLiteral("This gives you the ability to run this program from "
                     "another machine so it can still work with "),
      QStringLiteral("the files on the WIN Server machine."),
  };
  return lines;
}

TAdvancedForm::TAdvancedForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AdvancedForm"));
  setWindowTitle(QStringLiteral("Advanced File Area Config"));

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setPlainText(MemoLines().join(QLatin1Char('\n')));
  QPalette face = Memo1->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  Memo1->setPalette(face);
  // The whole explanation shows without scrolling.
  const QFontMetrics metrics = Memo1->fontMetrics();
  int widest = 0;
  for (const QString& line : MemoLines())
    widest = std::max(widest, metrics.horizontalAdvance(line));
  const int chrome =
      2 * (Memo1->frameWidth() + int(Memo1->document()->documentMargin())) + 8;
  Memo1->setFixedHeight(metrics.lineSpacing() * 8 + chrome);
  Memo1->setMinimumWidth(widest + chrome);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  e_RealPath = ReadOnlyEdit("e_RealPath", this);
  e_DriveLetter = new QLineEdit(this);
  e_DriveLetter->setObjectName(QStringLiteral("e_DriveLetter"));
  e_DriveLetter->setMaxLength(1);
  e_DriveLetter->setFixedWidth(24);
  e_ResultingPath = ReadOnlyEdit("e_ResultingPath", this);

  b_Ok = new QPushButton(QStringLiteral("&OK"), this);
  b_Ok->setObjectName(QStringLiteral("b_Ok"));
  b_Ok->setDefault(true);
  b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  b_Cancel->setObjectName(QStringLiteral("b_Cancel"));

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("Real Path:"), this), 0, 0);
  fields->addWidget(e_RealPath, 0, 1, 1, 2);
  fields->addWidget(new QLabel(QStringLiteral("Assign Drive Letter:"), this), 1,
                    0);
  auto* letterRow = new QHBoxLayout;
  letterRow->addWidget(e_DriveLetter);
  letterRow->addWidget(
      new QLabel(QStringLiteral("Make sure you map the proper drive."), this));
  letterRow->addStretch();
  fields->addLayout(letterRow, 1, 1, 1, 2);
  fields->addWidget(
      new QLabel(QStringLiteral("(Mapped) Resulting Path:"), this), 2, 0);
  fields->addWidget(e_ResultingPath, 2, 1, 1, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(b_Ok);
  buttons->addWidget(b_Cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Memo1);
  layout->addLayout(fields);
  layout->addLayout(buttons);

  connect(e_DriveLetter, &QLineEdit::textChanged, this,
          &TAdvancedForm::e_DriveLetterChange);
  connect(b_Ok, &QPushButton::clicked, this, &TAdvancedForm::b_OkClick);
  connect(b_Cancel, &QPushButton::clicked, this, &TAdvancedForm::b_CancelClick);
}

void TAdvancedForm::e_DriveLetterChange() {
  const QString upper = e_DriveLetter->text().toUpper();
  if (upper != e_DriveLetter->text()) {
    e_DriveLetter->setText(upper);  // runs this handler once more
    return;
  }
  e_ResultingPath->setText(
      ToText(qm::MapDriveLetter(ToBytes(upper), ToBytes(e_RealPath->text()))));
}

void TAdvancedForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) CentreOnScreen(this);
}

void TAdvancedForm::b_OkClick() { accept(); }

void TAdvancedForm::b_CancelClick() { reject(); }

}  // namespace qm::gui
