#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "actions/TextFit.h"
#include "actions/WebListing.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"

namespace qm {

// What a run's listings keep until the next run starts.
struct RunListings {
  std::set<std::string> allFilesListed;
  std::vector<std::string> entryOutputs;
};

namespace {

RunListings& Listings(RunState& state) {
  if (!state.listings) state.listings = std::make_shared<RunListings>();
  return *state.listings;
}

constexpr std::size_t kNameWidth = 14;
constexpr std::size_t kSizeWidth = 10;
constexpr std::size_t kDateWidth = 8;
constexpr std::size_t kDescWidth = 44;
constexpr std::size_t kDescColumn = kNameWidth + kSizeWidth + kDateWidth + 3;
constexpr char kAllFilesList[] = "All Files List";

// Where listing lines go. Lines are collected and written in blocks.
class ListingOutput {
 public:
  virtual ~ListingOutput() = default;
  bool WriteLine(const std::string& line) {
    buffer_ += line;
    buffer_ += "\r\n";
    return buffer_.size() < kBlock || Flush();
  }
  bool Flush() {
    if (buffer_.empty()) return true;
    const bool ok = WriteBytes(buffer_);
    buffer_.clear();
    return ok;
  }
  // Completes the output with what was written; false on an I/O error.
  virtual bool Finish() = 0;

 protected:
  virtual bool WriteBytes(const std::string& bytes) = 0;

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  std::string buffer_;
};

// A listing replaces its target only once it is complete, so a failed or
// killed listing leaves the previous one in place.
class ReplacingOutput : public ListingOutput {
 public:
  bool Open(const std::string& path, bool followLinks = false) {
    return writer_.Open(path, followLinks);
  }
  bool Finish() override { return Flush() && writer_.Commit(); }

 protected:
  bool WriteBytes(const std::string& bytes) override {
    uint32_t done = 0;
    return writer_.Write(bytes.data(), static_cast<uint32_t>(bytes.size()),
                         done) &&
           done == bytes.size();
  }

 private:
  AtomicWriter writer_;
};

// The all-files listing is replaced whole by each entry too: a later entry
// of the run writes what the earlier ones left, then its own area. It is
// written where a link there points, as it always was.
class SharedOutput : public ReplacingOutput {
 public:
  bool Open(const std::string& path, bool append) {
    if (!ReplacingOutput::Open(path, true)) return false;
    if (!append) return true;
    LocalReader earlier;
    if (!earlier.Open(path)) return false;
    std::string block(64 * 1024, '\0');
    for (;;) {
      uint32_t got = 0;
      if (!earlier.Read(block.data(), static_cast<uint32_t>(block.size()), got))
        return false;
      if (got == 0) return true;
      if (!WriteBytes(block.substr(0, got))) return false;
    }
  }
};

// Where an "All Files List" goes: the file named, in any letter case.
std::string AllFilesListPath(const RunContext& ctx,
                             const std::string& outputFile) {
  std::string path = ResolveAgainst(ctx.state.configDir, outputFile);
  const std::string found = ResolveExisting(path);
  return found.empty() ? path : found;
}

std::unique_ptr<ListingOutput> OpenOutput(RunContext& ctx,
                                          const std::string& destKind,
                                          const std::string& outputFile,
                                          const std::string& directory) {
  CompleteWebListing(ctx,
                     ListingOutputPath(ctx, destKind, outputFile, directory));
  if (destKind == kAllFilesList) {
    // Each listing is made afresh by the first entry of a run naming it
    // (in any letter case); later entries add to it.
    const std::string path = AllFilesListPath(ctx, outputFile);
    auto shared = std::make_unique<SharedOutput>();
    const bool append = AllFilesListed(ctx.state).count(path) > 0;
    if (!shared->Open(path, append)) return nullptr;
    AllFilesListed(ctx.state).insert(path);
    if (append && !shared->WriteLine(" ")) return nullptr;
    return shared;
  }
  auto own = std::make_unique<ReplacingOutput>();
  if (!own->Open(ListingOutputPath(ctx, destKind, outputFile, directory)))
    return nullptr;
  return own;
}

void WebListAction(RunContext& ctx, int32_t area, const TFileArea& areaRecord,
                   ListMode mode, const MatchRule& rule,
                   const std::string& destKind, const std::string& outputFile,
                   const std::string& path) {
  const bool allFiles = destKind == kAllFilesList;
  const std::string target = ListingOutputPath(ctx, destKind, outputFile, path);
  if (!WriteWebListing(ctx, area, areaRecord, mode, rule, target, allFiles)) {
    LogRunError(ctx, "IO Error during File List Creation.");
    return;
  }
  ++ctx.state.counts.listings;
}

}  // namespace

std::set<std::string>& AllFilesListed(RunState& state) {
  return Listings(state).allFilesListed;
}

std::vector<std::string>& ListEntryOutputs(RunState& state) {
  return Listings(state).entryOutputs;
}

std::string ListingOutputPath(const RunContext& ctx,
                              const std::string& destKind,
                              const std::string& outputFile,
                              const std::string& path) {
  if (destKind == kAllFilesList) return AllFilesListPath(ctx, outputFile);
  return TrailingBackslash(path) + FileNamePart(outputFile);
}

std::vector<std::string> ListingHeader(const std::string& areaName) {
  const std::string rule = "  " + std::string(75, '=');
  return {rule, std::string(10, ' ') + areaName, rule};
}

std::vector<std::string> ListingFileLines(const std::string& mode,
                                          const TFileRecord& record,
                                          const TFullFileRecord* full) {
  const std::string first =
      FitText(FieldText(record.Name, sizeof record.Name), kNameWidth) + " " +
      FitText(std::to_string(record.Size), kSizeWidth) + " " +
      FitText(FileTimeToDateText(record.FileTime), kDateWidth) + " ";
  const ListMode layout = StoredListMode(mode);
  if (layout == ListMode::Single || full == nullptr ||
      record.HasLongDescription == 0) {
    return {first +
            FitText(FieldText(record.Description, sizeof record.Description),
                    kDescWidth)};
  }
  auto longLine = [full](int i) {
    return FieldText(full->LongDescription[i], kLongDescLineSize);
  };
  const std::string indent(kDescColumn, ' ');
  std::string carry;
  std::vector<std::string> lines{first +
                                 FitWithCarry(longLine(0), kDescWidth, carry)};
  if (layout == ListMode::Full) {
    for (int i = 1; i < kLongDescLines; ++i) {
      const std::string text = carry + longLine(i);
      if (text.empty()) continue;
      lines.push_back(indent + FitWithCarry(text, kDescWidth, carry));
    }
  } else {
    lines.push_back(indent +
                    FitWithCarry(carry + longLine(1), kDescWidth, carry));
  }
  return lines;
}

void ListAction(RunContext& ctx, int32_t area, const std::string& mode,
                const std::string& spec, const std::string& destKind,
                const std::string& outputFile, const std::string& path,
                int addedWithinDays) {
  TFileArea areaRecord{};
  if (!MwGetFileAreas(area, 1, &areaRecord)) return;
  // A listing per area goes into the area's own directory.
  if (destKind != kAllFilesList && !EntryHasPath(ctx, path, area)) return;
  if (addedWithinDays < 0 || addedWithinDays > kMostAddedWithinDays) {
    LogRunError(ctx, "Bad number of days for FA# " + std::to_string(area) +
                         ": " + std::to_string(addedWithinDays));
    return;
  }
  const std::string days =
      addedWithinDays == 0
          ? std::string()
          : " (added in the last " + std::to_string(addedWithinDays) + " days)";
  if (ctx.view.IsTestRun()) {
    ctx.view.AddTestRunLine(mode + " File Listing for FA# " +
                            std::to_string(area) + days);
    return;
  }

  MatchRule rule = MatchRule::ForListing(spec);
  const uint64_t span =
      static_cast<uint64_t>(addedWithinDays) * 86400 * kTicksPerSecond;
  if (addedWithinDays > 0)
    rule.OnlyAddedSince(
        ctx.state.runStarted > span ? ctx.state.runStarted - span : 0);
  const ListMode layout = StoredListMode(mode);
  if (IsWebListingMode(layout)) {
    WebListAction(ctx, area, areaRecord, layout, rule, destKind, outputFile,
                  path);
    return;
  }

  std::unique_ptr<ListingOutput> out =
      OpenOutput(ctx, destKind, outputFile, TrailingBackslash(path));
  bool ok = out != nullptr;
  if (ok) {
    for (const std::string& line :
         ListingHeader(FieldText(areaRecord.Name, sizeof areaRecord.Name))) {
      ok = ok && out->WriteLine(line);
    }
  }
  if (ok) {
    const bool wantLong = layout != ListMode::Single;
    // A cancel keeps the lines written so far.
    WalkMatchingRecords(ctx, area, rule, [&](TFileRecord& record) {
      TFullFileRecord full{};
      const bool haveFull = wantLong && GetFullFileRec(record, full);
      for (const std::string& line :
           ListingFileLines(mode, record, haveFull ? &full : nullptr)) {
        if (!out->WriteLine(line)) {
          ok = false;
          return false;
        }
      }
      return true;
    });
    ok = ok && out->Finish();
  }
  if (!ok) LogRunError(ctx, "IO Error during File List Creation.");
  if (ok) ++ctx.state.counts.listings;
}

}  // namespace qm
