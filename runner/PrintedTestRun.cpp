#include "runner/PrintedTestRun.h"

namespace qm {

void PrintedTestRun::AddTestRunLine(const std::string& line) {
  // Flushed at once: a job killed halfway still shows how far it came.
  out_ << line << std::endl;
}

}  // namespace qm
