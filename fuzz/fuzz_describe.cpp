// The description step on arbitrary bytes given as an archive, through the
// real unzip component and ZIP library or through libarchive (the name's
// ending follows the bytes' signature): it writes only into the program's
// Temp/ directory, leaves that empty, and fills the record only within its
// fields. The bytes are also cleaned as an ANSI description.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "actions/AnsiText.h"
#include "actions/Describe.h"
#include "actions/UnzipFile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Files.h"
#include "platform/Paths.h"

using qmfuzz::Check;

namespace {

// Specs the setup dialog offers or an operator might type.
const char* const kOtherSpecs[] = {"*.DIZ", "*", "desc.sdi", "NA"};

TUnzipFile& Unzip() {
  static TUnzipFile unzip(qmtest::BinDir());
  static bool ready = false;
  if (!ready) {
    Check(TUnzipFile::Loaded(), "libdunzip.so loads from " + qmtest::BinDir());
    qm::ApplyStoredUnzipSettings(unzip);
    ready = true;
  }
  return unzip;
}

TFullFileRecord Blank() {
  TFullFileRecord record{};
  std::strcpy(record.Info.Name, "TEST.ZIP");
  std::strcpy(record.Info.Uploader, "Sysop");
  record.Info.Area = 3;
  record.Info.Size = 1234;
  record.Info.Downloads = 7;
  return record;
}

// Every byte but the description fields stays as it was.
bool OnlyDescriptionChanged(const TFullFileRecord& a,
                            const TFullFileRecord& b) {
  TFullFileRecord x = a, y = b;
  for (TFullFileRecord* r : {&x, &y}) {
    std::memset(r->Info.Description, 0, sizeof r->Info.Description);
    r->Info.HasLongDescription = 0;
    std::memset(r->LongDescription, 0, sizeof r->LongDescription);
  }
  return std::memcmp(&x, &y, sizeof x) == 0;
}

// The upload's name: the format its first bytes claim, ZIP otherwise.
std::string ArchiveName(const std::string& bytes) {
  auto at = [&](size_t offset, std::string_view magic) {
    return bytes.size() >= offset + magic.size() &&
           bytes.compare(offset, magic.size(), magic) == 0;
  };
  if (at(0, "7z\xBC\xAF\x27\x1C")) return "TEST.7Z";
  if (at(0, "Rar!")) return "TEST.RAR";
  if (at(0, "\x1F\x8B")) return "TEST.TAR.GZ";
  if (at(2, "-lh") || at(2, "-lz")) return "TEST.LZH";
  if (at(257, "ustar")) return "TEST.TAR";
  return "TEST.ZIP";
}

void DescribeOnce(const std::string& archive, const std::string& spec) {
  const std::string& root = qmfuzz::Workspace();
  qmtest::TestRun run(root + "/prog");
  run.ctx.unzip = &Unzip();
  run.state.logBaseName = root + "/run.cfg";
  const std::string temp = qm::TempDirectory(run.state);
  qmtest::MakeDirs(temp);
  qmtest::WriteFile(temp + "STALE.DIZ", "left from an earlier run\r\n");

  const TFullFileRecord before = Blank();
  TFullFileRecord record = before;
  const bool described =
      qm::DescribeFromArchive(run.ctx, archive, spec, record);

  Check(run.view.messages.empty(), "no box from the description step");
  Check(!run.view.extractingVisible, "the extracting label is hidden again");
  Check(qmtest::ListDir(temp).empty(),
        "Temp/ is empty afterwards (" + spec + ")");
  std::vector<std::string> tree = qmfuzz::Tree(root);
  std::erase(tree, "run.err");
  Check(tree ==
            std::vector<std::string>({"in/", "in/" + qm::FileNamePart(archive),
                                      "prog/", "prog/Temp/"}),
        "nothing is written outside Temp/");
  qm::DeleteLocalFile(root + "/run.err");

  if (!described) {
    Check(std::memcmp(&record, &before, sizeof record) == 0,
          "no description leaves the record untouched");
    return;
  }
  Check(OnlyDescriptionChanged(record, before),
        "only the description fields change");
  Check(record.Info.HasLongDescription == 1,
        "the long-description flag is set");
  Check(qmfuzz::Terminated(record.Info.Description),
        "the short description fits 75 characters");
  for (const auto& slot : record.LongDescription)
    Check(qmfuzz::Terminated(slot), "a long line fits 79 characters");
  const std::string first = record.LongDescription[0];
  Check(std::string(record.Info.Description) == first.substr(0, 75),
        "the short description is the first line cut to 75");
}

// The text of an ANSI description holds no escape, control-Z or NUL, and
// no line of it ends in a blank.
void CheckAnsiText(const std::string& bytes) {
  const std::string text = qm::AnsiToText(bytes);
  Check(text.find_first_of(std::string("\x1b\x1a\0", 3)) == std::string::npos,
        "no escape, control-Z or NUL is left");
  for (size_t i = 0; i <= text.size(); ++i)
    if (i == text.size() || text[i] == '\r' || text[i] == '\n')
      Check(i == 0 || (text[i - 1] != ' ' && text[i - 1] != '\t'),
            "no line ends in a blank");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = qmfuzz::Bytes(data, size);
  CheckAnsiText(bytes);
  const std::string in = qmfuzz::Workspace() + "/in/";
  qmtest::MakeDirs(in);
  for (const std::string& name : qmtest::ListDir(in))
    qm::DeleteLocalFile(in + name);
  const std::string archive = in + ArchiveName(bytes);
  qmtest::WriteFile(archive, bytes);
  DescribeOnce(archive, "file_id.diz");
  // Archives end in their directory's fixed fields, so the size picks.
  DescribeOnce(archive, kOtherSpecs[size % std::size(kOtherSpecs)]);
  return 0;
}
