// A program directory copied from the build, with a host beside it, for
// runs of the real executables.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "tests/support/TestSupport.h"

namespace qmtest {

class ProgramDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin = CopyProgramDir(tmp.path());
    home = bin + "/host";
  }

  ProcessResult Quillmar(const std::vector<std::string>& args,
                         int timeoutSeconds = 90) {
    std::vector<std::string> argv{bin + "/quillmar"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, {"QT_QPA_PLATFORM=offscreen", "LC_ALL=C"},
                      timeoutSeconds, tmp.path());
  }

  // Records of an area as the host program lists them.
  nlohmann::json FileList(int area) {
    auto result = RunProcess({bin + "/wcserver", "file", "list", home, "--area",
                              std::to_string(area), "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return nlohmann::json::parse(result.out.empty() ? "[]" : result.out);
  }

  void WriteConfig(const std::string& path,
                   const std::vector<qm::AreaConfigEntry>& entries) {
    std::string message;
    ASSERT_TRUE(qm::WriteConfigFile(path, entries, message)) << message;
  }

  TempDir tmp;
  std::string bin;
  std::string home;
};

}  // namespace qmtest
