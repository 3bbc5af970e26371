#include "actions/ArchiveReader.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

// The archive's bytes from where it starts in the file (after a program
// stub), for the reader's callbacks.
struct Source {
  File file;
  uint64_t start = 0;
  uint64_t size = 0;  // the file's
  uint64_t at = 0;    // from start
  char buffer[16384];

  uint64_t Left() const { return size - start - at; }
};

la_ssize_t ReadSource(archive*, void* data, const void** block) {
  Source& source = *static_cast<Source*>(data);
  *block = source.buffer;
  const Result<size_t> got = source.file.ReadAt(
      source.buffer, sizeof source.buffer, source.start + source.at);
  if (!got) return -1;
  source.at += *got;
  return static_cast<la_ssize_t>(*got);
}

la_int64_t SeekSource(archive*, void* data, la_int64_t offset, int whence) {
  Source& source = *static_cast<Source*>(data);
  const la_int64_t length = static_cast<la_int64_t>(source.size - source.start);
  la_int64_t to = offset;
  if (whence == SEEK_CUR) to += static_cast<la_int64_t>(source.at);
  if (whence == SEEK_END) to += length;
  if (to < 0 || to > length) return ARCHIVE_FATAL;
  source.at = static_cast<uint64_t>(to);
  return to;
}

la_int64_t SkipSource(archive*, void* data, la_int64_t request) {
  Source& source = *static_cast<Source*>(data);
  const la_int64_t skipped =
      std::min(request, static_cast<la_int64_t>(source.Left()));
  source.at += static_cast<uint64_t>(skipped);
  return skipped;
}

// Whether an LHA level 0, 1 or 2 header starts at the bytes: a known
// method, and for levels 0 and 1 the header's own checksum.
bool LhaHeaderAt(const std::string& bytes, size_t at) {
  if (at + 22 > bytes.size()) return false;
  auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
  const std::string method = bytes.substr(at + 2, 5);
  const bool known = (method.compare(0, 3, "-lh") == 0 &&
                      std::strchr("01234567d", method[3]) != nullptr) ||
                     (method.compare(0, 3, "-lz") == 0 &&
                      std::strchr("s45", method[3]) != nullptr);
  if (!known || method[3] == 0 || method[4] != '-') return false;
  const uint8_t level = byte(20);
  if (level == 2) return (byte(0) | byte(1) << 8) >= 26;
  if (level > 1 || byte(0) < 22 || at + 2 + byte(0) > bytes.size())
    return false;
  uint8_t sum = 0;
  for (size_t i = 2; i < 2u + byte(0); ++i)
    sum = static_cast<uint8_t>(sum + byte(i));
  return sum == byte(1);
}

// Where an archive of a format read here starts after the program stub of
// a self-extracting one, within the first kStubSearch bytes; what the
// bytes hold decides, not the name.
constexpr size_t kStubSearch = 1 << 20;

bool FindAfterStub(File& file, Kind& kind, uint64_t& start) {
  std::string head(kStubSearch, '\0');
  const Result<size_t> got = file.ReadAt(head.data(), head.size(), 0);
  if (!got || *got < 2 || head.compare(0, 2, "MZ") != 0) return false;
  head.resize(*got);
  for (size_t at = head.find("-l", 2); at != std::string::npos;
       at = head.find("-l", at + 1))
    if (LhaHeaderAt(head, at - 2)) {
      kind = Kind::Lha;
      start = at - 2;
      return true;
    }
  return false;
}

// An LHA upload kept on CP/M ends in Ctrl-Z up to a 128-byte record where
// its end byte would be: nothing but that padding left is the end.
bool OnlyPaddingFrom(Source& source, uint64_t at) {
  constexpr uint64_t kRecord = 128;
  const uint64_t left = source.size - source.start - at;
  if (left == 0 || left > kRecord) return false;
  std::string tail(static_cast<size_t>(left), '\0');
  const Result<size_t> got =
      source.file.ReadAt(tail.data(), tail.size(), source.start + at);
  return got && *got == tail.size() &&
         tail.find_first_not_of('\x1A') == std::string::npos;
}

// The reading itself, in the child process.
ArchiveExtraction ReadMembers(const std::string& archivePath,
                              const std::string& spec,
                              const std::string& destination,
                              const std::string& readFrom) {
  ArchiveExtraction result;
  Utf8Characters characters;
  auto source = std::make_unique<Source>();
  Result<File> opened =
      File::Open(readFrom.empty() ? archivePath : readFrom, OpenFlags::Read);
  if (!opened) return result;
  source->file = std::move(*opened);
  const Result<FileFacts> facts = source->file.Facts();
  if (!facts) return result;
  source->size = facts->size;
  Kind kind = KindOf(archivePath);
  if (kind == Kind::None && !FindAfterStub(source->file, kind, source->start))
    return result;
  ArchivePtr reader = OpenReader(kind);
  Result<Directory> dir = Directory::Open(destination);
  if (!reader || !dir) return result;
  archive* a = reader.get();
  errno = 0;
  archive_read_set_callback_data(a, source.get());
  archive_read_set_read_callback(a, ReadSource);
  archive_read_set_seek_callback(a, SeekSource);
  archive_read_set_skip_callback(a, SkipSource);
  if (archive_read_open1(a) != ARCHIVE_OK) {
    ThrowIfOutOfMemory(a);
    return result;
  }
  const bool plainSpec = spec.find_first_of("*?") == std::string::npos;
  FlatMemberChoice choice;
  bool written = true;
  bool entered = false;  // a header was asked for
  while (true) {
    archive_entry* entry = nullptr;
    errno = 0;
    // Where the next header starts: once the reader has failed it no
    // longer says.
    if (kind == Kind::Lha && entered && archive_read_data_skip(a) != ARCHIVE_OK)
      break;
    const la_int64_t next = archive_filter_bytes(a, -1);
    entered = true;
    int status = archive_read_next_header(a, &entry);
    if (status == ARCHIVE_EOF) {
      result.readable = true;
      break;
    }
    if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
      ThrowIfOutOfMemory(a);
      if (kind == Kind::Lha &&
          OnlyPaddingFrom(*source, static_cast<uint64_t>(next)))
        result.readable = true;
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

ArchiveExtraction ReadContained(
    const std::function<ArchiveExtraction()>& read) {
  ContainedLimits limits;
  limits.seconds = kArchiveSeconds;
  limits.extraBytes = size_t{kArchiveMemoryMiB} << 20;
  const ContainedResult run = RunContained(
      [&] {
        const ArchiveExtraction done = read();
        return std::string{done.readable ? '1' : '0', done.complete ? '1' : '0',
                           done.unwritable ? '1' : '0'};
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

ArchiveExtraction ExtractArchiveMembers(const std::string& archivePath,
                                        const std::string& spec,
                                        const std::string& destination,
                                        const std::string& readFrom) {
  return ReadContained(
      [&] { return ReadMembers(archivePath, spec, destination, readFrom); });
}

}  // namespace qm
