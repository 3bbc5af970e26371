// wcserver: the host's own program. Creates a host home, adds areas,
// volumes and file records, lists them, and can hold the host as the
// configuration utility.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "host/HostAdmin.h"
#include "host/HostStore.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Paths.h"
#include "server/WcApi.h"

namespace {

using nlohmann::json;

constexpr const char* kUsage =
    "usage: wcserver init HOME [--password TEXT] [--sysop NAME] [--bbs NAME]\n"
    "       wcserver area add HOME --number N --name NAME --path PATH\n"
    "       wcserver area list HOME [--json]\n"
    "       wcserver volume add HOME --name NAME --path PATH [--offline]\n"
    "       wcserver volume list HOME [--json]\n"
    "       wcserver file add HOME --area N --name NAME [--desc LINE]... "
    "[--from FILE]\n"
    "       wcserver file list HOME --area N [--json]\n"
    "       wcserver hold HOME --seconds S\n"
    "       wcserver -h | --help | -V | --version\n";

// Areas with relative paths resolve against the home, so it is made
// absolute once.
std::string AbsoluteHome(const std::string& home) {
  std::error_code ec;
  auto path = std::filesystem::absolute(home, ec);
  return ec ? home : path.lexically_normal().string();
}

struct UsageError {
  std::string message;
};

using Keys = std::vector<std::string>;

bool IsOneOf(const std::string& key, const Keys& keys) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Options after the home: "--key value", repeatable, or bare flags. A
// mistyped option is refused rather than silently left at its default.
class Options {
 public:
  Options(const std::vector<std::string>& args, size_t from, const Keys& keys,
          const Keys& flags = {}) {
    for (size_t i = from; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg.rfind("--", 0) != 0) throw UsageError{"unexpected " + arg};
      std::string key = arg.substr(2);
      const bool isFlag = IsOneOf(key, flags);
      if (!isFlag && !IsOneOf(key, keys))
        throw UsageError{"unknown option " + arg};
      if (isFlag) {
        values_[key].push_back("");
      } else {
        if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
        values_[key].push_back(args[++i]);
      }
    }
  }
  bool Has(const std::string& key) const { return values_.count(key) > 0; }
  std::string Get(const std::string& key, const std::string& fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : it->second.back();
  }
  std::string Require(const std::string& key) const {
    if (!Has(key)) throw UsageError{"--" + key + " is required"};
    return Get(key, "");
  }
  int32_t Number(const std::string& key) const {
    std::string text = Require(key);
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > INT32_MAX)
      throw UsageError{"--" + key + " needs a number, not " + text};
    return static_cast<int32_t>(value);
  }
  std::vector<std::string> All(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::vector<std::string>() : it->second;
  }

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

int Failed(const std::string& message) {
  std::cerr << "wcserver: " << message << "\n";
  return 1;
}

void PrintJson(const json& value) {
  // Host texts are 8-bit; bytes that are not UTF-8 are shown replaced.
  std::cout << value.dump(2, ' ', false, json::error_handler_t::replace)
            << "\n";
}

int Init(const std::string& home, const Options& o) {
  std::string error;
  if (!qm::host::InitHost(home, o.Get("password", ""), o.Get("sysop", "Sysop"),
                          o.Get("bbs", "BBS"), "/proc/self/exe", error))
    return Failed(error);
  return 0;
}

int AreaAdd(const std::string& home, const Options& o) {
  std::string error;
  if (!qm::host::AddArea(home, o.Number("number"), o.Require("name"),
                         o.Require("path"), error))
    return Failed(error);
  return 0;
}

int AreaList(const std::string& home, const Options& o) {
  std::vector<qm::host::AreaInfo> areas;
  std::string error;
  if (!qm::host::ListAreas(home, areas, error)) return Failed(error);
  if (o.Has("json")) {
    json out = json::array();
    for (const auto& a : areas)
      out.push_back({{"number", a.number},
                     {"name", a.name},
                     {"path", a.path},
                     {"directory", a.directory}});
    PrintJson(out);
  } else {
    for (const auto& a : areas)
      std::cout << a.number << "\t" << a.name << "\t" << a.path << "\t"
                << a.directory << "\n";
  }
  return 0;
}

int VolumeAdd(const std::string& home, const Options& o) {
  std::string error;
  if (!qm::host::AddVolume(home, o.Require("name"), o.Require("path"),
                           o.Has("offline"), error))
    return Failed(error);
  return 0;
}

int VolumeList(const std::string& home, const Options& o) {
  std::vector<qm::host::VolumeInfo> volumes;
  std::string error;
  if (!qm::host::ListVolumes(home, volumes, error)) return Failed(error);
  if (o.Has("json")) {
    json out = json::array();
    for (const auto& v : volumes)
      out.push_back(
          {{"name", v.name}, {"path", v.path}, {"offline", v.offline}});
    PrintJson(out);
  } else {
    for (const auto& v : volumes)
      std::cout << v.name << "\t" << v.path << "\t"
                << (v.offline ? "offline" : "online") << "\n";
  }
  return 0;
}

int FileAdd(const std::string& home, const Options& o) {
  int32_t area = o.Number("area");
  std::string name = o.Require("name");
  // The host would cut a longer name; nothing is stored under another name.
  if (name.empty() || name.size() >= static_cast<size_t>(kFileNameSize))
    return Failed("a file name is 1 to " + std::to_string(kFileNameSize - 1) +
                  " characters");
  std::vector<std::string> desc = o.All("desc");
  if (desc.size() > kLongDescLines)
    throw UsageError{"at most " + std::to_string(kLongDescLines) +
                     " description lines"};
  std::string error;
  if (o.Has("from") &&
      !qm::host::StoreFile(home, area, name, o.Get("from", ""), error))
    return Failed(error);
  TFullFileRecord record{};
  record.Info.Area = area;
  qm::SetFieldText(record.Info.Name, kFileNameSize, name);
  if (!desc.empty())
    qm::SetFieldText(record.Info.Description, kShortDescSize, desc[0]);
  if (desc.size() >= 2) {
    record.Info.HasLongDescription = 1;
    for (size_t i = 0; i < desc.size(); ++i)
      qm::SetFieldText(record.LongDescription[i], kLongDescLineSize, desc[i]);
  }
  if (!qm::host::AddFileRecord(home, record, error)) return Failed(error);
  return 0;
}

int FileList(const std::string& home, const Options& o) {
  int32_t area = o.Number("area");
  std::vector<TFullFileRecord> records;
  std::string error;
  if (!qm::host::ListFileRecords(home, area, records, error))
    return Failed(error);
  json out = json::array();
  for (const auto& r : records) {
    using qm::FieldText;
    std::vector<std::string> lines;
    for (const auto& line : r.LongDescription)
      lines.push_back(FieldText(line, kLongDescLineSize));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string name = FieldText(r.Info.Name, kFileNameSize);
    std::string shortDesc = FieldText(r.Info.Description, kShortDescSize);
    std::string time = qm::FileTimeToIsoText(r.Info.FileTime);
    if (o.Has("json")) {
      out.push_back({{"area", r.Info.Area},
                     {"name", name},
                     {"size", r.Info.Size},
                     {"time", time},
                     {"short", shortDesc},
                     {"longFlag", r.Info.HasLongDescription},
                     {"long", lines}});
    } else {
      std::cout << name << "\t" << r.Info.Size << "\t" << time << "\t"
                << shortDesc << "\n";
      for (const auto& line : lines) std::cout << "\t" << line << "\n";
    }
  }
  if (o.Has("json")) PrintJson(out);
  return 0;
}

int Hold(const std::string& home, const Options& o) {
  int32_t seconds = o.Number("seconds");
  std::string error;
  if (!qm::host::LoginAsUtility(home, error)) return Failed(error);
  std::cout << "holding" << std::endl;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  LogoutUser();
  WildcatServerDeleteContext();
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError{"no command"};
  const std::string& command = args[0];
  if (args.size() == 1 && (command == "--help" || command == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.size() == 1 && (command == "--version" || command == "-V")) {
    std::cout << "wcserver (Quillmar) " << QM_VERSION << '\n';
    return 0;
  }
  if (command == "init") {
    if (args.size() < 2) throw UsageError{"init needs HOME"};
    return Init(AbsoluteHome(args[1]),
                Options(args, 2, {"password", "sysop", "bbs"}));
  }
  if (command == "hold") {
    if (args.size() < 2) throw UsageError{"hold needs HOME"};
    return Hold(AbsoluteHome(args[1]), Options(args, 2, {"seconds"}));
  }
  if (command != "area" && command != "volume" && command != "file")
    throw UsageError{"unknown command " + command};
  if (args.size() < 3) throw UsageError{command + " needs add or list, HOME"};
  const std::string& verb = args[1];
  const std::string home = AbsoluteHome(args[2]);
  if (verb == "list") {
    if (command == "area")
      return AreaList(home, Options(args, 3, {}, {"json"}));
    if (command == "volume")
      return VolumeList(home, Options(args, 3, {}, {"json"}));
    return FileList(home, Options(args, 3, {"area"}, {"json"}));
  }
  if (verb == "add") {
    if (command == "area")
      return AreaAdd(home, Options(args, 3, {"number", "name", "path"}));
    if (command == "volume")
      return VolumeAdd(home, Options(args, 3, {"name", "path"}, {"offline"}));
    return FileAdd(home, Options(args, 3, {"area", "name", "desc", "from"}));
  }
  throw UsageError{"unknown " + command + " command " + verb};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const UsageError& e) {
    if (args.empty())
      std::cerr << kUsage;
    else
      std::cerr << "wcserver: " << e.message
                << " (run wcserver alone for its usage)\n";
    return 2;
  } catch (const std::exception& e) {
    return Failed(e.what());
  }
}
