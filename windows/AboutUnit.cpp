#include "windows/AboutUnit.h"

#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "windows/Dialogs.h"
#include "windows/SplashUnit.h"

namespace qm::gui {

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral("About Quillmar"));
  setFixedSize(298, 262);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 282, 150);

  Image1 = new QLabel(Bevel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(6, 6, 270, 138);
  Image1->setPixmap(ProductPicture(Image1->size()));

  Label1 = new QLabel(QStringLiteral("Version 1.1"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  QFont serif(QStringLiteral("Liberation Serif"));
  serif.setStyleHint(QFont::Serif);
  serif.setPointSize(10);
  serif.setBold(true);
  Label1->setFont(serif);
  Label1->setGeometry(8, 166, 282, 20);
  Label1->setAlignment(Qt::AlignCenter);

  Label2 = new QLabel(QStringLiteral("Written by ") + QLatin1String(kMakerName),
                      this);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(8, 190, 282, 16);
  Label2->setAlignment(Qt::AlignCenter);

  Label3 = new QLabel(QLatin1String(kWebAddress), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(8, 208, 282, 16);
  Label3->setAlignment(Qt::AlignCenter);
  QPalette palette = Label3->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
  Label3->setPalette(palette);
  QFont link = Label3->font();
  link.setUnderline(true);
  Label3->setFont(link);
  Label3->setCursor(Qt::UpArrowCursor);
  Label3->installEventFilter(this);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(111, 230, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TAboutForm::Label3Click() {
  if (ShellOpen(QLatin1String(kWebAddress)) <= 32)
    ShowMessage(this, QLatin1String(kBrowserFailed));
}

void TAboutForm::Button1Click() { accept(); }

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Label3Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace qm::gui
