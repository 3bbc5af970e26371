// The unzip component: keeps the ZIP library's parameters as properties,
// fills its command block from them and calls its entry point `dunzip`.
// The library is loaded at run time from the program's directory.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "dunzip/DunzipBlock.h"

namespace qm {

// A small set over an enumeration whose values are bit numbers.
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E item : items) Include(item);
  }
  constexpr void Include(E item) { bits_ |= Bit(item); }
  constexpr void Exclude(E item) { bits_ &= static_cast<Bits>(~Bit(item)); }
  constexpr bool Contains(E item) const { return (bits_ & Bit(item)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits Value() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr Bits Bit(E item) {
    return static_cast<Bits>(1u << static_cast<unsigned>(item));
  }
  Bits bits_ = 0;
};

enum TUnzipFlag : uint8_t {
  FreshenFlag,
  UpdateFlag,
  OverWriteFlag,
  QuietFlag,
  TestFlag,
  NoDirectoryNamesFlag,
  RecurseFlag,
  NoDirectoryItemsFlag,
  bDiagnostic,
  bLF2CRLFFlag,
  DecryptFlag,
};
using TUnzipFlags = TSet<TUnzipFlag, uint16_t>;

enum TUnzipSubOption : uint8_t {
  USO_OVERWRITE_RO,
  USO_MINORCANCEL,
  USO_EXTERNALPROG,
  USO_EXTPROGCANCEL,
  USO_IGNORELONGNAMES,
  USO_MANGLELONGNAMES,
  USO_FORCEREMOVEABLE,
  USO_LOGZIPRESULTS,
};
using TUnzipSubOptions = TSet<TUnzipSubOption, uint8_t>;

// The library's mask for a set of sub-options (bit 64 is not used).
uint16_t SubOptionMask(TUnzipSubOptions options);

// One zero-terminated text for the library. Created with size 0 it grows
// to fit each text; created with a size it keeps a buffer of that size and
// cuts longer texts to size - 1 characters.
class TLPStr {
 public:
  explicit TLPStr(uint16_t size = 0);
  TLPStr(const TLPStr&) = delete;
  // The command block points into the buffer; a whole-object assignment
  // would swap or drop it behind the owner's back, so only SetText changes
  // the text.
  TLPStr& operator=(const TLPStr&) = delete;

  void SetText(std::string_view text);
  // Empties a fixed buffer; releases a growing one.
  void Clear();
  // Makes the buffer fixed at size bytes, emptied (0: growing, released).
  void SetFixedSize(uint16_t size);

  std::string Text() const;
  // For the command block: null when there is no buffer.
  const char* Pointer() const { return buffer_.get(); }
  char* Data() { return buffer_.get(); }
  uint16_t Size() const { return size_; }
  bool Fixed() const { return fixed_; }

 private:
  std::unique_ptr<char[]> buffer_;
  uint16_t size_ = 0;
  bool fixed_ = false;
};

using TStatusCallback = std::function<void(const std::string& szItem,
                                           int32_t Percent, bool& DoCancel)>;
using TMessageCallback = std::function<void(
    uint16_t MsgID, uint16_t mbType, int32_t p1, int32_t p2,
    const std::string& lpsz1, const std::string& lpsz2, int32_t& RtnResult)>;
using TRenameCallback = std::function<void(void* dzr)>;

// The events and the callbacks the library calls during a call. The
// library's user value is the TDynaZip itself.
class TDynaZip {
 public:
  TStatusCallback OnMajorCallback;
  TStatusCallback OnMinorCallback;
  TMessageCallback OnMessageCallback;
  TRenameCallback OnRenameCallback;

  TDynaZip(const TDynaZip&) = delete;
  TDynaZip& operator=(const TDynaZip&) = delete;

 protected:
  TDynaZip() = default;
  ~TDynaZip() = default;

  static uint8_t MajorStatus(const char* item, int32_t percent, void* user);
  static uint8_t MinorStatus(const char* item, int32_t percent, void* user);
  static int32_t Message(uint16_t msgId, uint16_t mbType, int32_t p1,
                         int32_t p2, const char* lpsz1, const char* lpsz2,
                         void* user);
  static int32_t Rename(void* renameRecord, void* user);

  void* UserValue() { return this; }
  // An event that threw during the call: rethrown once the call is over,
  // so it never unwinds through the library.
  void RethrowPending();

 private:
  static uint8_t Status(const TStatusCallback& event, const char* item,
                        int32_t percent, void* user);
  std::exception_ptr pending_;
};

}  // namespace qm

class TUnzipFile : public qm::TDynaZip {
 public:
  static constexpr const char* kLibraryName = "libdunzip.so";
  static constexpr int32_t kNotLoaded = -1;  // last return code

  struct LoadResult {
    bool ok = false;
    std::string error;  // the warning to show before ending the program
  };
  // Loads the library from programDir once for the program; every instance
  // shares it. Gives "Could not load DUNZIP32.DLL!" or "Could not load
  // dunzip function!" on failure; the caller shows it and ends with code 1.
  static LoadResult Load(const std::string& programDir);
  static bool Loaded();

  // Loads the library when that was not done yet; without it Execute
  // gives false with the return code kNotLoaded.
  explicit TUnzipFile(const std::string& programDir);
  ~TUnzipFile();

  qm::TLPStr lpszZipFile;
  qm::TLPStr lpszFileSpec;
  int32_t IndexofItem = 0;
  qm::TLPStr lpszDestination;
  qm::TUnzipFlags Options;
  qm::TLPStr lpszDecryptCode;
  qm::TUnzipSubOptions wUnzipSubOptions;
  qm::TLPStr lpszExtProgTitle;
  qm::TLPStr lpszReturnString;

  int32_t ReturnCount() const { return returnCount_; }
  int32_t ReturnCode() const { return returnCode_; }
  // What the library wrote into the information buffer (its last problem).
  std::string InfoText() const;

  // Rebuilds the command block from the current properties.
  void PrepareCommand(int32_t code);
  const DunzipBlock& CommandBlock() const { return block_; }

  // Calls the library with a function code (1 to 9); true on success,
  // which also takes the block's return count.
  bool Execute(int32_t code);

 private:
  int32_t returnCount_ = 0;
  int32_t returnCode_ = 0;
  int32_t extra_[3] = {0, 0, 0};
  std::array<char, kDunzipInfoSize> info_{};
  DunzipBlock block_{};
};

namespace qm {

using ::TUnzipFile;

// The settings the main window's UnzipFile1 is stored with: members go flat
// into the destination, replacing files there, without prompts.
void ApplyStoredUnzipSettings(TUnzipFile& unzip);

}  // namespace qm
