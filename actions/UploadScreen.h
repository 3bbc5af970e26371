// The extras an add runs on a file before anything is copied or recorded:
// duplicates by content and the upload check. With both off, nothing here
// acts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/TempFolder.h"
#include "run/RunContext.h"

namespace qm {

// The bytes an add stores: a private copy of the upload, made when the
// upload check is to pass what is then copied into storage, so that no one
// can change it between the check and the copy. Gone with the object.
class UploadContent {
 public:
  // The copy to read, or empty: read the upload itself.
  const std::string& Path() const { return path_; }

 private:
  friend class UploadScreen;
  PrivateFolder folder_;
  std::string path_;
};

// False, with the line the run logs, when an extra refuses the file; name
// and sourceDir are those of the add's own lines. A file the add itself
// refuses (a name or size the host cannot store, a missing file) is left
// to the add to report. An add that copies the file passes content: with
// the upload check on, the check runs on a private copy made there, which
// is what the add then stores (no copy, no check: the file is refused).
// A file checked where it lies is refused when it changed meanwhile.
bool ScreenUpload(RunContext& ctx, const std::string& name,
                  const std::string& sourceDir, const std::string& localPath,
                  UploadContent* content = nullptr);
// After the file was added (or would be, in a test run): later files of
// the run are compared with it too.
void RememberUpload(RunContext& ctx, int32_t area, const std::string& name,
                    const std::string& localPath);
// Ends a run's extras: the duplicate index keeps what the run taught it.
void EndUploadScreen(RunState& state);

// An unattended run's counts of the extras that are on, and their part of
// its summary ("" while all are off).
void StartExtrasCounts(RunState& state);
std::string ExtrasSummary(const RunCounts& counts);

// Brings the duplicate index up to date and gives every group of records
// with the same content, largest waste first: "FA# N: NAME SIZE" lines,
// groups separated by an empty line.
std::string DuplicatesReport(RunContext& ctx);

}  // namespace qm
