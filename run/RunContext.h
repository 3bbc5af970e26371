// What a run and its file actions share: the process-wide run state and the
// small view through which they reach the main window. Core code sees only
// this interface, so runs are tested without windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "run/EntryActions.h"

class TUnzipFile;

namespace qm {

struct ExtrasSettings;     // run/Extras.h
struct UploadExtras;       // run/UploadExtras.h
struct DescriptionExtras;  // run/DescriptionExtras.h
struct ListingExtras;      // run/ListingExtras.h
struct RunCounts;          // run/RunCounts.h

// The parts of the run state kept out of line, so that only the code that
// reads one includes its header. Assigning moves their content: the
// references stay bound to this state's own parts.
class RunStateParts {
 public:
  RunStateParts();
  ~RunStateParts();
  RunStateParts(const RunStateParts&) = delete;
  RunStateParts& operator=(RunStateParts&& other) noexcept;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;

 public:
  // What a run reads besides RunSetup: the extras, from the settings file.
  ExtrasSettings& extras;
  // The same extras by concern, for the code that reads only one.
  UploadExtras& uploadExtras;
  DescriptionExtras& descriptionExtras;
  ListingExtras& listingExtras;
  // What it reports besides RunProgress: what the current unattended run
  // changed and logged.
  RunCounts& counts;
};

// What a run reads: where it works and how.
struct RunSetup {
  std::string programDir;  // executable's directory, trailing separator
  // The state folder (settings, jobs, logs, Temp/), trailing separator;
  // empty: the program directory (see StateFolder).
  std::string stateDir;
  std::string homeDir;          // host home directory in effect
  std::string commandLineFile;  // full path of the command-line file
  std::string configDir;        // directory of the configuration file run
  std::string logBaseName;      // run log base name (a full path)
  bool autoRun = false;         // unattended: no boxes, problems logged
};

// What a run reports as it goes.
struct RunProgress {
  bool cancelRequest = false;
  bool stoppedOnError = false;  // a run ended early on an error
  uint64_t runStarted = 0;      // local file time at the start of the run
};

struct RunListings;
struct WebListings;
class UploadScreen;
class ArchiverRun;

// The process-wide run state. It is moved (a window test starts each case
// afresh), never copied. Below, what the actions keep for the rest of a
// run, each of a type its own module defines and makes at first use.
struct RunState : RunStateParts, RunSetup, RunProgress {
  // The "All Files List" outputs made and where the List entries write.
  std::shared_ptr<RunListings> listings;
  // The web "All Files List" documents of the run, written when it ends
  // (CompleteWebListings).
  std::shared_ptr<WebListings> webListings;
  // The extras' work of the current run (the duplicate index, the upload
  // check); made at the first add that needs it.
  std::shared_ptr<UploadScreen> uploadScreen;
  // The archivers' part of the run (actions/ExternalArchive.h).
  std::shared_ptr<ArchiverRun> archivers;
};

// Where the run's settings, jobs named without a directory, logs, Temp/ and
// duplicate index are: the program directory unless a state folder is set.
inline const std::string& StateFolder(const RunSetup& state) {
  return state.stateDir.empty() ? state.programDir : state.stateDir;
}

// The progress window of one transfer.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void SetMaximum(int maximum) = 0;
  virtual void SetPosition(int position) = 0;
  virtual bool Cancelled() = 0;  // the window's "&Cancel" was pressed
};

class RunView {
 public:
  virtual ~RunView() = default;

  // Test run: the state of the "Test Run" check box, read when acting.
  virtual bool IsTestRun() const = 0;
  virtual void AddTestRunLine(const std::string& line) = 0;

  // Lets the window handle pending events (a Cancel press among them).
  virtual void ProcessEvents() = 0;

  virtual void SetPanels(const std::string& area, const std::string& action,
                         const std::string& spec) = 0;
  virtual void SetSpecPanel(const std::string& spec) = 0;
  virtual std::string SpecPanel() const = 0;
  virtual void ClearPanels() = 0;
  // Paints every action label gray, then the given one blue.
  virtual void LightActionLabel(ActionLabel label) = 0;
  virtual void SetGaugeMaximum(int maximum) = 0;
  virtual void SetGaugePosition(int position) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void SetExtractingVisible(bool visible) = 0;

  virtual std::unique_ptr<ProgressView> OpenProgress(
      const std::string& caption) = 0;

  // Boxes. An unattended view writes them to standard error instead.
  virtual void ShowMessage(const std::string& text) = 0;  // plain box
  virtual void ShowWarning(const std::string& text) = 0;  // warning box
  virtual void ShowError(const std::string& text) = 0;    // error box
};

struct RunContext {
  RunState& state;
  RunView& view;
  TUnzipFile* unzip = nullptr;  // null: no descriptions from archives
};

}  // namespace qm
