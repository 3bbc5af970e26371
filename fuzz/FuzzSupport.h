// What the fuzz targets share: failing loudly, a scratch directory and a
// host made once per process, and logins to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace qmfuzz {

// Reports a broken invariant and aborts, so the fuzzer keeps the input.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

inline std::string Bytes(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The process's scratch directory, removed when the process ends.
const std::string& Workspace();

// Creates the host at Workspace()/host with these areas once per process;
// later calls only give the home.
const std::string& FuzzHost(const std::vector<qmtest::AreaSpec>& areas);

// A login to the fuzz host. Targets whose inputs leave search positions in
// the session take one per input, so that they never reach the next input
// nor look like a leak to the fuzzer.
class HostSession {
 public:
  explicit HostSession(const std::string& home);

 private:
  qmtest::HostLogin login_;
};

// Where the host keeps an area's files (no trailing separator), created.
std::string AreaDir(int32_t area);

// Removes every record of an area; the stored files stay.
void ClearArea(int32_t area);

// Every path under root, relative to it ("dir/", "dir/file"), sorted.
std::vector<std::string> Tree(const std::string& root);

// A zero-terminated text field: its terminator lies inside the field.
template <size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, 0, N) != nullptr;
}

}  // namespace qmfuzz
