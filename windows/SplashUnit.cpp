#include "windows/SplashUnit.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace qm::gui {

QPixmap ProductPicture(const QSize& size) {
  QPixmap pixmap(size);
  const qreal w = size.width();
  const qreal h = size.height();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, w, h);
  sky.setColorAt(0, QColor(16, 32, 96));
  sky.setColorAt(1, QColor(24, 120, 136));
  p.fillRect(QRectF(0, 0, w, h), sky);

  // A stack of file cards, the areas the program keeps.
  for (int i = 0; i < 3; ++i) {
    const QRectF card(w * (0.08 + 0.05 * i), h * (0.42 - 0.08 * i), w * 0.36,
                      h * 0.44);
    p.setPen(QPen(QColor(40, 40, 60), 1));
    p.setBrush(QColor(236 - 20 * i, 220 - 10 * i, 160));
    p.drawRoundedRect(card, 3, 3);
    p.setPen(QPen(QColor(150, 130, 90), 1));
    for (int line = 1; line <= 4; ++line) {
      const qreal y = card.top() + card.height() * line / 5.5;
      p.drawLine(QPointF(card.left() + 6, y), QPointF(card.right() - 6, y));
    }
  }

  // The quill: a feather leaning over the cards.
  QPainterPath feather;
  const QPointF tip(w * 0.30, h * 0.92);
  feather.moveTo(tip);
  feather.cubicTo(w * 0.40, h * 0.55, w * 0.55, h * 0.20, w * 0.70, h * 0.06);
  feather.cubicTo(w * 0.66, h * 0.30, w * 0.56, h * 0.58, tip.x(), tip.y());
  p.setPen(QPen(QColor(200, 200, 220), 1));
  p.setBrush(QColor(250, 250, 255));
  p.drawPath(feather);
  p.setPen(QPen(QColor(120, 120, 150), 1.2));
  p.drawLine(tip, QPointF(w * 0.66, h * 0.12));

  QFont font(QStringLiteral("Liberation Serif"));
  font.setBold(true);
  font.setPixelSize(qMax(10, static_cast<int>(h * 0.2)));
  p.setFont(font);
  p.setPen(QColor(255, 255, 255));
  p.drawText(QRectF(w * 0.50, h * 0.60, w * 0.48, h * 0.34),
             Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Quillmar"));
  return pixmap;
}

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text,
                  const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(geometry);
  return label;
}

void Paint(QLabel* label, const QColor& color, bool bold) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
}

}  // namespace

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("SplashForm"));
  setWindowTitle(QStringLiteral("Quillmar"));
  setFixedSize(281, 261);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setGeometry(0, 0, 281, 261);

  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setLineWidth(2);
  Panel2->setGeometry(10, 10, 261, 146);

  Image1 = new QLabel(Panel2);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(3, 3, 255, 140);
  Image1->setPixmap(ProductPicture(Image1->size()));

  l_version = MakeLabel(Panel1, "l_version", QString(), {12, 164, 257, 16});
  Label1 =
      MakeLabel(Panel1, "Label1", QStringLiteral("For more information goto:"),
                {12, 186, 257, 16});
  Label2 = MakeLabel(Panel1, "Label2", QLatin1String(kWebAddress),
                     {12, 202, 257, 16});
  Paint(Label2, QColor(0, 0, 255), true);
  Label3 =
      MakeLabel(Panel1, "Label3",
                QStringLiteral("Logging into Wildcat NETServer... stand by."),
                {4, 232, 273, 18});
  Label3->setAlignment(Qt::AlignCenter);
  Paint(Label3, QColor(128, 0, 128), true);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

void TSplashForm::showEvent(QShowEvent* event) {
  l_version->setText(QStringLiteral("Version: 1.1"));
  QWidget::showEvent(event);
}

}  // namespace qm::gui
