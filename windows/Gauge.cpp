#include "windows/Gauge.h"

#include <QPainter>
#include <QStyleOptionFrame>
#include <algorithm>

namespace qm::gui {

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::SetMinValue(int value) {
  if (value == minValue_) return;
  minValue_ = value;
  update();
}

void TGauge::SetMaxValue(int value) {
  if (value == maxValue_) return;
  maxValue_ = value;
  update();
}

void TGauge::SetProgress(int value) {
  if (value == progress_) return;
  progress_ = value;
  update();
}

int TGauge::PercentDone() const {
  // A run over a host without areas sets the maximum to 0.
  const long long range = static_cast<long long>(maxValue_) - minValue_;
  if (range <= 0) return 0;
  const long long done = static_cast<long long>(progress_) - minValue_;
  return static_cast<int>(std::clamp(done * 100 / range, 0LL, 100LL));
}

QString TGauge::Text() const {
  return QString::asprintf("%d%%", PercentDone());
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect outer = rect();
  painter.fillRect(outer, palette().color(QPalette::Window));

  QStyleOptionFrame frame;
  frame.initFrom(this);
  frame.rect = outer;
  frame.lineWidth = 1;
  frame.state |= QStyle::State_Sunken;
  style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);

  const QRect inner = outer.adjusted(1, 1, -1, -1);
  const int barWidth = inner.width() * PercentDone() / 100;
  const QRect bar(inner.left(), inner.top(), barWidth, inner.height());
  painter.fillRect(bar, ForeColor);

  // The text reads over both parts: dark on the background, light on the
  // bar.
  const QString text = Text();
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setClipRect(inner.adjusted(barWidth, 0, 0, 0));
  painter.drawText(inner, Qt::AlignCenter, text);
  painter.setPen(palette().color(QPalette::Window));
  painter.setClipRect(bar);
  painter.drawText(inner, Qt::AlignCenter, text);
}

}  // namespace qm::gui
