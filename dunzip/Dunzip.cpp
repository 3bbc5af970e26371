// The ZIP library behind the unzip component: counts and extracts the
// members of an archive that match a wildcard spec. Archives come from
// anywhere, so extraction trusts nothing in them: members land flat in the
// destination under their last name component, only as regular files of at
// most 64 KiB whose CRC checks out, and each through a temporary file so a
// failed member leaves nothing behind. Members packed by the PKZIP 1
// methods, which libzip does not read, are decoded here (Pkzip1.h).
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "dunzip/DunzipBlock.h"
#include "dunzip/Pkzip1.h"
#include "platform/FieldText.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/FlatMembers.h"

namespace {

constexpr zip_uint64_t kMaxMemberSize = 64 * 1024;

void SetInfo(DunzipBlock& block, const std::string& text) {
  if (block.infoBuffer != nullptr)
    qm::SetFieldText(block.infoBuffer, kDunzipInfoSize, text);
}

// Forwards progress to the caller's status callbacks; either may ask to
// stop.
class Status {
 public:
  explicit Status(const DunzipBlock& block)
      : major_(block.majorCallback),
        majorUser_(block.majorUser),
        minor_(block.minorCallback),
        minorUser_(block.minorUser) {}

  bool Major(const std::string& item, int32_t percent) {
    if (major_ != nullptr && major_(item.c_str(), percent, majorUser_) != 0)
      cancelled_ = true;
    return !cancelled_;
  }
  bool Minor(const std::string& item, int32_t percent) {
    if (minor_ != nullptr && minor_(item.c_str(), percent, minorUser_) != 0)
      cancelled_ = true;
    return !cancelled_;
  }
  bool Cancelled() const { return cancelled_; }

 private:
  DzStatusCallback major_;
  void* majorUser_;
  DzStatusCallback minor_;
  void* minorUser_;
  bool cancelled_ = false;
};

struct Member {
  zip_uint64_t index;
  std::string name;  // last component of the stored name
  bool atRoot;
};

// Where an archive would end if bytes follow its end record (XMODEM or CP/M
// padding, an advert): each end of an end record whose comment fits, the
// last first. Only the tail of the file is looked at.
std::vector<zip_int64_t> CandidateEnds(const char* path) {
  constexpr size_t kEndRecord = 22;
  constexpr uint64_t kTail = 128 * 1024;
  constexpr size_t kMaxCandidates = 8;
  std::vector<zip_int64_t> ends;
  qm::Result<qm::File> file = qm::File::Open(path, qm::OpenFlags::Read);
  if (!file) return ends;
  const qm::Result<qm::FileFacts> facts = file->Facts();
  std::string tail;
  if (facts && facts->size > kEndRecord) {
    const uint64_t from = facts->size > kTail ? facts->size - kTail : 0;
    tail.resize(static_cast<size_t>(facts->size - from));
    const qm::Result<size_t> got = file->ReadAt(tail.data(), tail.size(), from);
    tail.resize(got ? *got : 0);
    for (size_t at = tail.rfind("PK\5\6");
         at != std::string::npos && ends.size() < kMaxCandidates;
         at = at == 0 ? std::string::npos : tail.rfind("PK\5\6", at - 1)) {
      if (at + kEndRecord > tail.size()) continue;
      const size_t comment = static_cast<unsigned char>(tail[at + 20]) |
                             static_cast<unsigned char>(tail[at + 21]) << 8;
      const size_t end = at + kEndRecord + comment;
      if (end < tail.size())
        ends.push_back(static_cast<zip_int64_t>(from) +
                       static_cast<zip_int64_t>(end));
    }
  }
  return ends;
}

class Archive {
 public:
  ~Archive() {
    if (zip_ != nullptr) zip_discard(zip_);
  }
  // Always with the consistency check (every member's local header against
  // the central directory); bytes after the end record are left out, so a
  // padded archive reads like the same archive without them.
  bool Open(const char* path) {
    int error = 0;
    zip_ = zip_open(path, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (zip_ == nullptr) {
      zip_error_t ze;
      zip_error_init_with_code(&ze, error);
      error_ = zip_error_strerror(&ze);
      zip_error_fini(&ze);
      for (zip_int64_t end : CandidateEnds(path))
        if ((zip_ = OpenPart(path, end)) != nullptr) break;
    }
    return zip_ != nullptr;
  }
  zip_t* get() const { return zip_; }
  const std::string& error() const { return error_; }

 private:
  static zip_t* OpenPart(const char* path, zip_int64_t length) {
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* source = zip_source_file_create(path, 0, length, &ze);
    zip_t* zip =
        source == nullptr
            ? nullptr
            : zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &ze);
    if (zip == nullptr && source != nullptr) zip_source_free(source);
    zip_error_fini(&ze);
    return zip;
  }

  zip_t* zip_ = nullptr;
  std::string error_;
};

std::vector<Member> MatchingMembers(zip_t* zip, const std::string& spec) {
  std::vector<Member> members;
  zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* stored = zip_get_name(zip, i, ZIP_FL_ENC_RAW);
    if (stored == nullptr) continue;
    std::string name = qm::FlatMemberName(stored);
    if (!name.empty() && qm::WildcardMatch(spec, name))
      members.push_back(
          {static_cast<zip_uint64_t>(i), name, qm::MemberAtRoot(stored)});
  }
  return members;
}

// The members that come out flat, in the order they are written: root
// members first, and of members landing on one name only the winner.
std::vector<Member> FlatMembers(std::vector<Member> members) {
  std::stable_partition(members.begin(), members.end(),
                        [](const Member& m) { return m.atRoot; });
  qm::FlatMemberChoice choice;
  std::string displaced;  // never set: the root members come first
  std::erase_if(members, [&](const Member& m) {
    return !choice.Take(m.name, m.atRoot, displaced);
  });
  return members;
}

// Why a member cannot be extracted, or empty when it may be.
std::string RefusalReason(zip_t* zip, zip_uint64_t index,
                          const zip_stat_t& st) {
  if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
      st.encryption_method != ZIP_EM_NONE)
    return "encrypted member";
  zip_uint8_t system = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) ==
          0 &&
      system == ZIP_OPSYS_UNIX) {
    // The file type of a Unix mode, as the archive stores it.
    constexpr zip_uint32_t kType = 0170000, kLink = 0120000, kRegular = 0100000;
    const zip_uint32_t type = (attributes >> 16) & kType;
    if (type == kLink) return "symbolic link member";
    if (type != 0 && type != kRegular) return "not a regular file";
  }
  if ((st.valid & ZIP_STAT_SIZE) && st.size > kMaxMemberSize)
    return "member larger than 64 KiB";
  return "";
}

// Reads a whole member, which checks its CRC at the end.
bool ReadMember(zip_t* zip, const Member& member, zip_uint64_t declared,
                Status& status, std::string& data, std::string& reason) {
  zip_file_t* file = zip_fopen_index(zip, member.index, 0);
  if (file == nullptr) {
    reason = zip_strerror(zip);
    return false;
  }
  char buffer[8192];
  bool ok = true;
  while (true) {
    zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
    if (got < 0) {
      reason = zip_file_strerror(file);
      ok = false;
      break;
    }
    if (got == 0) break;
    data.append(buffer, static_cast<size_t>(got));
    if (data.size() > kMaxMemberSize) {
      reason = "member larger than 64 KiB";
      ok = false;
      break;
    }
    int32_t percent = declared == 0
                          ? 100
                          : static_cast<int32_t>(std::min<zip_uint64_t>(
                                100, data.size() * 100 / declared));
    if (!status.Minor(member.name, percent)) {
      reason = "cancelled";
      ok = false;
      break;
    }
  }
  if (zip_fclose(file) != 0 && ok) {
    reason = "member could not be read";
    ok = false;
  }
  return ok;
}

// A member packed by a PKZIP 1 method: its raw bytes through libzip, decoded
// here, checked against its CRC. The member's bit flags (implode's window
// and tree count) are not given by libzip, so each setting is tried and
// the one whose output checks out is taken.
bool ReadPkzip1Member(zip_t* zip, const Member& member, const zip_stat_t& st,
                      std::string& data, std::string& reason) {
  constexpr zip_uint64_t kMaxPacked = 4 * kMaxMemberSize;
  if (!(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_CRC)) {
    reason = "member sizes unknown";
    return false;
  }
  zip_file_t* file = zip_fopen_index(zip, member.index, ZIP_FL_COMPRESSED);
  if (file == nullptr) {
    reason = zip_strerror(zip);
    return false;
  }
  std::string packed;
  char buffer[8192];
  zip_int64_t got;
  while ((got = zip_fread(file, buffer, sizeof buffer)) > 0 &&
         packed.size() <= kMaxPacked)
    packed.append(buffer, static_cast<size_t>(got));
  zip_fclose(file);
  if (got < 0 || packed.size() > kMaxPacked) {
    reason = got < 0 ? "member could not be read" : "member too large";
    return false;
  }
  const size_t size = static_cast<size_t>(st.size);
  const bool implode = st.comp_method == 6;
  for (const uint16_t flags : std::initializer_list<uint16_t>{0, 2, 4, 6}) {
    if (!implode && flags != 0) break;
    std::string attempt;
    if (!dz::DecodePkzip1(st.comp_method, flags, packed, size, attempt, reason))
      continue;
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(attempt.data()),
                      static_cast<uInt>(attempt.size()));
    if (crc == st.crc) {
      data = std::move(attempt);
      return true;
    }
    reason = "CRC error";
  }
  return false;
}

std::string Spec(const DunzipBlock& block) {
  if (block.fileSpec == nullptr || block.fileSpec[0] == '\0') return "*";
  return block.fileSpec;
}

int32_t Count(DunzipBlock& block) {
  if (block.zipFile == nullptr) return DZ_ERR_ARGUMENT;
  Archive archive;
  if (!archive.Open(block.zipFile)) {
    SetInfo(block, archive.error());
    return DZ_ERR_OPEN;
  }
  block.returnCount =
      static_cast<int32_t>(MatchingMembers(archive.get(), Spec(block)).size());
  return DZ_OK;
}

int32_t Extract(DunzipBlock& block) {
  if (block.zipFile == nullptr || block.destination == nullptr ||
      block.destination[0] == '\0')
    return DZ_ERR_ARGUMENT;
  Archive archive;
  if (!archive.Open(block.zipFile)) {
    SetInfo(block, archive.error());
    return DZ_ERR_OPEN;
  }
  const qm::Result<qm::Directory> dir = qm::Directory::Open(block.destination);
  if (!dir) {
    SetInfo(block, "destination: " + dir.error().Text());
    return DZ_ERR_DESTINATION;
  }
  zip_t* zip = archive.get();
  std::vector<Member> members = FlatMembers(MatchingMembers(zip, Spec(block)));
  Status status(block);
  int32_t written = 0;
  bool failed = false, unwritable = false;
  for (size_t i = 0; i < members.size() && !status.Cancelled(); ++i) {
    const Member& member = members[i];
    if (!status.Major(member.name,
                      static_cast<int32_t>(i * 100 / members.size())))
      break;
    std::string reason;
    zip_stat_t st;
    zip_stat_init(&st);
    std::string data;
    bool ok = zip_stat_index(zip, member.index, 0, &st) == 0;
    if (!ok) reason = zip_strerror(zip);
    if (ok) {
      reason = RefusalReason(zip, member.index, st);
      ok = reason.empty();
    }
    if (ok && (st.valid & ZIP_STAT_COMP_METHOD) &&
        dz::IsPkzip1Method(st.comp_method)) {
      ok = ReadPkzip1Member(zip, member, st, data, reason);
      if (ok && !status.Minor(member.name, 100)) {
        reason = "cancelled";
        ok = false;
      }
    } else if (ok) {
      zip_uint64_t declared = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
      ok = ReadMember(zip, member, declared, status, data, reason);
    }
    if (ok && !block.testFlag) {
      const bool present = dir->Facts(member.name).ok();
      if (present && !block.overWriteFlag) continue;
      time_t mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : 0;
      ok = qm::WriteFlatMember(*dir, member.name, data, mtime, reason);
      unwritable = unwritable || !ok;
    }
    if (ok) {
      ++written;
    } else {
      failed = true;
      SetInfo(block, member.name + ": " + reason);
    }
  }
  if (status.Cancelled()) return DZ_ERR_CANCELLED;
  status.Major("", 100);
  block.returnCount = written;
  if (unwritable) return DZ_ERR_DESTINATION;
  return failed ? DZ_ERR_EXTRACT : DZ_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t dunzip(
    void* commandBlock) {
  if (commandBlock == nullptr) return DZ_ERR_BLOCK;
  auto& block = *static_cast<DunzipBlock*>(commandBlock);
  if (block.blockSize != sizeof(DunzipBlock)) return DZ_ERR_BLOCK;
  try {
    switch (block.function) {
      case DZ_FUNC_COUNT:
        return Count(block);
      case DZ_FUNC_EXTRACT:
        return Extract(block);
      default:
        return DZ_ERR_FUNCTION;
    }
  } catch (...) {
    // Nothing may unwind into the caller through the C entry point.
    return DZ_ERR_EXTRACT;
  }
}
