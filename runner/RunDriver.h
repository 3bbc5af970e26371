// A run: walks a configuration file and hands each entry to its action.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "run/RunContext.h"

namespace qm {

struct CancelPoint;  // run/RunCounts.h

// One run of a configuration file (a full path).
void RunConfig(RunContext& ctx, RecordFile& file, const std::string& path);

// The unattended run of the command-line file (ctx.state.commandLineFile):
// a list of configuration files when its upper-cased file-name part holds
// ".QLS", else one configuration file. showConfigFile names the file being
// run (the window's L_ConfigFile). Errors that escape an action end that
// run and are reported through ctx.view.ShowError.
void AutoRunConfigs(
    RunContext& ctx, RecordFile& file,
    const std::function<void(const std::string&)>& showConfigFile);

// The one line an unattended run prints at its end: what it changed, how
// many problems it logged where, how many it could not log, and where a
// cancel stopped it.
std::string RunSummary(const RunCounts& counts);
// "cancelled in entry 2 of 5 of /srv/night.cfg"
std::string CancelledText(const CancelPoint& cancel);

// Dispatches one entry's key lines (exposed for tests).
void DispatchEntry(RunContext& ctx, const std::vector<std::string>& keys);

}  // namespace qm
