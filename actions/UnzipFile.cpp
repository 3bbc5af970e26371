#include "actions/UnzipFile.h"

#include <algorithm>
#include <cstring>

#include "platform/FaultInjection.h"
#include "platform/Library.h"
#include "platform/Paths.h"

namespace qm {

namespace {

constexpr uint16_t kMaxCapacity = 0xFFFF;

}  // namespace

uint16_t SubOptionMask(TUnzipSubOptions options) {
  static constexpr uint16_t kMask[] = {
      DZ_USO_OVERWRITE_RO,    DZ_USO_MINORCANCEL,     DZ_USO_EXTERNALPROG,
      DZ_USO_EXTPROGCANCEL,   DZ_USO_IGNORELONGNAMES, DZ_USO_MANGLELONGNAMES,
      DZ_USO_FORCEREMOVEABLE, DZ_USO_LOGZIPRESULTS};
  uint16_t mask = 0;
  for (unsigned i = 0; i < std::size(kMask); ++i)
    if (options.Contains(static_cast<TUnzipSubOption>(i))) mask |= kMask[i];
  return mask;
}

TLPStr::TLPStr(uint16_t size) { SetFixedSize(size); }

void TLPStr::SetFixedSize(uint16_t size) {
  fixed_ = size > 0;
  size_ = size;
  buffer_.reset(fixed_ ? new char[size]() : nullptr);
}

void TLPStr::SetText(std::string_view text) {
  if (!fixed_) {
    size_t needed = std::min<size_t>(text.size() + 1, kMaxCapacity);
    if (buffer_ == nullptr || size_ < needed) {
      buffer_.reset(new char[needed]);
      size_ = static_cast<uint16_t>(needed);
    }
  }
  size_t length = std::min<size_t>(text.size(), size_ - 1);
  std::memcpy(buffer_.get(), text.data(), length);
  buffer_[length] = '\0';
}

void TLPStr::Clear() {
  if (fixed_) {
    std::memset(buffer_.get(), 0, size_);
  } else {
    buffer_.reset();
    size_ = 0;
  }
}

std::string TLPStr::Text() const {
  if (buffer_ == nullptr) return "";
  return std::string(buffer_.get(), strnlen(buffer_.get(), size_));
}

uint8_t TDynaZip::Status(const TStatusCallback& event, const char* item,
                         int32_t percent, void* user) {
  auto* self = static_cast<TDynaZip*>(user);
  if (!event) return 0;
  bool cancel = false;
  try {
    event(item != nullptr ? item : "", percent, cancel);
  } catch (...) {
    self->pending_ = std::current_exception();
    cancel = true;
  }
  return cancel ? 1 : 0;
}

uint8_t TDynaZip::MajorStatus(const char* item, int32_t percent, void* user) {
  auto* self = static_cast<TDynaZip*>(user);
  return Status(self->OnMajorCallback, item, percent, user);
}

uint8_t TDynaZip::MinorStatus(const char* item, int32_t percent, void* user) {
  auto* self = static_cast<TDynaZip*>(user);
  return Status(self->OnMinorCallback, item, percent, user);
}

int32_t TDynaZip::Message(uint16_t msgId, uint16_t mbType, int32_t p1,
                          int32_t p2, const char* lpsz1, const char* lpsz2,
                          void* user) {
  auto* self = static_cast<TDynaZip*>(user);
  int32_t result = 0;
  if (!self->OnMessageCallback) return result;
  try {
    self->OnMessageCallback(msgId, mbType, p1, p2, lpsz1 ? lpsz1 : "",
                            lpsz2 ? lpsz2 : "", result);
  } catch (...) {
    self->pending_ = std::current_exception();
  }
  return result;
}

int32_t TDynaZip::Rename(void* renameRecord, void* user) {
  auto* self = static_cast<TDynaZip*>(user);
  if (!self->OnRenameCallback) return 0;
  try {
    self->OnRenameCallback(renameRecord);
  } catch (...) {
    self->pending_ = std::current_exception();
  }
  return 0;
}

void TDynaZip::RethrowPending() {
  if (pending_ == nullptr) return;
  std::exception_ptr error = pending_;
  pending_ = nullptr;
  std::rethrow_exception(error);
}

void ApplyStoredUnzipSettings(TUnzipFile& unzip) {
  unzip.IndexofItem = 0;
  unzip.Options = {OverWriteFlag, QuietFlag, NoDirectoryNamesFlag};
  unzip.wUnzipSubOptions = {};
  unzip.OnMajorCallback = nullptr;
  unzip.OnMinorCallback = nullptr;
  unzip.OnMessageCallback = nullptr;
  unzip.OnRenameCallback = nullptr;
}

}  // namespace qm

namespace {

// The library is loaded once for the program and shared by every instance.
struct SharedLibrary {
  void* handle = nullptr;
  DunzipEntry entry = nullptr;
  ~SharedLibrary() {
    if (handle != nullptr) qm::FreeLibrary(handle);
  }
};

SharedLibrary& Library() {
  static SharedLibrary library;
  return library;
}

}  // namespace

TUnzipFile::LoadResult TUnzipFile::Load(const std::string& programDir) {
  SharedLibrary& library = Library();
  if (library.entry != nullptr) return {true, ""};
  void* handle =
      qm::LoadLibraryA(qm::TrailingBackslash(programDir) + kLibraryName);
  if (handle == nullptr) return {false, "Could not load DUNZIP32.DLL!"};
  auto entry =
      reinterpret_cast<DunzipEntry>(qm::GetProcAddress(handle, "dunzip"));
  if (entry == nullptr) {
    qm::FreeLibrary(handle);
    return {false, "Could not load dunzip function!"};
  }
  library.handle = handle;
  library.entry = entry;
  return {true, ""};
}

bool TUnzipFile::Loaded() { return Library().entry != nullptr; }

TUnzipFile::TUnzipFile(const std::string& programDir) { Load(programDir); }

TUnzipFile::~TUnzipFile() = default;

std::string TUnzipFile::InfoText() const {
  return std::string(info_.data(), strnlen(info_.data(), info_.size()));
}

void TUnzipFile::PrepareCommand(int32_t code) {
  std::memset(&block_, 0, sizeof block_);
  auto flag = [this](qm::TUnzipFlag f) -> int32_t {
    return Options.Contains(f) ? 1 : 0;
  };
  block_.blockSize = sizeof(DunzipBlock);
  block_.function = code;
  block_.zipFile = lpszZipFile.Pointer();
  block_.infoBuffer = info_.data();
  block_.fileSpec = lpszFileSpec.Pointer();
  block_.indexOfItem = IndexofItem;
  block_.destination = lpszDestination.Pointer();
  block_.freshenFlag = flag(qm::FreshenFlag);
  block_.updateFlag = flag(qm::UpdateFlag);
  block_.overWriteFlag = flag(qm::OverWriteFlag);
  block_.quietFlag = flag(qm::QuietFlag);
  block_.testFlag = flag(qm::TestFlag);
  block_.noDirectoryNamesFlag = flag(qm::NoDirectoryNamesFlag);
  block_.recurseFlag = flag(qm::RecurseFlag);
  block_.noDirectoryItemsFlag = flag(qm::NoDirectoryItemsFlag);
  block_.minorCallback = &MinorStatus;
  block_.minorUser = UserValue();
  block_.majorCallback = &MajorStatus;
  block_.majorUser = UserValue();
  block_.returnCount = returnCount_;
  block_.returnString = lpszReturnString.Data();
  block_.diagnosticFlag = flag(qm::bDiagnostic);
  block_.lf2crlfFlag = flag(qm::bLF2CRLFFlag);
  block_.decryptFlag = flag(qm::DecryptFlag);
  block_.decryptCode = lpszDecryptCode.Pointer();
  block_.messageCallback = &Message;
  block_.messageUser = UserValue();
  block_.subOptions = qm::SubOptionMask(wUnzipSubOptions);
  block_.renameCallback = &Rename;
  block_.renameUser = UserValue();
  block_.extProgTitle = lpszExtProgTitle.Pointer();
  for (int i = 0; i < 3; ++i) block_.extra[i] = extra_[i];
}

bool TUnzipFile::Execute(int32_t code) {
  if (code <= 0 || code > 9) return false;
  if (code == 6) {
    int32_t size = std::clamp<int32_t>(returnCount_, 0, 0xFFFE) + 1;
    lpszReturnString.SetFixedSize(static_cast<uint16_t>(size));
  }
  PrepareCommand(code);
  DunzipEntry entry = Library().entry;
  if (entry == nullptr) {
    returnCode_ = kNotLoaded;
    return false;
  }
  if (qm::fault::ShouldFail(qm::fault::Kind::Zip)) {
    returnCode_ = DZ_ERR_EXTRACT;  // as if the library had failed
    return false;
  }
  returnCode_ = entry(&block_);
  RethrowPending();
  if (returnCode_ != 0) return false;
  returnCount_ = block_.returnCount;
  return true;
}
