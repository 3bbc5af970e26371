// A horizontal bar gauge: a blue bar on the background colour with the
// percentage of position to maximum written in its middle.
#pragma once

#include <QColor>
#include <QWidget>

namespace qm::gui {

class TGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TGauge(QWidget* parent = nullptr);

  int MinValue() const { return minValue_; }
  int MaxValue() const { return maxValue_; }
  int Progress() const { return progress_; }
  void SetMinValue(int value);
  void SetMaxValue(int value);
  void SetProgress(int value);

  // Whole percent of the range covered, 0 for an empty range.
  int PercentDone() const;
  QString Text() const;  // "%d%%"

  QColor ForeColor = QColor(0, 0, 255);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int minValue_ = 0;
  int maxValue_ = 100;
  int progress_ = 0;
};

}  // namespace qm::gui
