#include "actions/WebListing.h"

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "actions/FileActions.h"
#include "actions/MatchRule.h"
#include "platform/FieldText.h"
#include "platform/FileTime.h"
#include "platform/Files.h"
#include "platform/StoredText.h"
#include "run/ListingExtras.h"
#include "run/RunLog.h"

namespace qm {

namespace {

struct WebFile {
  std::string name;
  int64_t size = 0;
  uint64_t time = 0;
  std::vector<std::string> description;  // stored bytes, line by line
};

// Every description line: the long description without its empty tail, or
// the short one.
std::vector<std::string> DescriptionLines(const TFileRecord& record,
                                          const TFullFileRecord* full) {
  std::vector<std::string> lines;
  if (full != nullptr && record.HasLongDescription != 0) {
    for (int i = 0; i < kLongDescLines; ++i)
      lines.push_back(FieldText(full->LongDescription[i], kLongDescLineSize));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
  }
  if (lines.empty()) {
    std::string text = FieldText(record.Description, sizeof record.Description);
    if (!text.empty()) lines.push_back(std::move(text));
  }
  return lines;
}

bool ForbiddenInHtml(char32_t c) {
  return (c >= 0x80 && c < 0xA0) || (c >= 0xFDD0 && c <= 0xFDEF) ||
         (c & 0xFFFE) == 0xFFFE;
}

// A name, a one-line stored text, as the listing shows it.
std::vector<ShownChar> ShownName(const std::string& name, Charset charset) {
  return ShowStoredLines({name}, charset).front();
}

// A shown text for HTML. HTML cannot hold control characters: they become
// their pictures (U+2400 on), but DOS text has its own pictures already and
// keeps its line breaks; characters HTML forbids become U+FFFD.
std::string HtmlText(const std::vector<ShownChar>& shown, Charset charset) {
  std::string text;
  for (const ShownChar& c : shown) {
    switch (c.point) {
      case '&':
        text += "&amp;";
        continue;
      case '<':
        text += "&lt;";
        continue;
      case '>':
        text += "&gt;";
        continue;
      case '"':
        text += "&quot;";
        continue;
      case '\'':
        text += "&#39;";
        continue;
      default:
        break;
    }
    char32_t point = c.point;
    if (charset == Charset::Windows1252 && point < 0x20) point += 0x2400;
    if (point == 0x7F) point = 0x2421;
    if (ForbiddenInHtml(point)) point = 0xFFFD;
    AppendUtf8(text, point);
  }
  return text;
}

std::string IsoDate(uint64_t time) {
  const std::string text = FileTimeToIsoText(time);
  return text.substr(0, text.find(' '));
}

std::string HtmlArea(int32_t area, const std::string& name,
                     const std::vector<WebFile>& files, Charset charset) {
  std::string html = "<section id=\"area-" + std::to_string(area) +
                     "\">\n<h2>" + HtmlText(ShownName(name, charset), charset) +
                     "</h2>\n<table>\n<thead><tr><th class=\"name\">Name</th>"
                     "<th class=\"size\">Size</th><th class=\"date\">Date</th>"
                     "<th>Description</th></tr></thead>\n"
                     "<tbody>\n";
  for (const WebFile& file : files) {
    html += "<tr><td class=\"name\">" +
            HtmlText(ShownName(file.name, charset), charset) +
            "</td><td class=\"size\">" + std::to_string(file.size) +
            "</td><td class=\"date\">" + IsoDate(file.time) +
            "</td><td class=\"desc\">";
    const auto lines = ShowStoredLines(file.description, charset);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) html += '\n';
      html += HtmlText(lines[i], charset);
    }
    html += "</td></tr>\n";
  }
  if (files.empty())
    html += "<tr><td colspan=\"4\" class=\"none\">No files</td></tr>\n";
  return html + "</tbody>\n</table>\n</section>\n";
}

constexpr char kHtmlTail[] = "</main>\n</body>\n</html>\n";
constexpr char kJsonHead[] = "{\"areas\":[";
constexpr char kJsonTail[] = "\n]}\n";

std::string HtmlHead(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"
         "<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, "
         "initial-scale=1\">\n<title>" +
         title +
         "</title>\n<style>\n"
         "body{font-family:system-ui,-apple-system,\"Segoe UI\",Roboto,"
         "sans-serif;margin:0 auto;max-width:64rem;padding:0 1rem 2rem;"
         "line-height:1.45;color:#1d1d1f;background:#fff}\n"
         "h2{font-size:1.3rem;margin:1.8rem 0 .6rem;padding-bottom:.3rem;"
         "border-bottom:3px solid #2b5fb3}\n"
         "table{border-collapse:collapse;width:100%}\n"
         "th,td{text-align:left;vertical-align:top;padding:.4rem .6rem;"
         "border-bottom:1px solid #d8dde6}\n"
         "th{background:#eef2f8;font-size:.9rem}\n"
         "tbody tr:nth-child(even){background:#f8f9fb}\n"
         "table{table-layout:fixed}\n"
         ".name{width:11rem;font-weight:600;overflow-wrap:anywhere}\n"
         ".size{width:6rem;text-align:right;white-space:nowrap}\n"
         ".date{width:6.5rem;white-space:nowrap}\n"
         ".desc{font-family:\"DejaVu Sans Mono\",Consolas,\"Courier New\","
         "monospace;font-size:.9rem;line-height:1.2;white-space:pre-wrap;"
         "overflow-wrap:anywhere}\n"
         "@media "
         "(max-width:40rem){table,tbody{display:block}thead{display:none}"
         "tr{display:grid;grid-template-columns:1fr auto auto;"
         "column-gap:.8rem;padding:.5rem 0;border-bottom:1px solid #d8dde6}"
         "td{border:0;padding:.1rem 0}.name,.size,.date{width:auto}"
         ".desc{grid-column:1/-1}"
         ".none{grid-column:1/-1}}\n"
         "</style>\n</head>\n<body>\n<main>\n";
}

std::string JsonArea(int32_t area, const std::string& name,
                     const std::vector<WebFile>& files, Charset charset) {
  nlohmann::ordered_json json;
  json["number"] = area;
  json["name"] = ShownToUtf8(ShownName(name, charset));
  json["files"] = nlohmann::ordered_json::array();
  for (const WebFile& file : files) {
    nlohmann::ordered_json entry;
    entry["name"] = ShownToUtf8(ShownName(file.name, charset));
    entry["size"] = file.size;
    std::string time = FileTimeToIsoText(file.time);
    if (const size_t space = time.find(' '); space != std::string::npos)
      time[space] = 'T';
    entry["time"] = time;
    entry["description"] = nlohmann::ordered_json::array();
    for (const auto& line : ShowStoredLines(file.description, charset))
      entry["description"].push_back(ShownToUtf8(line));
    json["files"].push_back(std::move(entry));
  }
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string HtmlJoint(size_t) { return {}; }

std::string JsonHead(const std::string&) { return kJsonHead; }

std::string JsonJoint(size_t index) { return index > 0 ? ",\n" : "\n"; }

// One web layout: an area's part, and the document around the parts (its
// head, a joint before each area, its tail).
struct WebFormat {
  std::string (*area)(int32_t, const std::string&, const std::vector<WebFile>&,
                      Charset);
  std::string (*head)(const std::string& title);
  std::string (*joint)(size_t index);
  const char* tail;
};

// The web layouts among the list modes; nullopt for a text layout.
std::optional<WebFormat> FormatOf(ListMode mode) {
  switch (mode) {
    case ListMode::Html:
      return WebFormat{HtmlArea, HtmlHead, HtmlJoint, kHtmlTail};
    case ListMode::Json:
      return WebFormat{JsonArea, JsonHead, JsonJoint, kJsonTail};
    case ListMode::Single:
    case ListMode::Double:
    case ListMode::Full:
      break;
  }
  return std::nullopt;
}

bool Put(AtomicWriter& writer, const std::string& bytes) {
  uint32_t done = 0;
  return writer.Write(bytes.data(), static_cast<uint32_t>(bytes.size()),
                      done) &&
         done == bytes.size();
}

// Puts the head and the areas; the tail comes when the document is done.
bool Start(AtomicWriter& writer, const std::string& path,
           const WebFormat& format, const std::vector<std::string>& areas,
           const std::string& title) {
  if (!writer.Open(path) || !Put(writer, format.head(title))) return false;
  for (size_t i = 0; i < areas.size(); ++i) {
    if (!Put(writer, format.joint(i) + areas[i])) return false;
  }
  return true;
}

bool Finish(AtomicWriter& writer, const WebFormat& format) {
  return Put(writer, format.tail) && writer.Commit();
}

}  // namespace

// The run's web "All Files List" documents. Each goes into a new file area
// by area and replaces the old one once, when the run ends: a document
// rewritten after each area cost the square of its size, and a killed or
// failed run still leaves the last complete document in place.
struct WebListings {
  struct Document {
    // What the document holds so far, to start it again: after a failed
    // write, in another mode, or after another listing wrote its file.
    std::vector<std::string> areas;
    ListMode mode = ListMode::Html;
    std::unique_ptr<AtomicWriter> writer;  // head and areas, no tail yet
  };
  std::map<std::string, Document> documents;
};

namespace {

WebListings::Document& WebDocument(RunState& state, const std::string& path) {
  if (!state.webListings) state.webListings = std::make_shared<WebListings>();
  return state.webListings->documents[path];
}

// Puts an open document in place; an I/O error is logged.
void Complete(RunContext& ctx, WebListings::Document& document) {
  if (!document.writer) return;
  const bool ok = Finish(*document.writer, *FormatOf(document.mode));
  document.writer.reset();
  if (!ok) LogRunError(ctx, "IO Error during File List Creation.");
}

}  // namespace

void CompleteWebListing(RunContext& ctx, const std::string& path) {
  if (!ctx.state.webListings) return;
  auto& documents = ctx.state.webListings->documents;
  if (documents.empty()) return;
  const std::string found = ResolveExisting(path);
  const auto it = documents.find(found.empty() ? path : found);
  if (it != documents.end()) Complete(ctx, it->second);
}

void CompleteWebListings(RunContext& ctx) {
  if (!ctx.state.webListings) return;
  for (auto& [path, document] : ctx.state.webListings->documents)
    Complete(ctx, document);
  ctx.state.webListings.reset();  // the next run starts every one afresh
}

bool IsWebListingMode(ListMode mode) { return FormatOf(mode).has_value(); }

bool WriteWebListing(RunContext& ctx, int32_t area, const TFileArea& record,
                     ListMode mode, const MatchRule& rule,
                     const std::string& outputPath, bool allFiles) {
  const WebFormat format = *FormatOf(mode);
  const Charset charset = ctx.state.listingExtras.charset;
  std::vector<WebFile> files;
  // A cancel keeps the files gathered so far.
  WalkMatchingRecords(ctx, area, rule, [&](TFileRecord& file) {
    TFullFileRecord full{};
    const bool haveFull = GetFullFileRec(file, full) != 0;
    files.push_back({FieldText(file.Name, sizeof file.Name), file.Size,
                     file.FileTime,
                     DescriptionLines(file, haveFull ? &full : nullptr)});
    return true;
  });
  const std::string name = FieldText(record.Name, sizeof record.Name);
  const std::string areaText = format.area(area, name, files, charset);
  if (!allFiles) {
    CompleteWebListing(ctx, outputPath);
    AtomicWriter writer;
    return Start(writer, outputPath, format, {areaText},
                 HtmlText(ShownName(name, charset), charset)) &&
           Finish(writer, format);
  }
  // The first entry of a run starts the document afresh.
  WebListings::Document& document = WebDocument(ctx.state, outputPath);
  if (AllFilesListed(ctx.state).count(outputPath) == 0) {
    document.areas.clear();
    document.writer.reset();
  }
  document.areas.push_back(areaText);
  bool ok;
  if (document.writer && document.mode == mode) {
    ok = Put(*document.writer,
             format.joint(document.areas.size() - 1) + areaText);
  } else {
    document.writer = std::make_unique<AtomicWriter>();
    document.mode = mode;
    ok = Start(*document.writer, outputPath, format, document.areas,
               "File listing");
  }
  if (!ok) {
    document.writer.reset();
    return false;
  }
  AllFilesListed(ctx.state).insert(outputPath);
  return true;
}

}  // namespace qm
