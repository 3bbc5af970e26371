#include "windows/PasswordDialog.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace qm::gui {

namespace {

// value * numerator / denominator, rounded to the nearest whole number.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}

}  // namespace

TPasswordDialog::TPasswordDialog(QWidget* parent, const QString& title,
                                 const QString& prompt, const QString& value,
                                 QChar passwordChar)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("PasswordDialog"));
  setWindowTitle(title);

  // Dialog units: a horizontal unit is a quarter of the average letter
  // width, a vertical unit an eighth of the letter height.
  const QFontMetrics metrics(font());
  const QString letters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int unitX = metrics.horizontalAdvance(letters) / 52;
  const int unitY = metrics.height();
  auto x = [unitX](int units) { return MulDiv(units, unitX, 4); };
  auto y = [unitY](int units) { return MulDiv(units, unitY, 8); };

  setFixedSize(x(180), y(63));

  Prompt = new QLabel(prompt, this);
  Prompt->setObjectName(QStringLiteral("Prompt"));
  Prompt->move(x(8), y(8));
  Prompt->adjustSize();

  Edit = new QLineEdit(this);
  Edit->setObjectName(QStringLiteral("Edit"));
  Edit->setGeometry(x(8), y(19), x(164), Edit->sizeHint().height());
  Edit->setMaxLength(255);
  if (!passwordChar.isNull()) {
    Edit->setEchoMode(QLineEdit::Password);
    Edit->setStyleSheet(QStringLiteral("lineedit-password-character: %1")
                            .arg(passwordChar.unicode()));
  }
  Edit->setText(value);
  Edit->selectAll();
  Edit->setFocus();

  b_OK = new QPushButton(QStringLiteral("&OK"), this);
  b_OK->setObjectName(QStringLiteral("b_OK"));
  b_OK->setGeometry(x(38), y(41), x(50), y(14));
  b_OK->setDefault(true);
  connect(b_OK, &QPushButton::clicked, this, &QDialog::accept);

  b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
  b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
  b_Cancel->setGeometry(x(92), y(41), x(50), y(14));
  connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

QString TPasswordDialog::Value() const { return Edit->text(); }

}  // namespace qm::gui
