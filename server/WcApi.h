// The host contract: the operations of the host's client libraries with
// their names, argument orders and record layouts. The stand-in in host/
// implements them over SQLite and storage directories.
#pragma once

#include <cstddef>
#include <cstdint>

using WcBool = uint8_t;    // non-zero is success
using WcHandle = int64_t;  // valid when greater than 0

// Host error codes, readable through WcGetLastError() after a failure.
enum : uint32_t {
  WC_UNSUPPORTED_VERSION = 0x20000001,
  WC_CONTEXT_NOT_INITIALIZED = 0x20000002,
  WC_INVALID_NODE_NUMBER = 0x20000003,
  WC_USER_NOT_FOUND = 0x20000004,
  WC_INCORRECT_PASSWORD = 0x20000005,
  WC_USER_NOT_LOGGED_IN = 0x20000006,
  WC_INVALID_INDEX = 0x20000007,
  WC_INVALID_OBJECT_ID = 0x20000008,
  WC_GROUP_ALREADY_EXISTS = 0x20000009,
  WC_GROUP_NOT_FOUND = 0x2000000A,
  WC_OBJECTID_ALREADY_EXISTS = 0x2000000C,
  WC_NAME_NOT_FOUND = 0x2000000D,
  WC_NAME_ALREADY_EXISTS = 0x2000000E,
  WC_ALREADY_LOGGED_IN = 0x2000000F,
  WC_ITEM_NOT_FOUND = 0x20000010,
  WC_ITEM_REQUIRES_NAME = 0x20000011,
  WC_ITEM_ALREADY_EXISTS = 0x20000012,
  WC_ITEM_NAME_DIFFERENT = 0x20000013,
  WC_RECORD_NOT_FOUND = 0x20000014,
  WC_ACCESS_DENIED = 0x20000015,
  WC_NODE_ALREADY_IN_USE = 0x20000016,
  WC_USER_ALREADY_LOGGED_IN = 0x20000017,
  WC_INVALID_CONNECTION_ID = 0x20000018,
  WC_INVALID_CONFERENCE = 0x20000019,
  WC_INVALID_CONFERENCEGROUP = 0x2000001A,
  WC_INVALID_FILEAREA = 0x2000001B,
  WC_INVALID_FILEGROUP = 0x2000001C,
  WC_DUPLICATE_RECORD = 0x2000001D,
  WC_NO_ACTION_TAKEN = 0x2000001E,
  WC_ACCOUNT_LOCKED_OUT = 0x2000001F,
  WC_FILE_SEARCH_SYNTAX = 0x20000020,
  WC_REQUEST_NOT_ADDED = 0x20000021,
  WC_CONTEXT_MULTI_REFS = 0x20000022,
  WC_CONTEXT_ALREADY_INITIALIZED = 0x20000023,
};

// Access, share and disposition values of WcCreateFile.
enum : uint32_t {
  WC_GENERIC_READ = 0x80000000u,
  WC_GENERIC_WRITE = 0x40000000u,
  WC_FILE_SHARE_READ = 1,
  WC_CREATE_ALWAYS = 2,
  WC_OPEN_EXISTING = 3,
};

constexpr int kFileNameSize = 16;   // stored names are at most 15 bytes
constexpr int kShortDescSize = 76;  // at most 75 characters
constexpr int kLongDescLines = 15;
constexpr int kLongDescLineSize = 80;  // at most 79 characters
constexpr int kAreaNameSize = 32;
constexpr int kPathSize = 260;

#pragma pack(push, 1)

// File record as walks and lookups return it. Offset 0 is the host's own
// record id: UpdateFileRec and DeleteFileRec find the record by it.
struct TFileRecord {
  uint32_t Id;                       // 0
  int32_t Area;                      // 4
  char Name[kFileNameSize];          // 8
  char Description[kShortDescSize];  // 24
  char Uploader[36];                 // 100
  int32_t Size;                      // 136
  uint64_t FileTime;                 // 140, local file time
  uint64_t LastAccessed;             // 148
  int32_t Downloads;                 // 156
  uint8_t Reserved1[124];            // 160
  int32_t HasLongDescription;        // 284, 1 = present
  uint8_t Reserved2[304];            // 288
};

struct TFullFileRecord {
  TFileRecord Info;                                         // 0
  char LongDescription[kLongDescLines][kLongDescLineSize];  // 592
};

struct TFileArea {
  char Name[kAreaNameSize];  // 0
  char Path[kPathSize];      // 32: drive path, [VOLUME]\path or relative
  int32_t Number;            // 292
  uint8_t Reserved[64];      // 296
};

struct TFileVolume {
  char Name[16];          // 0
  char Description[276];  // 16
  char Path[kPathSize];   // 292
  int32_t Offline;        // 552
};

struct TMakewild {
  char SystemName[52];    // 0
  char SysopName[52];     // 52
  uint8_t Reserved[400];  // 104
};

#pragma pack(pop)

static_assert(sizeof(TFullFileRecord) == 1792);
static_assert(offsetof(TFileRecord, Area) == 4);
static_assert(offsetof(TFileRecord, Name) == 8);
static_assert(offsetof(TFileRecord, Description) == 24);
static_assert(offsetof(TFileRecord, Size) == 136);
static_assert(offsetof(TFileRecord, FileTime) == 140);
static_assert(offsetof(TFileRecord, HasLongDescription) == 284);
static_assert(offsetof(TFullFileRecord, LongDescription) == 592);
static_assert(offsetof(TFileVolume, Path) == 292);
static_assert(offsetof(TFileVolume, Offline) == 552);
static_assert(offsetof(TFileArea, Path) == 32);

// Last error of the calling thread (the host's code after a failure).
uint32_t WcGetLastError();
void WcSetLastError(uint32_t code);

// Stand-in only: the host home directory the next connect uses.
void WcSetHostHome(const char* home);

WcBool WildcatServerConnect(void* mainWindow);
WcBool WildcatServerCreateContext();
WcBool MwLogin(const char* password);
WcBool LogoutUser();
WcBool WildcatServerDeleteContext();

WcBool GetMakewild(TMakewild& makewild);

int32_t GetFileAreaCount();
WcBool MwGetFileAreas(int32_t area, int32_t count, TFileArea* records);
WcBool MwUpdateFileArea(int32_t area, const TFileArea& record);
int32_t MwGetFileVolumeCount();
WcBool MwGetFileVolumes(int32_t index, int32_t count, TFileVolume* records);

WcBool SearchFileRecByAreaName(int32_t area, const char* name,
                               TFileRecord& record, uint32_t& position);
WcBool GetNextFileRec(int32_t keyNumber, TFileRecord& record,
                      uint32_t& position);
WcBool GetFileRecByAreaName(int32_t area, const char* name, TFileRecord& record,
                            uint32_t& position);
WcBool GetFullFileRec(const TFileRecord& record, TFullFileRecord& full);
WcBool AddFileRec(const TFullFileRecord& record);
WcBool UpdateFullFileRec(const TFullFileRecord& record);
WcBool UpdateFileRec(const TFileRecord& record);
WcBool DeleteFileRec(const TFileRecord& record, WcBool deleteFile);

WcBool WcExistFile(const char* path);
WcHandle WcCreateFile(const char* path, uint32_t access, uint32_t share,
                      uint32_t disposition);
uint32_t WcGetFileSize(WcHandle handle);
WcBool WcGetFileTime(WcHandle handle, uint64_t& fileTime);
WcBool WcReadFile(WcHandle handle, void* buffer, uint32_t count,
                  uint32_t& done);
WcBool WcWriteFile(WcHandle handle, const void* buffer, uint32_t count,
                   uint32_t& done);
WcBool WcCloseHandle(WcHandle handle);

// Stand-in's own additions, which transfers need and the host's libraries
// lack:
// Discards a write handle of WcCreateFile without touching its target (a
// failed or cancelled transfer); closes a read handle.
WcBool WcAbandonFile(WcHandle handle);
// Removes the stored file of a host path that no record names (a transfer
// whose record was refused); WC_DUPLICATE_RECORD when a record names it.
WcBool WcDeleteFile(const char* path);
// The code after a failure because another program holds the host
// database locked (longer than the host waits for it).
enum : uint32_t { WC_DATABASE_LOCKED = 0x20000024 };

// Makes a write handle of WcCreateFile an add of the local file: before a
// byte is written the host notes the copy, until a record of its name is
// added or the copy is removed or abandoned. A login after a crash removes
// a copy still without a record when the local file is still there as it
// was (so that the next run adds it again), and otherwise records it; each
// such repair is kept for WcGetRepairNote. An add never replaces a stored
// file: WC_ITEM_ALREADY_EXISTS when one of that name is there already.
// Nor does any close replace one that came to the target while the handle
// was open: WC_ITEM_ALREADY_EXISTS (WC_DUPLICATE_RECORD when a record
// came) then, and both stay.
WcBool WcJournalAdd(WcHandle handle, const char* localPath);

#pragma pack(push, 1)
struct TRepairNote {
  uint32_t Id;
  int32_t Area;
  char Name[kFileNameSize];
  int32_t Recorded;        // 1: recorded (its local file was gone); 0: removed
  char Source[kPathSize];  // the local file, cut to fit
};
#pragma pack(pop)
// The oldest repair a login made that is not yet done with
// (WC_ITEM_NOT_FOUND when there is none); WcRepairNoteDone removes it once
// it has been told, so that a crash in between tells it again rather than
// never.
WcBool WcGetRepairNote(TRepairNote& note);
WcBool WcRepairNoteDone(uint32_t id);
