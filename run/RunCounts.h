// What an unattended run reports at its end. Only the code that counts, or
// prints the counts, includes this.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

}  // namespace qm
