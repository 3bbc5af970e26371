// A test run started from the command line: its lines go to a stream, one
// per line, while the window's view keeps showing the progress.
#pragma once

#include <ostream>

#include "run/RunContext.h"

namespace qm {

class PrintedTestRun : public RunView {
 public:
  PrintedTestRun(RunView& window, std::ostream& out)
      : window_(window), out_(out) {}

  bool IsTestRun() const override { return true; }
  void AddTestRunLine(const std::string& line) override;

  void ProcessEvents() override { window_.ProcessEvents(); }
  void SetPanels(const std::string& area, const std::string& action,
                 const std::string& spec) override {
    window_.SetPanels(area, action, spec);
  }
  void SetSpecPanel(const std::string& spec) override {
    window_.SetSpecPanel(spec);
  }
  std::string SpecPanel() const override { return window_.SpecPanel(); }
  void ClearPanels() override { window_.ClearPanels(); }
  void LightActionLabel(ActionLabel label) override {
    window_.LightActionLabel(label);
  }
  void SetGaugeMaximum(int maximum) override {
    window_.SetGaugeMaximum(maximum);
  }
  void SetGaugePosition(int position) override {
    window_.SetGaugePosition(position);
  }
  void SetBusyCursor(bool busy) override { window_.SetBusyCursor(busy); }
  void SetExtractingVisible(bool visible) override {
    window_.SetExtractingVisible(visible);
  }
  std::unique_ptr<ProgressView> OpenProgress(
      const std::string& caption) override {
    return window_.OpenProgress(caption);
  }
  void ShowMessage(const std::string& text) override {
    window_.ShowMessage(text);
  }
  void ShowWarning(const std::string& text) override {
    window_.ShowWarning(text);
  }
  void ShowError(const std::string& text) override { window_.ShowError(text); }

 private:
  RunView& window_;
  std::ostream& out_;
};

}  // namespace qm
