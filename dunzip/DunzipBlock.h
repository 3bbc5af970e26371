// The command block of the ZIP library's single entry point `dunzip`,
// shared by the library and the component that calls it. On 32-bit builds
// it is the 142-byte layout the library's callers are built for; on 64-bit
// builds every pointer and callback field is 8 bytes wide (202 bytes),
// still packed.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Status callbacks answer non-zero to cancel the call.
typedef uint8_t (*DzStatusCallback)(const char* item, int32_t percent,
                                    void* user);
typedef int32_t (*DzMessageCallback)(uint16_t msgId, uint16_t mbType,
                                     int32_t p1, int32_t p2, const char* lpsz1,
                                     const char* lpsz2, void* user);
typedef int32_t (*DzRenameCallback)(void* renameRecord, void* user);

#pragma pack(push, 1)
struct DunzipBlock {
  uint32_t blockSize;  // sizeof(DunzipBlock)
  int32_t function;    // 1 .. 9
  const char* zipFile;
  char* infoBuffer;  // kDunzipInfoSize bytes
  const char* fileSpec;
  int32_t indexOfItem;
  const char* destination;
  int32_t freshenFlag;
  int32_t updateFlag;
  int32_t overWriteFlag;
  int32_t quietFlag;
  int32_t testFlag;
  int32_t noDirectoryNamesFlag;
  int32_t recurseFlag;
  int32_t noDirectoryItemsFlag;
  DzStatusCallback minorCallback;
  void* minorUser;
  DzStatusCallback majorCallback;
  void* majorUser;
  int32_t returnCount;  // in: the caller's count; out: the result
  char* returnString;
  int32_t diagnosticFlag;
  int32_t lf2crlfFlag;
  int32_t decryptFlag;
  const char* decryptCode;
  DzMessageCallback messageCallback;
  void* messageUser;
  uint16_t subOptions;  // DZ_USO_* mask
  uint8_t reserved[8];
  DzRenameCallback renameCallback;
  void* renameUser;
  const char* extProgTitle;
  int32_t extra[3];
};
#pragma pack(pop)

int32_t dunzip(void* commandBlock);
typedef int32_t (*DunzipEntry)(void* commandBlock);

}  // extern "C"

constexpr size_t kDunzipInfoSize = 310;

// Sub-option mask bits (64 is not used).
enum : uint16_t {
  DZ_USO_OVERWRITE_RO = 1,
  DZ_USO_MINORCANCEL = 2,
  DZ_USO_EXTERNALPROG = 4,
  DZ_USO_EXTPROGCANCEL = 8,
  DZ_USO_IGNORELONGNAMES = 16,
  DZ_USO_MANGLELONGNAMES = 32,
  DZ_USO_FORCEREMOVEABLE = 128,
  DZ_USO_LOGZIPRESULTS = 256,
};

// Function codes the library carries out.
enum : int32_t {
  DZ_FUNC_COUNT = 3,
  DZ_FUNC_EXTRACT = 8,
};

// Return codes of `dunzip`; 0 is success.
enum : int32_t {
  DZ_OK = 0,
  DZ_ERR_BLOCK = 1,        // null block or wrong block size
  DZ_ERR_FUNCTION = 2,     // function code not carried out
  DZ_ERR_ARGUMENT = 3,     // missing zip file or destination
  DZ_ERR_OPEN = 4,         // archive missing, unreadable or inconsistent
  DZ_ERR_EXTRACT = 5,      // at least one matching member was not written
  DZ_ERR_CANCELLED = 6,    // a status callback asked to stop
  DZ_ERR_DESTINATION = 7,  // destination cannot be opened or written
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(DunzipBlock) == 142);
static_assert(offsetof(DunzipBlock, indexOfItem) == 20);
static_assert(offsetof(DunzipBlock, freshenFlag) == 28);
static_assert(offsetof(DunzipBlock, overWriteFlag) == 36);
static_assert(offsetof(DunzipBlock, quietFlag) == 40);
static_assert(offsetof(DunzipBlock, noDirectoryNamesFlag) == 48);
static_assert(offsetof(DunzipBlock, minorCallback) == 60);
static_assert(offsetof(DunzipBlock, returnCount) == 76);
static_assert(offsetof(DunzipBlock, diagnosticFlag) == 84);
static_assert(offsetof(DunzipBlock, decryptCode) == 96);
static_assert(offsetof(DunzipBlock, subOptions) == 108);
static_assert(offsetof(DunzipBlock, renameCallback) == 118);
static_assert(offsetof(DunzipBlock, extProgTitle) == 126);
static_assert(offsetof(DunzipBlock, extra) == 130);
#else
static_assert(sizeof(void*) == 8);
static_assert(sizeof(DunzipBlock) == 202);
static_assert(offsetof(DunzipBlock, indexOfItem) == 32);
static_assert(offsetof(DunzipBlock, freshenFlag) == 44);
static_assert(offsetof(DunzipBlock, overWriteFlag) == 52);
static_assert(offsetof(DunzipBlock, quietFlag) == 56);
static_assert(offsetof(DunzipBlock, noDirectoryNamesFlag) == 64);
static_assert(offsetof(DunzipBlock, minorCallback) == 76);
static_assert(offsetof(DunzipBlock, returnCount) == 108);
static_assert(offsetof(DunzipBlock, diagnosticFlag) == 120);
static_assert(offsetof(DunzipBlock, decryptCode) == 132);
static_assert(offsetof(DunzipBlock, subOptions) == 156);
static_assert(offsetof(DunzipBlock, renameCallback) == 166);
static_assert(offsetof(DunzipBlock, extProgTitle) == 182);
static_assert(offsetof(DunzipBlock, extra) == 190);
#endif
