// The ZIP library called directly through its entry point, against real and
// hostile archives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "dunzip/DunzipBlock.h"
#include "platform/Library.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using qmtest::Exists;
using qmtest::ListDir;
using qmtest::ReadFile;
using qmtest::TempDir;
using qmtest::WriteFile;

namespace {

struct Entry {
  std::string name;
  std::string data;
  uint32_t unixMode = 0;  // external attributes' file type and mode
  uint16_t encryption = ZIP_EM_NONE;
  bool store = false;  // no compression, so the bytes can be patched
};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("building the archive: " + what);
}

void BuildZip(const std::string& path, const std::vector<Entry>& entries) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  Check(archive != nullptr, path);
  for (const Entry& entry : entries) {
    bool directory = entry.name.back() == '/';
    zip_int64_t index =
        directory ? zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_UTF_8)
                  : zip_file_add(archive, entry.name.c_str(),
                                 zip_source_buffer(archive, entry.data.data(),
                                                   entry.data.size(), 0),
                                 ZIP_FL_ENC_UTF_8);
    Check(index >= 0, entry.name);
    if (entry.unixMode != 0)
      Check(zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX,
                                             entry.unixMode << 16) == 0,
            "attributes");
    if (entry.encryption != ZIP_EM_NONE)
      Check(zip_file_set_encryption(archive, index, entry.encryption,
                                    "secret") == 0,
            "encryption");
    if (entry.store)
      Check(zip_set_file_compression(archive, index, ZIP_CM_STORE, 0) == 0,
            "compression");
  }
  Check(zip_close(archive) == 0, zip_strerror(archive));
}

void PutLittle(std::string& bytes, uint32_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes.push_back(static_cast<char>(value >> (8 * i)));
}

// A one-member archive written byte by byte, for compression methods no
// tool here makes: the packed bytes as given, the method and sizes stated.
std::string RawZip(const std::string& name, uint16_t method,
                   const std::string& packed, const std::string& plain) {
  uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(plain.data()),
            static_cast<uInt>(plain.size())));
  auto common = [&](std::string& b) {
    PutLittle(b, 10, 2);      // version needed
    PutLittle(b, 0, 2);       // flags
    PutLittle(b, method, 2);  // method
    PutLittle(b, 0, 4);       // time and date
    PutLittle(b, crc, 4);
    PutLittle(b, static_cast<uint32_t>(packed.size()), 4);
    PutLittle(b, static_cast<uint32_t>(plain.size()), 4);
    PutLittle(b, static_cast<uint32_t>(name.size()), 2);
    PutLittle(b, 0, 2);  // extra field
  };
  std::string zip = "PK\3\4";
  common(zip);
  zip += name + packed;
  const size_t central = zip.size();
  zip += "PK\1\2";
  PutLittle(zip, 10, 2);  // version made by
  common(zip);
  PutLittle(zip, 0, 2);  // comment
  PutLittle(zip, 0, 2);  // disk
  PutLittle(zip, 0, 2);  // internal attributes
  PutLittle(zip, 0, 4);  // external attributes
  PutLittle(zip, 0, 4);  // local header offset
  zip += name;
  const size_t end = zip.size();
  zip += "PK\5\6";
  PutLittle(zip, 0, 4);  // disks
  PutLittle(zip, 1, 2);
  PutLittle(zip, 1, 2);
  PutLittle(zip, static_cast<uint32_t>(end - central), 4);
  PutLittle(zip, static_cast<uint32_t>(central), 4);
  PutLittle(zip, 0, 2);
  return zip;
}

// Bits packed from the low end of each byte up, as the reduce method reads.
class BitWriter {
 public:
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
      if (bits_ % 8 == 0) bytes_.push_back('\0');
      if ((value >> i) & 1)
        bytes_.back() |= static_cast<char>(1 << (bits_ % 8));
      ++bits_;
    }
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  int bits_ = 0;
};

class Dunzip : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = qm::LoadLibraryA(qmtest::BinDir() + "/libdunzip.so");
    ASSERT_NE(library_, nullptr);
    entry_ =
        reinterpret_cast<DunzipEntry>(qm::GetProcAddress(library_, "dunzip"));
    ASSERT_NE(entry_, nullptr);
    dest_ = dir_ / "dest";
    outside_ = dir_ / "outside";
    qmtest::MakeDirs(dest_);
    qmtest::MakeDirs(outside_);
  }
  void TearDown() override { qm::FreeLibrary(library_); }

  int32_t Call(int32_t function, const std::string& zip,
               const std::string& spec, bool overwrite = true) {
    std::memset(&block_, 0, sizeof block_);
    block_.blockSize = sizeof block_;
    block_.function = function;
    block_.zipFile = zip.c_str();
    block_.infoBuffer = info_;
    block_.fileSpec = spec.c_str();
    block_.destination = dest_.c_str();
    block_.overWriteFlag = overwrite ? 1 : 0;
    block_.quietFlag = 1;
    block_.noDirectoryNamesFlag = 1;
    block_.returnCount = -7;
    return entry_(&block_);
  }
  int32_t Count(const std::string& zip, const std::string& spec) {
    EXPECT_EQ(Call(DZ_FUNC_COUNT, zip, spec), DZ_OK);
    return block_.returnCount;
  }

  // Every file below the test directory, outside the destination included.
  std::vector<std::string> AllFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
      if (!entry.is_directory())
        files.push_back(fs::relative(entry.path(), dir_.path()).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  TempDir dir_;
  std::string dest_, outside_;
  void* library_ = nullptr;
  DunzipEntry entry_ = nullptr;
  DunzipBlock block_{};
  char info_[kDunzipInfoSize] = {};
};

TEST_F(Dunzip, CountsMembersByLastNameWithoutRegardToCase) {
  std::string zip = dir_ / "game.zip";
  BuildZip(zip, {{"FILE_ID.DIZ", "top"},
                 {"docs/file_id.diz", "nested"},
                 {"docs/", ""},
                 {"readme.txt", "r"},
                 {"notes/File_Id.Diz.bak", "b"}});
  EXPECT_EQ(Count(zip, "file_id.diz"), 2);
  EXPECT_EQ(Count(zip, "F?LE_ID.*"), 3);
  EXPECT_EQ(Count(zip, "*.TXT"), 1);
  EXPECT_EQ(Count(zip, "*"), 4);  // the directory entry has no name
  EXPECT_EQ(Count(zip, "NA"), 0);
  EXPECT_TRUE(ListDir(dest_).empty());
}

TEST_F(Dunzip, ExtractsMatchingMembersFlatAndReplacesFiles) {
  std::string zip = dir_ / "game.zip";
  BuildZip(zip, {{"a/b/FILE_ID.DIZ", "line one\r\nline two\r\n"},
                 {"readme.txt", "other"}});
  WriteFile(dest_ + "/FILE_ID.DIZ", "old description");

  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "file_id.diz"), DZ_OK);
  EXPECT_EQ(block_.returnCount, 1);
  EXPECT_EQ(ListDir(dest_), std::vector<std::string>{"FILE_ID.DIZ"});
  EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), "line one\r\nline two\r\n");

  // Without the overwrite flag an existing file is kept.
  WriteFile(dest_ + "/FILE_ID.DIZ", "kept");
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*.diz", false), DZ_OK);
  EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), "kept");
}

TEST_F(Dunzip, RefusesBadBlocksAndOtherFunctions) {
  std::string zip = dir_ / "game.zip";
  qmtest::MakeZip(zip, {{"FILE_ID.DIZ", "x"}});
  EXPECT_EQ(entry_(nullptr), DZ_ERR_BLOCK);
  for (int32_t function : {1, 2, 4, 5, 6, 7, 9})
    EXPECT_NE(Call(function, zip, "*"), DZ_OK) << function;
  std::memset(&block_, 0, sizeof block_);
  block_.blockSize = sizeof block_ - 1;
  block_.function = DZ_FUNC_COUNT;
  block_.zipFile = zip.c_str();
  EXPECT_EQ(entry_(&block_), DZ_ERR_BLOCK);
  EXPECT_TRUE(ListDir(dest_).empty());
}

TEST_F(Dunzip, TraversalAndAbsoluteNamesLandFlatInTheDestination) {
  std::string zip = outside_ + "/hostile.zip";
  BuildZip(zip, {{"../escape.diz", "1"},
                 {"../../escape2.diz", "2"},
                 {outside_ + "/abs.diz", "3"},
                 {"..\\..\\win.diz", "4"},
                 {"C:evil.diz", "5"},
                 {"..", "6"},
                 {"sub/.", "7"}});
  EXPECT_EQ(Count(zip, "*"), 5);
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*"), DZ_OK);
  EXPECT_EQ(block_.returnCount, 5);
  EXPECT_EQ(AllFiles(),
            (std::vector<std::string>{"dest/abs.diz", "dest/escape.diz",
                                      "dest/escape2.diz", "dest/evil.diz",
                                      "dest/win.diz", "outside/hostile.zip"}));
  EXPECT_EQ(ReadFile(dest_ + "/win.diz"), "4");
}

TEST_F(Dunzip, RefusesLinkEncryptedAndOversizedMembers) {
  struct Case {
    const char* name;
    Entry entry;
  };
  uint16_t cipher = zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)
                        ? ZIP_EM_TRAD_PKWARE
                        : ZIP_EM_AES_256;
  ASSERT_TRUE(zip_encryption_method_supported(cipher, 1));
  std::vector<Case> cases = {
      {"symlink", {"FILE_ID.DIZ", outside_ + "/victim", S_IFLNK | 0777}},
      {"fifo", {"FILE_ID.DIZ", "", S_IFIFO | 0644}},
      {"encrypted", {"FILE_ID.DIZ", "secret text", 0, cipher}},
      {"oversized", {"FILE_ID.DIZ", std::string(64 * 1024 + 1, 'x')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string zip = dir_ / (std::string(c.name) + ".zip");
    BuildZip(zip, {c.entry, {"readme.txt", "fine"}});
    EXPECT_EQ(Count(zip, "file_id.diz"), 1);
    EXPECT_EQ(Call(DZ_FUNC_EXTRACT, zip, "file_id.diz"), DZ_ERR_EXTRACT);
    EXPECT_TRUE(ListDir(dest_).empty());
    EXPECT_FALSE(Exists(outside_ + "/victim"));
    EXPECT_NE(std::string(info_).find("FILE_ID.DIZ"), std::string::npos);
  }

  // 64 KiB exactly is still a description.
  std::string zip = dir_ / "limit.zip";
  BuildZip(zip, {{"FILE_ID.DIZ", std::string(64 * 1024, 'y')}});
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*"), DZ_OK);
  EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ").size(), 64u * 1024);
}

TEST_F(Dunzip, CorruptDataFailsAndWritesNothing) {
  std::string zip = dir_ / "crc.zip";
  const std::string text = "a description whose bytes get damaged";
  BuildZip(zip, {{"FILE_ID.DIZ", text, 0, ZIP_EM_NONE, true}});
  std::string bytes = ReadFile(zip);
  size_t at = bytes.find(text);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] ^= 0x20;
  WriteFile(zip, bytes);
  EXPECT_EQ(Count(zip, "*"), 1);  // the directory itself is sound
  EXPECT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*"), DZ_ERR_EXTRACT);
  EXPECT_TRUE(ListDir(dest_).empty());

  std::string cut = dir_ / "cut.zip";
  qmtest::MakeZip(cut, {{"FILE_ID.DIZ", "complete"}});
  std::string whole = ReadFile(cut);
  WriteFile(cut, whole.substr(0, whole.size() / 2));
  EXPECT_EQ(Call(DZ_FUNC_COUNT, cut, "*"), DZ_ERR_OPEN);
  EXPECT_EQ(Call(DZ_FUNC_EXTRACT, cut, "*"), DZ_ERR_OPEN);
  WriteFile(cut, "PK\3\4 not really an archive");
  EXPECT_EQ(Call(DZ_FUNC_COUNT, cut, "*"), DZ_ERR_OPEN);
  EXPECT_EQ(Call(DZ_FUNC_COUNT, dir_ / "missing.zip", "*"), DZ_ERR_OPEN);
  EXPECT_TRUE(ListDir(dest_).empty());
}

// A DOS or Amiga name is bytes in its own character set: matched and
// written as those bytes, never converted.
TEST_F(Dunzip, EightBitNamesMatchByTheirBytes) {
  const std::string name =
      "\xBB"
      "BEST\xAB.DIZ";
  std::string zip = dir_ / "amiga.zip";
  WriteFile(zip, RawZip(name, 0, "best", "best"));
  EXPECT_EQ(Count(zip, "\xBB*"), 1);
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*.diz"), DZ_OK) << info_;
  EXPECT_EQ(ListDir(dest_), std::vector<std::string>{name});
  ASSERT_EQ(unlink((dest_ + "/" + name).c_str()), 0);
}

// Uploads that passed through XMODEM or CP/M storage, or got an advert
// appended, read like the archive without those bytes; the checks of every
// member against its local header stay.
TEST_F(Dunzip, BytesAfterTheEndRecordAreLeftOut) {
  std::string sound = dir_ / "sound.zip";
  BuildZip(sound, {{"FILE_ID.DIZ", "A padded upload"}, {"GAME.EXE", "MZ"}});
  const std::string bytes = ReadFile(sound);
  const std::string comment = RawZip("FILE_ID.DIZ", 0, "x", "x");
  const std::vector<std::string> tails = {
      std::string(128 - bytes.size() % 128, '\x1A'), std::string(881, '\0'),
      std::string(1, '\x1A'), "\r\n-- Uploaded to The Night Owl BBS --\r\n",
      // an advert that is itself an archive's end
      comment.substr(comment.find("PK\5\6")) + std::string(40, '\0')};
  for (const std::string& tail : tails) {
    SCOPED_TRACE(tail.size());
    std::string zip = dir_ / "padded.zip";
    WriteFile(zip, bytes + tail);
    EXPECT_EQ(Count(zip, "*"), 2);
    ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "file_id.diz"), DZ_OK) << info_;
    EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), "A padded upload");
    ASSERT_EQ(unlink((dest_ + "/FILE_ID.DIZ").c_str()), 0);
  }
  // A member whose local header disagrees with the directory is refused,
  // padded or not.
  std::string damaged = bytes;
  const size_t local = damaged.find("FILE_ID.DIZ");
  ASSERT_LT(local, damaged.find("PK\1\2"));
  damaged[local] = 'X';
  for (const std::string& tail : {std::string(), tails[0]}) {
    WriteFile(dir_ / "damaged.zip", damaged + tail);
    EXPECT_EQ(Call(DZ_FUNC_COUNT, dir_ / "damaged.zip", "*"), DZ_ERR_OPEN);
  }
  EXPECT_TRUE(ListDir(dest_).empty());
}

TEST_F(Dunzip, ReplacesALinkInTheDestinationInsteadOfFollowingIt) {
  WriteFile(outside_ + "/victim.txt", "original");
  ASSERT_EQ(symlink((outside_ + "/victim.txt").c_str(),
                    (dest_ + "/FILE_ID.DIZ").c_str()),
            0);
  std::string zip = dir_ / "game.zip";
  qmtest::MakeZip(zip, {{"FILE_ID.DIZ", "new"}});
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "*"), DZ_OK);
  EXPECT_EQ(ReadFile(outside_ + "/victim.txt"), "original");
  struct stat st;
  ASSERT_EQ(lstat((dest_ + "/FILE_ID.DIZ").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), "new");
}

TEST_F(Dunzip, Pkzip1MethodsComeOutAsWritten) {
  // A real upload: FILE_ID.DIZ shrunk, TNPORT.TXT imploded with three trees
  // and an 8 KiB window, TNPORT.EXE with two trees and 4 KiB. Each member's
  // CRC is checked; the text is compared with what Info-ZIP unzip gives.
  const std::string data = std::string(QM_SOURCE_DIR) + "/tests/data/";
  std::string legacy = dir_ / "LEGACY.ZIP";
  WriteFile(legacy, ReadFile(data + "LEGACY.ZIP"));
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, legacy, "TNPORT.*"), DZ_OK) << info_;
  EXPECT_EQ(block_.returnCount, 2);
  EXPECT_EQ(ReadFile(dest_ + "/TNPORT.TXT"), ReadFile(data + "LEGACY.TXT"));
  EXPECT_EQ(fs::file_size(dest_ + "/TNPORT.EXE"), 38950u);
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, legacy, "file_id.diz"), DZ_OK) << info_;
  EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), ReadFile(data + "LEGACY.DIZ"));

  // A damaged shrunk member is refused whole.
  std::string bytes = ReadFile(legacy);
  size_t name = bytes.find("FILE_ID.DIZ");
  ASSERT_NE(name, std::string::npos);
  size_t extra = static_cast<uint8_t>(bytes[name - 2]) |
                 static_cast<uint8_t>(bytes[name - 1]) << 8;
  bytes[name + 11 + extra + 40] ^= 0x5A;
  std::string damaged = dir_ / "DAMAGED.ZIP";
  WriteFile(damaged, bytes);
  fs::remove(dest_ + "/FILE_ID.DIZ");
  EXPECT_EQ(Call(DZ_FUNC_EXTRACT, damaged, "file_id.diz"), DZ_ERR_EXTRACT);
  EXPECT_FALSE(Exists(dest_ + "/FILE_ID.DIZ"));

  // Reduced with each factor: follower sets (empty but for 'a', whose set
  // is "bc"), literals, an escaped 144 and a back reference.
  const std::string plain = std::string("abacab") + '\x90' + "abacab" + "!";
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    BitWriter out;
    for (int c = 255; c >= 0; --c) {
      out.Put(c == 'a' ? 2 : 0, 6);
      if (c == 'a') out.Put('b', 8), out.Put('c', 8);
    }
    uint8_t last = 0;
    auto put = [&](uint8_t c) {
      if (last == 'a' && (c == 'b' || c == 'c'))
        out.Put(0, 1), out.Put(c == 'b' ? 0 : 1, 1);
      else if (last == 'a')
        out.Put(1, 1), out.Put(c, 8);
      else
        out.Put(c, 8);
      last = c;
    };
    for (uint8_t c : std::string("abacab")) put(c);
    put(144), put(0);  // a literal 144
    // Copy the 6 bytes from 7 back: length 6 - 3, distance 7 - 1.
    put(144), put(static_cast<uint8_t>(3)), put(6);
    put('!');
    std::string zip = dir_ / ("REDUCE" + std::to_string(factor) + ".ZIP");
    WriteFile(zip, RawZip("FILE_ID.DIZ", static_cast<uint16_t>(1 + factor),
                          out.Bytes(), plain));
    ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "file_id.diz"), DZ_OK) << info_;
    EXPECT_EQ(ReadFile(dest_ + "/FILE_ID.DIZ"), plain);
  }
}

TEST_F(Dunzip, RootMemberWinsAmongThoseLandingOnOneName) {
  std::string zip = dir_ / "game.zip";
  BuildZip(zip, {{"SUBDIR/FILE_ID.DIZ", "other program"},
                 {"File_id.diz", "this upload"},
                 {"FILE_ID.DIZ", "later root member"},
                 {"readme.txt", "r"}});
  ASSERT_EQ(Call(DZ_FUNC_EXTRACT, zip, "file_id.diz"), DZ_OK);
  EXPECT_EQ(block_.returnCount, 1);
  EXPECT_EQ(ListDir(dest_), std::vector<std::string>{"File_id.diz"});
  EXPECT_EQ(ReadFile(dest_ + "/File_id.diz"), "this upload");
}

}  // namespace
