// Replays a fuzz target's saved inputs in the normal build: every file of
// the corpus directory (which must hold some) and of the other directories
// (which may be missing) goes once through LLVMFuzzerTestOneInput.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Inputs(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.') files.push_back(entry);
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const fs::path& file) {
  std::fprintf(stderr, "replay %s\n", file.c_str());
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  // A separate copy of exactly the input's size, as the fuzzer gives it.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [MORE_DIRS...]\n", argv[0]);
    return 2;
  }
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::vector<fs::path> files = Inputs(argv[i]);
    if (i == 1 && files.empty()) {
      std::fprintf(stderr, "no inputs in corpus %s\n", argv[i]);
      return 1;
    }
    for (const fs::path& file : files) Replay(file);
    count += files.size();
  }
  std::fprintf(stderr, "replayed %zu inputs\n", count);
  return 0;
}
