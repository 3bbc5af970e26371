// What a run and its file actions share: the process-wide run state and the
// small view through which they reach the main window. Core code sees only
// this interface, so runs are tested without windows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "run/EntryActions.h"
#include "run/Extras.h"

class TUnzipFile;

namespace qm {

// Where a cancel stopped an unattended run.
struct CancelPoint {
  std::string configFile;  // the configuration file being run
  int entry = 0;           // the last entry begun; 0: none had begun
  int entries = 0;         // records in the file
};

// What a run changed and what it logged, for the line an unattended run
// prints at its end.
struct RunCounts {
  int added = 0;
  int deleted = 0;
  int moved = 0;
  int copied = 0;
  int listings = 0;
  int problems = 0;               // entries written to a run log
  std::vector<std::string> logs;  // run logs written, in order of first use
  // Counts of the extras that are on; unset while an extra is off.
  std::optional<int> duplicatesRefused, duplicatesReported, uploadChecksRefused;
  int unlogged = 0;  // entries no log took: they went to standard error
  std::vector<std::string> unwritableLogs;  // in order of first failure
  std::optional<CancelPoint> cancelled;
};

class UploadScreen;
class ArchiverRun;
struct WebListings;

struct RunState {
  std::string programDir;  // executable's directory, trailing separator
  // The state folder (settings, jobs, logs, Temp/), trailing separator;
  // empty: the program directory (see StateFolder).
  std::string stateDir;
  std::string homeDir;          // host home directory in effect
  std::string commandLineFile;  // full path of the command-line file
  std::string configDir;        // directory of the configuration file run
  std::string logBaseName;      // run log base name (a full path)
  bool cancelRequest = false;
  bool autoRun = false;         // unattended: no boxes, problems logged
  bool stoppedOnError = false;  // a run ended early on an error
  RunCounts counts;             // of the current unattended run
  // The "All Files List" outputs created this run.
  std::set<std::string> allFilesListed;
  // Where the List entries of the configuration file being run write, so
  // that its "Scan For New" never takes a listing for an upload.
  std::vector<std::string> listingOutputs;
  // The web "All Files List" documents of the run, written when it ends
  // (CompleteWebListings); an output not in allFilesListed starts afresh.
  std::shared_ptr<WebListings> webListings;
  uint64_t runStarted = 0;  // local file time at the start of the run
  ExtrasSettings extras;    // from the settings file
  // The extras' work of the current run (the duplicate index, the upload
  // check); made at the first add that needs it.
  std::shared_ptr<UploadScreen> uploadScreen;
  // The archivers' part of the run (actions/ExternalArchive.h).
  std::shared_ptr<ArchiverRun> archivers;
};

// Where the run's settings, jobs named without a directory, logs, Temp/ and
// duplicate index are: the program directory unless a state folder is set.
inline const std::string& StateFolder(const RunState& state) {
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
