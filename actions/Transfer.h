// Putting one file into a file area: host virtual paths, the byte transfer,
// the addition with its record, and the refresh of size and time.
#pragma once

#include <cstdint>
#include <string>

#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qm {

constexpr int kMaxStoredNameLength = 14;

// "wc:\file\area(N)\NAME"
std::string HostPath(int32_t area, const std::string& name);
// Starts with "wc:\" without regard to case.
bool IsHostPath(const std::string& path);

// False, with the "filename too long" line logged, for a name longer than
// a stored name may be.
bool StoredNameFits(RunContext& ctx, const std::string& name);
// False, with a log line, for a local file of 2 GiB or more: the records'
// size fields are 32-bit.
bool LocalFileFitsRecord(RunContext& ctx, const std::string& path);

// A name the host can store: no control characters, "\", "/" or ":".
bool IsPlainName(const std::string& name);
// What follows the last "/": here "\" and ":" may be part of a file's name.
std::string LocalFileName(const std::string& path);
// False, with the line the run logs, for a local file the host refuses: a
// name that is not plain or is too long, or a file of 2 GiB or more. A test
// run asks this as the real run does.
bool LocalFileAccepted(RunContext& ctx, const std::string& localPath,
                       int32_t area);

// Whether the area's storage could take a file of that name, asked without
// writing anything: false when its directory is missing or cannot be told,
// or a directory holds the name. A stored file of that name takes it.
bool StorageTakes(int32_t area, const std::string& name);

// Copies every byte of source to target in 4096-byte blocks; either may be
// a host path. A failed or cancelled copy leaves no partial target and an
// existing target untouched. addedFrom names the upload a copy into a host
// path adds (the host journals it; see WcJournalAdd); source may then be a
// private copy of it.
bool TransferFile(RunContext& ctx, const std::string& source,
                  const std::string& target, const std::string& caption,
                  const std::string& addedFrom = {});

// What a host lookup of one record found: a failure (a damaged database)
// is never taken for "no such record".
enum class Lookup { Found, NotFound, Failed };
Lookup LookUpRecord(int32_t area, const std::string& name, TFileRecord& record);

// Transfers (if asked), describes, records and freshens one file. A
// transferred file whose record is refused is removed again. contentPath,
// when given, is a private copy of the file to store and describe instead.
bool AddFileToArea(RunContext& ctx, const std::string& localPath, int32_t area,
                   bool transfer, const std::string& descSpec,
                   bool describe = true, const std::string& contentPath = {});
// The test run's check of a transfer: false, with the line the real run
// would log, when the area's storage cannot take the copy (it is missing,
// a directory stands in the name's place, or it stores a file of that
// name: an add never replaces one).
bool TransferForeseen(RunContext& ctx, const std::string& localPath,
                      int32_t area);

// Logs, one line each, what the host's last login repaired of adds that a
// stopped run left half done (a copy stored without its record), taking
// the notes from the host.
void ReportAddRepairs(RunContext& ctx);

// Updates the host record's size and local file time from the stored file;
// a fileTime other than 0 is the time instead.
bool FreshenFileRecord(RunContext& ctx, const TFullFileRecord& record,
                       uint64_t fileTime = 0);

// Adds the record, reads back what the host stored and freshens it.
bool AddAndFreshenRecord(RunContext& ctx, TFullFileRecord& record,
                         uint64_t fileTime = 0);

}  // namespace qm
