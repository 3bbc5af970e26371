#include "actions/AddNewFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "actions/ExistingNames.h"
#include "actions/FileActions.h"
#include "actions/Transfer.h"
#include "actions/UploadScreen.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "server/WcApi.h"

namespace qm {

namespace {

struct AddJob {
  RunContext& ctx;
  int32_t area;
  std::string areaDir;  // the entry's Path with a trailing separator
  std::string descSpec;
  bool describe;
  ExistingNames names;

  std::string AreaText() const { return std::to_string(area); }

  // Adds one new file (or reports it in a test run); its name then joins
  // the existing names so that it is never added twice.
  void Add(const std::string& name, const std::string& sourceDir,
           const std::string& fullPath, bool transfer) {
    if (ctx.view.IsTestRun()) {
      if (!LocalFileAccepted(ctx, fullPath, area)) return;
      if (!ScreenUpload(ctx, name, sourceDir, fullPath)) return;
      if (transfer && !TransferForeseen(ctx, fullPath, area)) return;
      ctx.view.AddTestRunLine("Add to FA# " + AreaText() + ": " + name +
                              " from: " + sourceDir);
      names.Add(name);
      RememberUpload(ctx, area, name, fullPath);
      return;
    }
    UploadContent content;  // what a transfer stores, once checked
    if (!ScreenUpload(ctx, name, sourceDir, fullPath,
                      transfer ? &content : nullptr))
      return;
    if (AddFileToArea(ctx, fullPath, area, transfer, descSpec, describe,
                      content.Path())) {
      names.Add(name);
      RememberUpload(ctx, area, name, fullPath);
    }
  }
};

// A relative path with a directory part belongs to the configuration
// file's directory, not to wherever the process happens to run.
std::string ConfigRelative(const RunContext& ctx, const std::string& path) {
  if (DirectoryPart(path).empty()) return path;
  return ResolveAgainst(ctx.state.configDir, path);
}

void AddFromList(AddJob& job, const std::string& spec) {
  if (DirectoryPart(spec).empty() &&
      !EntryHasPath(job.ctx, job.areaDir, job.area))
    return;
  std::string listPath = DirectoryPart(spec).empty()
                             ? job.areaDir + spec
                             : ConfigRelative(job.ctx, spec);
  std::vector<std::string> lines;
  if (!FileExists(listPath) || !ReadTextLines(listPath, lines)) {
    LogRunError(job.ctx, "File: " + listPath + " not found: for file area #" +
                             job.AreaText());
    return;
  }
  for (const std::string& line : lines) {
    job.ctx.view.ProcessEvents();
    if (job.ctx.state.cancelRequest) return;
    std::string path = ConfigRelative(job.ctx, line);
    // A link is passed over like one a scan finds.
    if (!FileExists(path) || LinkExists(path)) continue;
    std::string name = LocalFileName(path);
    if (job.names.Contains(name)) continue;
    std::string dir = path.substr(0, path.size() - name.size());
    job.Add(name, dir, path, dir != job.areaDir);
  }
}

// The listings the configuration's own List entries write into a folder,
// as files: they are output, never uploads.
std::vector<FileIdentity> OwnListings(const RunContext& ctx) {
  std::vector<FileIdentity> listings;
  for (const std::string& path : ListEntryOutputs(ctx.state)) {
    FileIdentity id;
    if (IdentifyFile(path, id)) listings.push_back(id);
  }
  return listings;
}

void ScanForNew(AddJob& job, const std::string& spec) {
  std::string pattern = ConfigRelative(job.ctx, spec);
  std::string specDir = DirectoryPart(pattern);
  std::string sourceDir;
  bool transfer;
  if (specDir.empty() && !EntryHasPath(job.ctx, job.areaDir, job.area)) return;
  if (specDir.empty() || TrailingBackslash(specDir) == job.areaDir) {
    sourceDir = job.areaDir;
    pattern = job.areaDir + FileNamePart(pattern);
    transfer = false;
  } else {
    sourceDir = TrailingBackslash(specDir);
    transfer = true;
  }
  // Reading a directory of 100,000 files takes longer than the window may
  // go unanswered.
  const auto keepGoing = [&job] {
    job.ctx.view.ProcessEvents();
    return !job.ctx.state.cancelRequest;
  };
  const std::vector<FileIdentity> listings = OwnListings(job.ctx);
  const FoundFiles listing = FindFiles(pattern, false, keepGoing);
  // A folder that is not there holds nothing new; one that cannot be read
  // is a problem, never "nothing new".
  if (listing.error != 0 && listing.error != ENOENT)
    LogRunError(job.ctx, "Could not read folder: " + sourceDir +
                             " for file area #" + job.AreaText() + " (" +
                             std::strerror(listing.error) + ")");
  for (const FoundFile& found : listing.files) {
    job.ctx.view.ProcessEvents();
    if (job.ctx.state.cancelRequest) return;
    if (job.names.Contains(found.name)) continue;
    FileIdentity id;
    if (!listings.empty() && IdentifyFile(sourceDir + found.name, id) &&
        std::find(listings.begin(), listings.end(), id) != listings.end())
      continue;
    job.Add(found.name, sourceDir, sourceDir + found.name, transfer);
  }
}

}  // namespace

void AddNewFiles(RunContext& ctx, int32_t area, const std::string& param,
                 const std::string& spec, const std::string& descAction,
                 const std::string& descSpec, const std::string& path) {
  ctx.state.cancelRequest = false;
  const std::string areaText = std::to_string(area);
  TFileArea record{};
  if (!MwGetFileAreas(area, 1, &record)) {
    LogRunError(
        ctx, "Could not load file area #" + areaText + " info for WIN Server.");
    return;
  }
  ctx.view.ProcessEvents();
  if (ctx.state.cancelRequest) return;
  if (record.Path[0] == '\0') {
    LogRunError(ctx, "Could not load file area #" + areaText +
                         " Path info for WIN Server.");
    return;
  }

  AddJob job{ctx, area, TrailingBackslash(path), descSpec, descAction != "NA",
             {}};
  if (!job.names.Gather(ctx, area)) return;
  if (param == "From File List")
    AddFromList(job, spec);
  else
    ScanForNew(job, spec);
}

}  // namespace qm
