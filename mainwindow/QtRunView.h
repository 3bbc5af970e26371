// The run view over the main window: what runs and file actions show.
#pragma once

#include <QPointer>

#include "run/RunContext.h"

namespace qm::gui {

class TMainForm;
class TProgressForm;

class QtRunView : public RunView {
 public:
  explicit QtRunView(TMainForm& form) : form_(form) {}

  bool IsTestRun() const override;
  void AddTestRunLine(const std::string& line) override;
  void ProcessEvents() override;
  void SetPanels(const std::string& area, const std::string& action,
                 const std::string& spec) override;
  void SetSpecPanel(const std::string& spec) override;
  std::string SpecPanel() const override;
  void ClearPanels() override;
  void LightActionLabel(ActionLabel label) override;
  void SetGaugeMaximum(int maximum) override;
  void SetGaugePosition(int position) override;
  void SetBusyCursor(bool busy) override;
  void SetExtractingVisible(bool visible) override;
  std::unique_ptr<ProgressView> OpenProgress(
      const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  // In an unattended start box texts also go to the run log.
  void ShowError(const std::string& text) override;

 private:
  void LogUnattended(const std::string& text);

  TMainForm& form_;
  // Built for the first transfer that runs long enough to show it, then
  // reused by every later one.
  QPointer<TProgressForm> progress_;
  bool busy_ = false;
  // The file spec as given: the panel's text cannot carry every 8-bit byte.
  std::string spec_;
};

}  // namespace qm::gui
