// The manual's walk-through, run as written: every command of its "cmd"
// blocks in document order, in a copied program directory, with the
// configuration files its "cfg" tables show.
//
// Conventions of docs/Help/Manual.htm:
// - <pre class="cmd">: one shell command per line; a trailing "# exits N"
//   gives the expected exit code (else 0).
// - <pre class="cron">: crontab lines, run in document order like cmd
//   blocks: each its command after the five time fields, with a "mail" that
//   prints what it would send ("To:", "Subject:", a blank line, the text).
// - <pre class="out"> right after a cmd or cron block: lines the block
//   prints (its standard output and error), in this order, among others;
//   runs of blanks compare as one blank and "..." stands for any text.
// - <table class="cfg" data-file="PATH">: a configuration file as the
//   configuration tool shows it, one row per entry.
// - /opt/quillmar stands for the program directory, /srv/bbs for a
//   directory of the test; commands may name no other absolute path.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include "tests/e2e/E2eSupport.h"

using qmtest::ProgramDirTest;

namespace {

constexpr const char* kProgramDir = "/opt/quillmar";
constexpr const char* kDataDir = "/srv/bbs";

std::string ManualText() {
  return qmtest::ReadFile(std::string(QM_SOURCE_DIR) + "/docs/Help/Manual.htm");
}

std::string Unescape(const std::string& html) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};
  std::string text = html;
  for (const auto& [entity, plain] : kEntities) {
    for (size_t at = text.find(entity); at != std::string::npos;
         at = text.find(entity, at + 1))
      text.replace(at, strlen(entity), plain);
  }
  // Last, so that "&amp;lt;" stays "&lt;".
  for (size_t at = text.find("&amp;"); at != std::string::npos;
       at = text.find("&amp;", at + 1))
    text.replace(at, 5, "&");
  return text;
}

std::string ReplaceAll(std::string text, const std::string& from,
                       const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Blanks and tabs collapsed to one blank, none at either end.
std::string Squeezed(const std::string& line) {
  std::string out;
  for (char c : line) {
    const bool blank = c == ' ' || c == '\t';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// "..." in the expected line stands for any text.
bool LineMatches(const std::string& expected, const std::string& actual) {
  std::vector<std::string> pieces;
  size_t from = 0;
  for (size_t at = expected.find("..."); at != std::string::npos;
       at = expected.find("...", from)) {
    pieces.push_back(expected.substr(from, at - from));
    from = at + 3;
  }
  pieces.push_back(expected.substr(from));
  if (pieces.size() == 1) return expected == actual;
  if (actual.compare(0, pieces.front().size(), pieces.front()) != 0)
    return false;
  size_t pos = pieces.front().size();
  for (size_t i = 1; i + 1 < pieces.size(); ++i) {
    const size_t at = actual.find(pieces[i], pos);
    if (at == std::string::npos) return false;
    pos = at + pieces[i].size();
  }
  const std::string& last = pieces.back();
  return actual.size() >= pos + last.size() &&
         actual.compare(actual.size() - last.size(), last.size(), last) == 0;
}

// The first expected line that is not found in order, or "" when all are.
std::string MissingLine(const std::vector<std::string>& expected,
                        const std::string& output) {
  std::vector<std::string> actual;
  for (const auto& line : SplitLines(output)) actual.push_back(Squeezed(line));
  size_t next = 0;
  for (const auto& raw : expected) {
    const std::string want = Squeezed(raw);
    while (next < actual.size() && !LineMatches(want, actual[next])) ++next;
    if (next == actual.size()) return raw.empty() ? "(empty line)" : raw;
    ++next;
  }
  return "";
}

struct Command {
  std::string text;
  int exitCode = 0;
};

struct Example {
  size_t offset = 0;  // in the manual, for messages
  std::vector<Command> commands;
  std::vector<std::string> expected;
};

// Text of every <pre class="KIND"> block, with its offset.
std::vector<std::pair<size_t, std::string>> Blocks(const std::string& html,
                                                   const std::string& kind) {
  std::vector<std::pair<size_t, std::string>> blocks;
  const std::string open = "<pre class=\"" + kind + "\">";
  for (size_t at = html.find(open); at != std::string::npos;
       at = html.find(open, at + 1)) {
    const size_t start = at + open.size();
    const size_t end = html.find("</pre>", start);
    if (end == std::string::npos) break;
    blocks.emplace_back(at, html.substr(start, end - start));
  }
  return blocks;
}

std::vector<Example> Examples(const std::string& html) {
  static const std::regex kExits(R"(^(.*\S)\s+#\s*exits\s+(\d+)\s*$)");
  static const std::regex kCron(R"(^\s*(\S+\s+){5}(.*)$)");
  // By offset, so in document order; true marks a cron block.
  std::map<size_t, std::pair<std::string, bool>> blocks;
  for (const auto& [offset, body] : Blocks(html, "cmd"))
    blocks[offset] = {body, false};
  for (const auto& [offset, body] : Blocks(html, "cron"))
    blocks[offset] = {body, true};
  std::vector<Example> examples;
  for (const auto& [offset, block] : blocks) {
    const auto& [body, cron] = block;
    Example example;
    example.offset = offset;
    for (const auto& line : SplitLines(Unescape(body))) {
      if (Squeezed(line).empty()) continue;
      std::smatch m;
      if (cron && std::regex_match(line, m, kCron))
        example.commands.push_back({m[2].str(), 0});
      else if (std::regex_match(line, m, kExits))
        example.commands.push_back({m[1].str(), std::stoi(m[2].str())});
      else
        example.commands.push_back({line, 0});
    }
    // Its output block, if one follows with nothing between.
    const size_t close = html.find("</pre>", offset) + 6;
    const size_t next = html.find_first_not_of(" \t\r\n", close);
    const std::string out = "<pre class=\"out\">";
    if (next != std::string::npos && html.compare(next, out.size(), out) == 0) {
      const size_t start = next + out.size();
      example.expected = SplitLines(
          Unescape(html.substr(start, html.find("</pre>", start) - start)));
    }
    examples.push_back(std::move(example));
  }
  return examples;
}

// Texts of the <td> (or <th>) cells of each row of a table.
std::vector<std::vector<std::string>> TableRows(const std::string& table,
                                                const std::string& cell) {
  std::vector<std::vector<std::string>> rows;
  const std::string open = "<" + cell + ">", close = "</" + cell + ">";
  for (size_t row = table.find("<tr>"); row != std::string::npos;) {
    const size_t rowEnd = table.find("</tr>", row);
    const std::string text = table.substr(row, rowEnd - row);
    std::vector<std::string> cells;
    for (size_t at = text.find(open); at != std::string::npos;
         at = text.find(open, at + 1)) {
      const size_t start = at + open.size();
      cells.push_back(
          Unescape(text.substr(start, text.find(close, start) - start)));
    }
    if (!cells.empty()) rows.push_back(cells);
    row = table.find("<tr>", rowEnd);
  }
  return rows;
}

struct CfgTable {
  std::string file;
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
};

std::vector<CfgTable> CfgTables(const std::string& html) {
  std::vector<CfgTable> tables;
  const std::string open = "<table class=\"cfg\" data-file=\"";
  for (size_t at = html.find(open); at != std::string::npos;
       at = html.find(open, at + 1)) {
    const size_t nameStart = at + open.size();
    const size_t nameEnd = html.find('"', nameStart);
    const size_t end = html.find("</table>", nameEnd);
    const std::string table = html.substr(nameEnd, end - nameEnd);
    CfgTable cfg;
    cfg.file = Unescape(html.substr(nameStart, nameEnd - nameStart));
    auto header = TableRows(table, "th");
    if (!header.empty()) cfg.header = header.front();
    cfg.rows = TableRows(table, "td");
    tables.push_back(std::move(cfg));
  }
  return tables;
}

// Absolute paths a command names, other than the two stand-ins.
std::vector<std::string> StrayPaths(const std::string& command) {
  std::vector<std::string> stray;
  for (size_t at = command.find('/'); at != std::string::npos;
       at = command.find('/', at + 1)) {
    const bool starts =
        at == 0 ||
        std::string(" \t'\"=>(").find(command[at - 1]) != std::string::npos;
    if (!starts) continue;
    const std::string rest = command.substr(at);
    if (rest.rfind(kProgramDir, 0) != 0 && rest.rfind(kDataDir, 0) != 0)
      stray.push_back(rest.substr(0, rest.find_first_of(" '\"")));
  }
  return stray;
}

class ManualExamples : public ProgramDirTest {
 protected:
  std::string Local(const std::string& text) const {
    return ReplaceAll(ReplaceAll(text, kProgramDir, bin), kDataDir,
                      tmp.path() + kDataDir);
  }

  // The configuration files the manual says were saved in the tool.
  void WriteCfgTables(const std::vector<CfgTable>& tables) {
    const std::vector<std::string> columns = {
        "Area Name", "No.",         "File Action (FA)", "FA Param",
        "FA Spec",   "Desc Action", "Desc Spec",        "Path",
        "Volume",    "Offline"};
    for (const auto& table : tables) {
      ASSERT_EQ(table.header, columns) << table.file;
      std::vector<qm::AreaConfigEntry> entries;
      for (const auto& row : table.rows) {
        ASSERT_EQ(row.size(), columns.size()) << table.file;
        qm::AreaConfigEntry e;
        e.AreaName = row[0];
        e.AreaNum = std::stoi(row[1]);
        e.FileAction = row[2];
        e.FileActionParam = row[3];
        e.FileActionSpec = Local(row[4]);
        e.DescAction = row[5];
        e.DescActionSpec = Local(row[6]);
        e.Path = Local(row[7]);
        e.Volume = row[8];
        e.Offline = row[9] == "Yes";
        entries.push_back(e);
      }
      WriteConfig(Local(table.file), entries);
    }
  }
};

TEST_F(ManualExamples, WalkThroughRunsAsWritten) {
  const std::string html = ManualText();
  const auto tables = CfgTables(html);
  const auto examples = Examples(html);
  ASSERT_GE(tables.size(), 2u);
  ASSERT_GE(examples.size(), 10u);
  WriteCfgTables(tables);

  // Not the program directory: bare names must still find it.
  const std::string workDir = tmp / "work";
  qmtest::MakeDirs(workDir);
  qmtest::MakeDirs(tmp.path() + kDataDir);
  // cron would send the mail; here it is printed with the output.
  const std::string mailer = tmp / "mailer";
  qmtest::MakeDirs(mailer);
  qmtest::WriteFile(mailer + "/mail",
                    "#!/bin/sh\n"
                    "while getopts s: opt; do subject=$OPTARG; done\n"
                    "shift $((OPTIND - 1))\n"
                    "printf 'To: %s\\nSubject: %s\\n\\n' \"$*\" \"$subject\"\n"
                    "cat\n");
  ASSERT_EQ(chmod((mailer + "/mail").c_str(), 0755), 0);
  const std::string path = bin + ":" + mailer + ":" + std::getenv("PATH");

  for (const auto& example : examples) {
    ASSERT_FALSE(example.commands.empty())
        << "empty cmd block at offset " << example.offset;
    std::string output;
    for (const auto& command : example.commands) {
      EXPECT_EQ(StrayPaths(command.text), std::vector<std::string>())
          << command.text;
      // As from cron: no display, standard error kept with the output.
      auto result = qmtest::RunProcess(
          {"/bin/bash", "-c",
           "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; exec 2>&1; " +
               Local(command.text)},
          {"PATH=" + path, "LC_ALL=C"}, 90, workDir);
      ASSERT_FALSE(result.timedOut) << command.text;
      ASSERT_EQ(result.exitCode, command.exitCode) << command.text << "\n"
                                                   << result.out;
      output += result.out;
    }
    std::vector<std::string> expected;
    for (const auto& line : example.expected) expected.push_back(Local(line));
    // The usage is shown whole, as the program prints it.
    if (example.commands.back().text == "quillmar --help") {
      EXPECT_EQ(SplitLines(output), expected);
    }
    EXPECT_EQ(MissingLine(expected, output), "")
        << "after " << example.commands.back().text << " it printed:\n"
        << output;
  }
}

// Pictures the manual shows exist in the sources and in the program
// directory, and no picture is kept that it does not show.
TEST_F(ManualExamples, PicturesAreThereAndAllUsed) {
  const std::string html = ManualText();
  const std::string images = std::string(QM_SOURCE_DIR) + "/docs/Help/images";
  static const std::regex kImg(R"re(<img src="images/([^"]+)" alt="[^"]+">)re");
  std::set<std::string> shown;
  for (std::sregex_iterator it(html.begin(), html.end(), kImg), end; it != end;
       ++it)
    shown.insert((*it)[1].str());
  size_t imgTags = 0;
  for (size_t at = html.find("<img "); at != std::string::npos;
       at = html.find("<img ", at + 1))
    ++imgTags;
  EXPECT_EQ(shown.size(), imgTags)
      << "every <img> has a src under images/ and an alt text, once";
  ASSERT_GE(shown.size(), 8u);
  for (const auto& name : shown) {
    const std::string png = qmtest::ReadFile(images + "/" + name);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
    EXPECT_TRUE(qmtest::Exists(bin + "/Help/images/" + name)) << name;
  }
  for (const auto& name : qmtest::ListDir(images))
    EXPECT_TRUE(shown.count(name)) << name << " is not in the manual";
}

// Helpers of the walk-through that decide what counts as matching output.
TEST(ManualOutputMatching, EllipsisAndBlanks) {
  const std::string out =
      "README.TXT\t16\t2026-01-02 03:04:05\t\r\n"
      "STARGAME.ZIP\t247\t2026-01-02\tStar Game\r\n";
  EXPECT_EQ(
      MissingLine({"README.TXT 16 ...", "STARGAME.ZIP ... Star Game"}, out),
      "");
  EXPECT_EQ(MissingLine({"STARGAME.ZIP ...", "README.TXT ..."}, out),
            "README.TXT ...");  // order counts
  EXPECT_EQ(MissingLine({"STARGAME.ZIP ... Moon Game"}, out),
            "STARGAME.ZIP ... Moon Game");
  EXPECT_EQ(MissingLine({"README.TXT"}, out), "README.TXT");  // whole lines
  EXPECT_EQ(StrayPaths("cp /srv/bbs/a /etc/passwd"),
            std::vector<std::string>{"/etc/passwd"});
  EXPECT_TRUE(
      StrayPaths("printf 'Home=/srv/bbs/x\\n' > /opt/quillmar/y").empty());
  EXPECT_EQ(Unescape("a &gt; b &amp;&amp; c &amp;lt;"), "a > b && c &lt;");
}

}  // namespace
