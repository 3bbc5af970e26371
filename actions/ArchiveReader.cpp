#include "actions/ArchiveReader.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "platform/Contained.h"
#include "platform/File.h"
#include "platform/Files.h"
#include "platform/FlatMembers.h"
#include "platform/Paths.h"

namespace qm {

namespace {

constexpr la_int64_t kMaxMemberSize = 64 * 1024;

enum class Kind { None, SevenZip, Rar, Lha, Tar, GzipTar };

Kind KindOf(const std::string& path) {
  const std::string upper = UpperCase(path);
  auto endsWith = [&](const char* tail) {
    size_t n = std::strlen(tail);
    return upper.size() >= n && upper.compare(upper.size() - n, n, tail) == 0;
  };
  if (endsWith(".7Z")) return Kind::SevenZip;
  if (endsWith(".RAR")) return Kind::Rar;
  if (endsWith(".LZH") || endsWith(".LHA")) return Kind::Lha;
  if (endsWith(".TGZ") || endsWith(".TAR.GZ")) return Kind::GzipTar;
  if (endsWith(".TAR")) return Kind::Tar;
  return Kind::None;
}

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveCloser>;

// Only the one format the name promises (and gzip for its tars): no
// external programs, no format guessed from the bytes.
ArchivePtr OpenReader(Kind kind) {
  ArchivePtr reader(archive_read_new());
  if (!reader) return reader;
  archive* a = reader.get();
  switch (kind) {
    case Kind::SevenZip:
      archive_read_support_format_7zip(a);
      break;
    case Kind::Rar:
      archive_read_support_format_rar(a);
      archive_read_support_format_rar5(a);
      break;
    case Kind::Lha:
      // The reader gives up on a name it cannot turn into characters; read
      // as Latin-1 (Amiga names are), every byte is one.
      archive_read_support_format_lha(a);
      archive_read_set_format_option(a, "lha", "hdrcharset", "ISO-8859-1");
      break;
    case Kind::GzipTar:
      archive_read_support_filter_gzip(a);
      archive_read_support_format_tar(a);
      break;
    case Kind::Tar:
      archive_read_support_format_tar(a);
      break;
    case Kind::None:
      break;
  }
  return reader;
}

// Whether an entry may be written: a regular, unencrypted file within the
// cap (links, devices and the like never are).
bool MayWrite(archive_entry* entry) {
  return !archive_entry_is_encrypted(entry) &&
         archive_entry_hardlink(entry) == nullptr &&
         archive_entry_filetype(entry) == AE_IFREG &&
         !(archive_entry_size_is_set(entry) &&
           archive_entry_size(entry) > kMaxMemberSize);
}

// After a failed call: a reader that ran out of memory says so by its
// error number, or only the allocator's is left (errno cleared before).
void ThrowIfOutOfMemory(archive* a) {
  if (errno == ENOMEM || archive_errno(a) == ENOMEM) throw std::bad_alloc();
}

// The entry's data; false when it cannot be read or grows past the cap.
bool ReadData(archive* a, std::string& data) {
  char buffer[8192];
  while (true) {
    errno = 0;
    la_ssize_t got = archive_read_data(a, buffer, sizeof buffer);
    if (got < 0) ThrowIfOutOfMemory(a);
    if (got <= 0) return got == 0;
    data.append(buffer, static_cast<size_t>(got));
    if (data.size() > static_cast<size_t>(kMaxMemberSize)) return false;
  }
}

// The stored name as its bytes, as the upload's system wrote it: an LhA
// name comes back as Latin-1 characters, one per byte; the other formats
// give bytes (7z's UTF-16 names as UTF-8).
std::string StoredName(archive_entry* entry, Kind kind) {
  if (kind == Kind::Lha)
    if (const wchar_t* wide = archive_entry_pathname_w(entry)) {
      std::string bytes;
      for (; *wide != 0 && *wide <= 0xFF; ++wide)
        bytes.push_back(static_cast<char>(*wide));
      if (*wide == 0) return bytes;
    }
  const char* stored = archive_entry_pathname(entry);
  if (stored == nullptr) stored = archive_entry_pathname_utf8(entry);
  return stored == nullptr ? "" : stored;
}

// Character conversions of the reader in UTF-8, so that every name has a
// spelling, whatever the process's locale; the previous one comes back.
class Utf8Characters {
 public:
  Utf8Characters()
      : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})),
        previous_(utf8_ ? uselocale(utf8_) : locale_t{}) {}
  ~Utf8Characters() {
    if (utf8_) {
      uselocale(previous_);
      freelocale(utf8_);
    }
  }
  Utf8Characters(const Utf8Characters&) = delete;
  Utf8Characters& operator=(const Utf8Characters&) = delete;

 private:
  locale_t utf8_;
  locale_t previous_;
};

// The reading itself, in the child process.
ArchiveExtraction ReadMembers(const std::string& archivePath,
                              const std::string& spec,
                              const std::string& destination,
                              const std::string& readFrom) {
  ArchiveExtraction result;
  Utf8Characters characters;
  const Kind kind = KindOf(archivePath);
  ArchivePtr reader = OpenReader(kind);
  Result<Directory> dir = Directory::Open(destination);
  if (!reader || !dir) return result;
  archive* a = reader.get();
  errno = 0;
  const std::string& source = readFrom.empty() ? archivePath : readFrom;
  if (archive_read_open_filename(a, source.c_str(), 16384) != ARCHIVE_OK) {
    ThrowIfOutOfMemory(a);
    return result;
  }
  const bool plainSpec = spec.find_first_of("*?") == std::string::npos;
  FlatMemberChoice choice;
  bool written = true;
  while (true) {
    archive_entry* entry = nullptr;
    errno = 0;
    int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) {
      result.readable = true;
      break;
    }
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
      ThrowIfOutOfMemory(a);
      break;
    }
    // Folders are no members (a ZIP names them with a trailing slash).
    const std::string stored = StoredName(entry, kind);
    if (stored.empty() || archive_entry_filetype(entry) == AE_IFDIR) continue;
    const std::string name = FlatMemberName(stored);
    if (name.empty() || !WildcardMatch(spec, name)) continue;
    std::string displaced;
    const bool atRoot = MemberAtRoot(stored);
    if (!choice.Take(name, atRoot, displaced)) continue;
    if (!displaced.empty()) (void)dir->Remove(displaced);
    std::string data, reason;
    time_t mtime =
        archive_entry_mtime_is_set(entry) ? archive_entry_mtime(entry) : 0;
    if (!MayWrite(entry) || !ReadData(a, data)) {
      written = false;
    } else if (!WriteFlatMember(*dir, name, data, mtime, reason)) {
      written = false;
      result.unwritable = true;
    }
    if (plainSpec && atRoot) {
      result.readable = true;
      break;
    }
  }
  result.complete = result.readable && written;
  return result;
}

}  // namespace

bool IsReadableArchiveName(const std::string& path) {
  return KindOf(path) != Kind::None;
}

ArchiveExtraction ExtractArchiveMembers(const std::string& archivePath,
                                        const std::string& spec,
                                        const std::string& destination,
                                        const std::string& readFrom) {
  ContainedLimits limits;
  limits.seconds = kArchiveSeconds;
  limits.extraBytes = size_t{kArchiveMemoryMiB} << 20;
  const ContainedResult run = RunContained(
      [&] {
        ArchiveExtraction read =
            ReadMembers(archivePath, spec, destination, readFrom);
        return std::string{read.readable ? '1' : '0', read.complete ? '1' : '0',
                           read.unwritable ? '1' : '0'};
      },
      limits);
  ArchiveExtraction result;
  switch (run.end) {
    case ContainedEnd::Finished:
      result.readable = run.reply.size() == 3 && run.reply[0] == '1';
      result.complete = result.readable && run.reply[1] == '1';
      result.unwritable = result.readable && run.reply[2] == '1';
      break;
    case ContainedEnd::TimedOut:
      result.limit = ArchiveLimit::Time;
      break;
    case ContainedEnd::OutOfMemory:
      result.limit = ArchiveLimit::Memory;
      break;
    case ContainedEnd::Failed:
      result.limit = ArchiveLimit::Fault;
      break;
  }
  return result;
}

}  // namespace qm
