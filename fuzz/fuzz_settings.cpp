// The settings store on an arbitrary file: reads never fail, and what is
// written reads back while every other key keeps its value.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Paths.h"
#include "settings/IniFile.h"

using qmfuzz::Check;

namespace {

using Pair = std::pair<std::string, std::string>;  // section, key
const std::string kMissing = "\x01missing";

std::string Blank(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool HasAny(const std::string& text, const char* chars, size_t n) {
  return text.find_first_of(std::string(chars, n)) != std::string::npos;
}

// Names that stand for themselves in the file: one line, no delimiters.
bool WritableSection(const std::string& s) {
  return !HasAny(s, "\r\n\0]", 4) && Blank(s) == s;
}
bool WritableKey(const std::string& k) {
  return !k.empty() && !HasAny(k, "\r\n\0=", 4) && Blank(k) == k &&
         k[0] != '[' && k[0] != ';';
}

// Sections and keys the input names, and the usual ones.
std::vector<Pair> Pairs(const std::string& bytes) {
  std::vector<std::string> sections = {"General"};
  std::vector<std::string> keys = {"Top"};
  size_t at = 0;
  while (at < bytes.size() && (sections.size() < 4 || keys.size() < 4)) {
    size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = Blank(bytes.substr(at, end - at));
    at = end + 1;
    if (!line.empty() && line[0] == '[') {
      const std::string name = Blank(line.substr(1, line.find(']') - 1));
      if (WritableSection(name) && sections.size() < 4)
        sections.push_back(name);
    } else if (line.find('=') != std::string::npos) {
      const std::string key = Blank(line.substr(0, line.find('=')));
      if (WritableKey(key) && keys.size() < 4) keys.push_back(key);
    }
  }
  std::vector<Pair> pairs;
  for (const auto& s : sections)
    for (const auto& k : keys) pairs.emplace_back(s, k);
  return pairs;
}

// A value that comes back as written (up to 1023 characters): one line,
// no blanks at its ends, not in quotes.
std::string PlainValue(const std::string& bytes) {
  std::string value;
  for (const char c : bytes)
    if (c != '\r' && c != '\n' && c != '\0') value += c;
  value = Blank(value);
  if (!value.empty() && (value[0] == '"' || value[0] == '\''))
    value = "v" + value;
  return value;
}

bool SamePair(const Pair& a, const Pair& b) {
  return qm::EqualsNoCase(a.first, b.first) &&
         qm::EqualsNoCase(a.second, b.second);
}

uint32_t Word(const std::string& bytes, size_t at) {
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i)
    word = word << 8 | static_cast<uint8_t>(bytes[(at + i) % bytes.size()]);
  return word;
}

void CheckRead(const qm::IniFile& ini, const Pair& p) {
  const std::string text = ini.ReadString(p.first, p.second, "");
  Check(text.size() <= 1023, "at most 1023 characters come back");
  const int a = ini.ReadInteger(p.first, p.second, 7);
  const int b = ini.ReadInteger(p.first, p.second, -9);
  Check(a == b || (a == 7 && b == -9), "only a non-integer gives the default");
  if (a == b) {
    long long n = 0;
    if (std::sscanf(text.c_str(), "%lld", &n) == 1 && std::to_string(n) == text)
      Check(n == a, "a decimal reads as its value: " + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qmfuzz::Workspace() + "/quillmar.ini";
  const std::string bytes = qmfuzz::Bytes(data, size);
  qmtest::WriteFile(path, bytes);
  qm::IniFile ini(path);

  const std::vector<Pair> pairs = Pairs(bytes);
  std::map<size_t, std::string> expected;
  for (size_t i = 0; i < pairs.size(); ++i)
    expected[i] = ini.ReadString(pairs[i].first, pairs[i].second, kMissing);

  // Writes whose values must read back; later writes of a pair win.
  std::vector<std::pair<Pair, std::string>> writes;
  auto write = [&](const Pair& p, const std::string& value) {
    ini.WriteString(p.first, p.second, value);
    writes.emplace_back(p, value.substr(0, 1023));
    Check(ini.ReadString(p.first, p.second, kMissing) == writes.back().second,
          "a written value reads back");
  };
  const size_t n = bytes.empty() ? 0 : Word(bytes, 0);
  const Pair textPair = pairs[n % pairs.size()];
  const Pair intPair = pairs[(n / 7) % pairs.size()];
  write(textPair, PlainValue(bytes.substr(bytes.size() / 2)));
  write({"Fuzz Section", "New Key"}, PlainValue(bytes.substr(0, 40)));

  const int32_t number =
      bytes.empty() ? -4 : static_cast<int32_t>(Word(bytes, 3));
  ini.WriteInteger(intPair.first, intPair.second, number);
  writes.emplace_back(intPair, std::to_string(number));
  Check(ini.ReadInteger(intPair.first, intPair.second, number ^ 1) == number,
        "a written integer reads back");

  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<uint32_t>(number));
  write(intPair, hex);
  Check(ini.ReadInteger(intPair.first, intPair.second, 0) == number,
        std::string("hexadecimal after 0x: ") + hex);
  std::snprintf(hex, sizeof hex, "$%x", static_cast<uint32_t>(number));
  write(intPair, hex);
  Check(ini.ReadInteger(intPair.first, intPair.second, 0) == number,
        std::string("hexadecimal after $: ") + hex);

  for (size_t i = 0; i < pairs.size(); ++i) {
    std::string want = expected[i];
    for (const auto& [p, value] : writes)
      if (SamePair(p, pairs[i])) want = value;
    Check(
        ini.ReadString(pairs[i].first, pairs[i].second, kMissing) == want,
        "key [" + pairs[i].first + "] " + pairs[i].second + " keeps its value");
    CheckRead(ini, pairs[i]);
  }
  return 0;
}
