// A reference job for failure and crash tests: a host with three areas and
// a configuration that adds uploads by transfer (archives with descriptions
// among them) found by a scan and named by a path list, imports a FILES.BBS
// listing, moves, copies, deletes and lists.
// It also checks what every run must leave true, however it ended.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qmtest {

class ReferenceJob {
 public:
  // Creates the host in home (areas below it), the uploads in work/incoming
  // and the configuration file configPath. bigSize is the size of the one
  // large upload.
  ReferenceJob(const std::string& home, const std::string& work,
               const std::string& configPath, size_t bigSize);

  const std::string& home() const { return home_; }
  const std::string& configPath() const { return configPath_; }

  // What is wrong with the host now: database integrity, move and add
  // intents left over, records without their stored file or with another
  // size or time, stored files without a record (besides those the job
  // leaves so), stored files that differ from their source, temporary files.
  // Reads the host without logging in; the caller logs in first when it
  // wants the host's repairs done.
  std::vector<std::string> Problems() const;
  // Hidden files below the home: what writers leave while they write.
  std::vector<std::string> TemporaryFiles() const;
  // The repairs of killed adds the host's logins made that no run has told
  // yet, as "FA# N: NAME".
  std::vector<std::string> PendingRepairs() const;

  // The host's records and stored files, one line each, for comparing two
  // runs. Record times appear only for files the job never copies: a copy
  // is stamped with the time it was made.
  std::vector<std::string> Snapshot() const;

  // The records per area ("area:NAME") the finished job leaves.
  static std::vector<std::string> ExpectedRecords();

 private:
  struct Source {
    std::string bytes;
    bool copied = false;  // the job transfers it, giving it a new time
  };
  std::string home_;
  std::string configPath_;
  std::map<std::string, Source> sources_;  // by upper-cased name
};

}  // namespace qmtest
