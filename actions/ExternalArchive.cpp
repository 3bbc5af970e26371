#include "actions/ExternalArchive.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "platform/Files.h"
#include "platform/FlatMembers.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/TempFolder.h"
#include "run/RunLog.h"

namespace qm {

// What one run knows of its archivers.
class ArchiverRun {
 public:
  explicit ArchiverRun(const DescriptionExtras& extras)
      : rows(ArchiversInEffect(extras)) {}
  std::vector<Archiver> rows;
  std::set<std::string> missingLogged;  // rows whose program was missing
};

namespace {

constexpr size_t kMaxMemberSize = 64 * 1024;
constexpr size_t kStubSearch = 1 << 20;

ArchiverRun& RunOf(RunState& state) {
  if (!state.archivers)
    state.archivers = std::make_shared<ArchiverRun>(state.descriptionExtras);
  return *state.archivers;
}

uint32_t Crc32(const std::string& bytes, size_t at, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = at; i < at + size; ++i) {
    crc ^= static_cast<uint8_t>(bytes[i]);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// An ARJ main header: its size within bounds, its CRC right, the type of
// the archive's own header.
bool ArjHeaderAt(const std::string& bytes, size_t at) {
  if (at + 4 > bytes.size() || bytes[at] != '\x60' || bytes[at + 1] != '\xEA')
    return false;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const size_t size = byte(at + 2) | byte(at + 3) << 8;
  if (size < 30 || size > 2600 || at + 8 + size > bytes.size()) return false;
  const size_t end = at + 4 + size;
  const uint32_t stored = static_cast<uint32_t>(byte(end)) |
                          static_cast<uint32_t>(byte(end + 1)) << 8 |
                          static_cast<uint32_t>(byte(end + 2)) << 16 |
                          static_cast<uint32_t>(byte(end + 3)) << 24;
  return byte(at + 10) == 2 && Crc32(bytes, at + 4, size) == stored;
}

bool ArjAfterStub(const std::string& head) {
  if (head.compare(0, 2, "MZ") != 0) return false;
  for (size_t at = head.find("\x60\xEA", 2); at != std::string::npos;
       at = head.find("\x60\xEA", at + 1))
    if (ArjHeaderAt(head, at)) return true;
  return false;
}

bool ProgramsFound(const Archiver& row) {
  return !FindProgram(row.list[0]).empty() &&
         !FindProgram(row.extract[0]).empty();
}

// The stored name a line of a listing gives: its first word, after a
// sequence number such as "001)".
std::string ListedName(const std::string& line) {
  const std::vector<std::string> words = SplitCommand(line);
  if (words.empty()) return {};
  const std::string& first = words[0];
  const bool numbered =
      first.size() > 1 && first.back() == ')' &&
      first.find_first_not_of("0123456789") == first.size() - 1;
  if (!numbered) return first;
  return words.size() > 1 ? words[1] : std::string();
}

std::vector<std::string> Substituted(const std::vector<std::string>& words,
                                     const std::string& archive,
                                     const std::string& member,
                                     const std::string& folder) {
  std::vector<std::string> argv;
  for (const std::string& word : words) {
    if (word == "%a")
      argv.push_back(archive);
    else if (word == "%m")
      argv.push_back(member);
    else if (word == "%d")
      argv.push_back(folder);
    else
      argv.push_back(word);
  }
  return argv;
}

// Some programs insist on an extension (one is added when missing): the
// upload's own when it is a plain one, else the row's name.
std::string LinkName(const Archiver& row, const std::string& archive) {
  const std::string name = FileNamePart(archive);
  const size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  auto plain = [](const std::string& text) {
    return !text.empty() && text.size() <= 4 &&
           std::all_of(text.begin(), text.end(), [](char c) {
             return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                    (c >= 'a' && c <= 'z');
           });
  };
  if (!plain(extension)) extension = plain(row.name) ? row.name : "arc";
  return "upload." + extension;
}

struct Winner {
  std::string flat;
  std::string stored;
};

// The reading itself, in the child process.
ArchiveExtraction ReadWithArchiver(const Archiver& row,
                                   const std::string& archive,
                                   const std::string& readFrom,
                                   const std::string& spec,
                                   const std::string& destination,
                                   const std::string& tempDir) {
  ArchiveExtraction result;
  PrivateFolder in, out;
  std::string reason;
  Result<Directory> dir = Directory::Open(destination);
  if (in.Make(tempDir, reason) != PrivateFolder::Outcome::Made ||
      out.Make(tempDir, reason) != PrivateFolder::Outcome::Made || !dir) {
    result.readable = result.unwritable = true;
    return result;
  }
  const std::string link = LinkName(row, archive);
  if (!in.Link(link, ForOtherProcesses(readFrom))) return result;
  const std::string source = in.PathForOthers() + link;
  const std::string folder = out.PathForOthers();
  const uint64_t memory = uint64_t{kArchiveMemoryMiB} << 20;

  const bool plainSpec = spec.find_first_of("*?") == std::string::npos;
  FlatMemberChoice choice;
  std::map<std::string, Winner> winners;  // by upper-cased flat name
  std::vector<std::string> order;
  const ProgramEnd listed =
      RunProgramIn(Substituted(row.list, source, {}, folder), out.Path(),
                   memory, [&](const std::string& line) {
                     const std::string stored = ListedName(line);
                     const std::string name = FlatMemberName(stored);
                     if (name.empty() || !WildcardMatch(spec, name))
                       return true;
                     const bool atRoot = MemberAtRoot(stored);
                     std::string displaced;
                     if (!choice.Take(name, atRoot, displaced)) return true;
                     const std::string key = UpperCase(name);
                     if (!winners.count(key)) order.push_back(key);
                     winners[key] = {name, stored};
                     return !(plainSpec && atRoot);
                   });
  if (listed == ProgramEnd::Failed || listed == ProgramEnd::NotFound)
    return result;
  result.readable = true;
  bool written = true;
  for (const std::string& key : order) {
    const Winner& winner = winners[key];
    std::string data;
    out.Empty();
    // A name the program would take for an option is never handed to it.
    const bool extracted =
        winner.stored[0] != '-' &&
        RunProgramIn(Substituted(row.extract, source, winner.stored, folder),
                     out.Path(), memory, [](const std::string&) {
                       return true;
                     }) == ProgramEnd::Succeeded;
    std::string relative = winner.stored;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    while (relative.compare(0, 2, "./") == 0) relative.erase(0, 2);
    if (!extracted || !(out.ReadBelow(winner.flat, kMaxMemberSize, data) ||
                        out.ReadBelow(relative, kMaxMemberSize, data))) {
      written = false;
    } else if (!WriteFlatMember(*dir, winner.flat, data, 0, reason)) {
      written = false;
      result.unwritable = true;
    }
  }
  result.complete = written;
  return result;
}

}  // namespace

bool ArchiversOn(const RunState& state) {
  return !Trim(state.descriptionExtras.archivers).empty();
}

const Archiver* ArchiverFor(RunContext& ctx, File& file, bool afterStub) {
  if (!ArchiversOn(ctx.state)) return nullptr;
  ArchiverRun& run = RunOf(ctx.state);
  size_t want = afterStub ? kStubSearch : 0;
  for (const Archiver& row : run.rows)
    for (const Signature& signature : row.signatures)
      want = std::max<size_t>(want, signature.offset + signature.bytes.size());
  std::string head(want, '\0');
  const Result<size_t> got = file.ReadAt(head.data(), head.size(), 0);
  if (!got) return nullptr;
  head.resize(*got);
  const Archiver* found = nullptr;
  size_t longest = 0;
  for (const Archiver& row : run.rows)
    for (const Signature& signature : row.signatures)
      if (signature.bytes.size() > longest &&
          head.size() >= signature.offset + signature.bytes.size() &&
          head.compare(signature.offset, signature.bytes.size(),
                       signature.bytes) == 0) {
        found = &row;
        longest = signature.bytes.size();
      }
  if (!found && afterStub && ArjAfterStub(head))
    for (const Archiver& row : run.rows)
      if (EqualsNoCase(row.name, "ARJ")) found = &row;
  if (!found || ProgramsFound(*found)) return found;
  if (run.missingLogged.insert(found->name).second)
    LogRunError(ctx, "Archiver " + found->name + ": " + found->list[0] +
                         (found->extract[0] == found->list[0]
                              ? ""
                              : " or " + found->extract[0]) +
                         " not found" +
                         (found->package.empty()
                              ? ""
                              : " (Debian package " + found->package + ")") +
                         "; its archives are added without a description");
  return nullptr;
}

ArchiveExtraction ExtractWithArchiver(const Archiver& row,
                                      const std::string& archive,
                                      const std::string& readFrom,
                                      const std::string& spec,
                                      const std::string& destination,
                                      const std::string& tempDir) {
  return ReadContained([&] {
    return ReadWithArchiver(row, archive, readFrom, spec, destination, tempDir);
  });
}

void EndArchivers(RunState& state) { state.archivers.reset(); }

}  // namespace qm
