#include "runner/RunDriver.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <limits>
#include <stdexcept>

#include "actions/AddNewFiles.h"
#include "actions/Describe.h"
#include "actions/ExternalArchive.h"
#include "actions/FileActions.h"
#include "actions/FilesBbs.h"
#include "actions/Transfer.h"
#include "actions/UploadScreen.h"
#include "actions/WebListing.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"
#include "run/EntryActions.h"
#include "run/Extras.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "server/WcApi.h"

namespace qm {

namespace {

// Decimal integer, optionally signed, nothing else around it.
int32_t StrictInteger(const std::string& text) {
  const std::string error = "'" + text + "' is not a valid integer value";
  const std::size_t digitsFrom =
      (!text.empty() && (text[0] == '-' || text[0] == '+'));
  if (text.size() <= digitsFrom ||
      text.find_first_not_of("0123456789", digitsFrom) != std::string::npos) {
    throw std::invalid_argument(error);
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    throw std::out_of_range(error);
  }
  return static_cast<int32_t>(value);
}

// A List entry's day count; 0 (every file) when the entry has none.
int AddedWithinDays(const std::vector<std::string>& keys) {
  const std::string days = KeyValue(keys, kAddedWithinDaysKey);
  return days.empty() ? 0 : StrictInteger(days);
}

void DispatchMove(RunContext& ctx, int32_t area,
                  const std::vector<std::string>& keys) {
  const MoveParam param = SplitMoveParam(KeyValue(keys, "FileActionParam"));
  if (!param.hasTarget) return;
  const std::size_t colon = param.target.find(':');
  if (colon == std::string::npos) return;
  const int32_t target = StrictInteger(param.target.substr(0, colon));
  MoveAction(ctx, area, target, param.mode, ctx.view.SpecPanel(),
             KeyValue(keys, "Path"));
}

// The files the List entries of a configuration file write, read before any
// entry runs, so that a "Scan For New" ahead of its List entry knows them.
std::vector<std::string> ListingOutputs(const RunContext& ctx,
                                        const std::string& path) {
  std::vector<std::string> outputs;
  RecordFile file;
  if (!file.OpenForReading(path)) return outputs;
  const int count = file.RecordCount();
  for (int k = 1; k <= count; ++k) {
    ConfigRecord record{};
    if (!file.Read(k, record.data())) continue;
    const AreaConfigEntry entry = DecodeEntry(record);
    if (StoredEntryAction(entry.FileAction) == EntryAction::List)
      outputs.push_back(ListingOutputPath(ctx, entry.DescAction,
                                          entry.DescActionSpec, entry.Path));
  }
  return outputs;
}

}  // namespace

void DispatchEntry(RunContext& ctx, const std::vector<std::string>& keys) {
  RunView& view = ctx.view;
  view.LightActionLabel(ActionLabel::None);
  const int32_t area = StrictInteger(KeyValue(keys, "AreaNum"));
  const std::string action = KeyValue(keys, "FileAction");
  view.SetPanels(KeyValue(keys, "AreaName"), action,
                 KeyValue(keys, "FileActionSpec"));
  const EntryActionRow* row = FindEntryAction(action);
  view.LightActionLabel(row != nullptr ? row->label : ActionLabel::None);

  const std::string path = KeyValue(keys, "Path");
  switch (row != nullptr ? row->action : EntryAction::None) {
    case EntryAction::Add: {
      const std::string listName = FileNamePart(view.SpecPanel());
      if (UpperCase(listName) == "FILES.BBS") {
        view.SetSpecPanel(path + listName);
        // The name as written: the panel's text runs the two together when
        // Path lacks a trailing separator.
        ReadinFilesBBS(ctx, path, listName, area);
      } else {
        AddNewFiles(ctx, area, KeyValue(keys, "FileActionParam"),
                    view.SpecPanel(), KeyValue(keys, "DescAction"),
                    KeyValue(keys, "DescActionSpec"), path);
      }
      break;
    }
    case EntryAction::Delete:
      DeleteAction(ctx, area, KeyValue(keys, "FileActionParam"),
                   view.SpecPanel(), path, KeyValue(keys, "DescAction"),
                   KeyValue(keys, "DescActionSpec"));
      break;
    case EntryAction::List:
      ListAction(ctx, area, KeyValue(keys, "FileActionParam"), view.SpecPanel(),
                 KeyValue(keys, "DescAction"), KeyValue(keys, "DescActionSpec"),
                 path, AddedWithinDays(keys));
      break;
    case EntryAction::Move:
      DispatchMove(ctx, area, keys);
      break;
    case EntryAction::None:
      break;
  }
}

void RunConfig(RunContext& ctx, RecordFile& file, const std::string& path) {
  RunState& state = ctx.state;
  RunView& view = ctx.view;
  // Each run's extras compare with the host as it is now.
  struct EndExtras {
    RunState& state;
    ~EndExtras() {
      EndUploadScreen(state);
      EndArchivers(state);
    }
  } endExtras{state};
  // The first lookup of a name in a directory of 100,000 files reads it
  // whole, which takes longer than the window may go unanswered.
  const LongReadBreaks answerWindow([&view] { view.ProcessEvents(); });
  state.logBaseName = path;
  state.configDir = DirectoryPart(path);
  // Record file times are local; ages are measured from here.
  const uint64_t now = UnixToFileTime(std::time(nullptr));
  if (!FileTimeToLocalFileTime(now, state.runStarted)) state.runStarted = now;

  bool ioError = false;
  if (!IsConfigFile(path, &ioError)) {
    if (ioError) LogRunError(ctx, "IO Error during Config File Test.");
    // The carriage return is the message's own; only the name is data.
    const auto message = [](const std::string& name) {
      return "File: " + name + "\r" +
             " does not appear to be a Quillmar Config File.";
    };
    if (state.autoRun) {
      LogRunMessage(ctx, message(EscapeControls(path)));
    } else {
      view.ShowWarning(message(path));
    }
    return;
  }

  for (const std::string& line : state.extras.notUnderstood)
    LogRunError(ctx, line);
  AllFilesListed(state).clear();
  ListEntryOutputs(state) = ListingOutputs(ctx, path);
  if (!view.IsTestRun()) {
    // What stopped runs left: Temp's leftovers go, the host's repairs are
    // told.
    RemoveAbandonedTemp(TempDirectory(state));
    ReportAddRepairs(ctx);
  }
  view.SetBusyCursor(true);
  view.SetGaugeMaximum(GetFileAreaCount());

  bool stopped = false;
  CancelPoint where{path, 0, 0};
  std::vector<std::string> keys;
  auto beforeRecord = [&](int k) {
    if (k == 1) {
      where.entries = file.RecordCount();
      view.SetGaugeMaximum(where.entries);
    }
    view.ProcessEvents();
    if (state.cancelRequest) {
      stopped = true;
      return false;
    }
    where.entry = k;
    view.SetGaugePosition(k);
    keys.clear();
    return true;
  };
  auto onEntry = [&](const AreaConfigEntry& entry, int) {
    keys = EntryKeyLines(entry);
    DispatchEntry(ctx, keys);
    return true;
  };

  try {
    const ReadResult read = ReadConfigFile(file, path, onEntry, beforeRecord);
    if (read.opened && read.recordCount == 0) view.SetGaugeMaximum(0);
  } catch (const std::exception& error) {
    // The reader has closed the file; the panels keep the failed entry.
    view.SetGaugePosition(0);
    view.SetBusyCursor(false);
    state.stoppedOnError = true;
    CompleteWebListings(ctx);
    view.ShowError(error.what());
    return;
  }
  // A cancel ends the run too: its documents hold the areas listed so far.
  CompleteWebListings(ctx);
  view.SetGaugePosition(0);
  if (!stopped) {
    view.ClearPanels();
    view.LightActionLabel(ActionLabel::None);
  }
  view.SetBusyCursor(false);
  // A cancel seen by an action in the last entry stops no loop here.
  if (state.autoRun && state.cancelRequest && !state.counts.cancelled)
    state.counts.cancelled = where;
}

void AutoRunConfigs(
    RunContext& ctx, RecordFile& file,
    const std::function<void(const std::string&)>& showConfigFile) {
  RunState& state = ctx.state;
  state.autoRun = true;
  state.counts = {};
  StartExtrasCounts(state);
  state.stoppedOnError = false;
  const std::string& commandFile = state.commandLineFile;
  // Until a configuration file runs, problems belong to the command-line
  // file's own log.
  state.logBaseName = commandFile;
  try {
    if (UpperCase(FileNamePart(commandFile)).find(".QLS") ==
        std::string::npos) {
      showConfigFile(FileNamePart(commandFile));
      RunConfig(ctx, file, commandFile);
      return;
    }
    std::vector<std::string> lines;
    if (!ReadTextLines(commandFile, lines)) {
      throw std::runtime_error("Cannot open file \"" + commandFile + "\"");
    }
    for (std::string& line : lines) {
      if (DirectoryPart(line).empty()) line = StateFolder(state) + line;
      if (FileExists(line)) {
        showConfigFile(FileNamePart(line));
        RunConfig(ctx, file, line);
      } else {
        state.logBaseName = line;
        LogRunError(ctx, "Cfg File: " + line + " not found");
      }
    }
  } catch (const std::exception& error) {
    state.stoppedOnError = true;
    ctx.view.ShowError(error.what());
  }
}

std::string RunSummary(const RunCounts& counts) {
  const auto joined = [](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
      text += (text.empty() ? "" : ", ") + name;
    return text;
  };
  std::string line = "Files added: " + std::to_string(counts.added) +
                     ", deleted: " + std::to_string(counts.deleted) +
                     ", moved: " + std::to_string(counts.moved) +
                     ", copied: " + std::to_string(counts.copied) +
                     "; listings written: " + std::to_string(counts.listings) +
                     ExtrasSummary(counts) +
                     "; problems logged: " + std::to_string(counts.problems);
  if (!counts.logs.empty()) line += " in " + joined(counts.logs);
  if (counts.unlogged > 0)
    line += "; problems not logged: " + std::to_string(counts.unlogged) + ", " +
            joined(counts.unwritableLogs) +
            " could not be written (they went to standard error)";
  if (counts.cancelled) line += "; " + CancelledText(*counts.cancelled);
  return line;
}

std::string CancelledText(const CancelPoint& cancel) {
  return "cancelled " +
         (cancel.entry == 0 ? std::string("before entry 1")
                            : "in entry " + std::to_string(cancel.entry)) +
         " of " + std::to_string(cancel.entries) + " of " + cancel.configFile;
}

}  // namespace qm
