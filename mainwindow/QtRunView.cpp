#include "mainwindow/QtRunView.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "mainwindow/MainUnit.h"
#include "run/RunLog.h"
#include "windows/Dialogs.h"
#include "windows/Gauge.h"
#include "windows/ProgressUnit.h"
#include "windows/TextBytes.h"

namespace qm::gui {

namespace {

const QColor kGray(0x80, 0x80, 0x80);
const QColor kBlue(0, 0, 0xFF);

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

void SetPanel(QLabel* panel, const std::string& text) {
  panel->setText(ToText(text));
  panel->repaint();
}

// A transfer shorter than this shows no window: building and painting one
// would cost more than the copy.
constexpr qint64 kShowAfterMs = 300;

class QtProgressView : public ProgressView {
 public:
  QtProgressView(QWidget* owner, QPointer<TProgressForm>& form,
                 const std::string& caption)
      : owner_(owner), form_(form), caption_(caption) {
    running_.start();
    sinceEvents_.start();
  }
  ~QtProgressView() override {
    if (shown_ && form_) form_->hide();
  }
  void SetMaximum(int maximum) override {
    maximum_ = maximum;
    if (shown_) form_->Bar->setRange(0, maximum);
  }
  // Repainting the bar for every block would cost more than the copy.
  void SetPosition(int position) override {
    position_ = position;
    if (!Shown() || (position < maximum_ && sincePaint_.elapsed() < 50)) return;
    form_->Bar->setValue(position);
    sincePaint_.start();
  }
  bool Cancelled() override {
    // Lets a press of the window's "&Cancel" through, a few times a second
    // so that the copy is not slowed down.
    if (sinceEvents_.elapsed() >= 20) {
      Shown();
      QCoreApplication::processEvents();
      sinceEvents_.start();
    }
    return shown_ && form_ && form_->cancelled;
  }

 private:
  bool Shown() {
    if (shown_) return form_ != nullptr;
    if (running_.elapsed() < kShowAfterMs) return false;
    if (!form_) form_ = new TProgressForm(owner_);
    form_->setWindowTitle(ToText(caption_));
    form_->Bar->setRange(0, maximum_);
    form_->Bar->setValue(position_);
    form_->show();
    QCoreApplication::processEvents();
    shown_ = true;
    sincePaint_.start();
    return true;
  }

  QWidget* owner_;
  QPointer<TProgressForm>& form_;
  std::string caption_;
  int maximum_ = 100;
  int position_ = 0;
  bool shown_ = false;
  QElapsedTimer running_;
  QElapsedTimer sinceEvents_;
  QElapsedTimer sincePaint_;
};

}  // namespace

bool QtRunView::IsTestRun() const { return form_.cb_TestRun->isChecked(); }

void QtRunView::AddTestRunLine(const std::string& line) {
  form_.memo_TestRun->appendPlainText(ToText(line));
}

void QtRunView::ProcessEvents() { QCoreApplication::processEvents(); }

void QtRunView::SetPanels(const std::string& area, const std::string& action,
                          const std::string& spec) {
  SetPanel(form_.pan_FileArea, area);
  SetPanel(form_.pan_Action, action);
  SetSpecPanel(spec);
}

void QtRunView::SetSpecPanel(const std::string& spec) {
  spec_ = spec;
  SetPanel(form_.pan_Spec, spec);
}

std::string QtRunView::SpecPanel() const { return spec_; }

void QtRunView::ClearPanels() {
  SetPanel(form_.pan_FileArea, {});
  SetPanel(form_.pan_Action, {});
  SetSpecPanel({});
}

void QtRunView::LightActionLabel(ActionLabel label) {
  SetTextColor(form_.l_Add, label == ActionLabel::Add ? kBlue : kGray);
  SetTextColor(form_.l_Delete, label == ActionLabel::Delete ? kBlue : kGray);
  SetTextColor(form_.l_Move, label == ActionLabel::Move ? kBlue : kGray);
  form_.gb_Progress->repaint();
}

void QtRunView::SetGaugeMaximum(int maximum) {
  form_.Gauge1->SetMaxValue(maximum);
}

void QtRunView::SetGaugePosition(int position) {
  form_.Gauge1->SetProgress(position);
}

void QtRunView::SetBusyCursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

void QtRunView::SetExtractingVisible(bool visible) {
  form_.L_Extracting->setVisible(visible);
  form_.gb_Progress->repaint();
}

std::unique_ptr<ProgressView> QtRunView::OpenProgress(
    const std::string& caption) {
  return std::make_unique<QtProgressView>(&form_, progress_, caption);
}

void QtRunView::LogUnattended(const std::string& text) {
  // No one reads boxes in an unattended start. The box that says the log
  // could not be written would only fail the same way again.
  if (Seam().unattended && text != kRunLogIoError)
    LogRunError(form_.Context(), text);
}

void QtRunView::ShowMessage(const std::string& text) {
  gui::ShowMessage(&form_, ToText(text));
  LogUnattended(text);
}

void QtRunView::ShowWarning(const std::string& text) {
  gui::ShowWarning(&form_, ToText(text));
  LogUnattended(text);
}

void QtRunView::ShowError(const std::string& text) {
  gui::ShowErrorBox(&form_, ToText(text));
  LogUnattended(text);
}

}  // namespace qm::gui
