#include "msztool.h"

#include <charconv>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>

#include "safeformat.h"

namespace msztool {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A stand-in argument of a declared type, for the format check.
bool MakeArg(std::string_view type, hostlog::FormatArg* arg) {
  static const char kText[] = "";
  if (type == "int")
    *arg = hostlog::MakeFormatArg(int{0});
  else if (type == "uint")
    *arg = hostlog::MakeFormatArg(0u);
  else if (type == "long")
    *arg = hostlog::MakeFormatArg(0L);
  else if (type == "ulong")
    *arg = hostlog::MakeFormatArg(0UL);
  else if (type == "i64")
    *arg = hostlog::MakeFormatArg(std::int64_t{0});
  else if (type == "u64")
    *arg = hostlog::MakeFormatArg(std::uint64_t{0});
  else if (type == "size")
    *arg = hostlog::MakeFormatArg(std::size_t{0});
  else if (type == "str")
    *arg = hostlog::MakeFormatArg(static_cast<const char*>(kText));
  else if (type == "double")
    *arg = hostlog::MakeFormatArg(0.0);
  else if (type == "ptr")
    *arg = hostlog::MakeFormatArg(static_cast<const void*>(kText));
  else
    return false;
  return true;
}

bool ReadFile(const char* path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *out = s.str();
  return !in.bad();
}

}  // namespace

bool ParseSource(std::string_view source, std::vector<SourceEntry>* entries,
                 std::vector<std::string>* errors, std::vector<std::string>* warnings) {
  entries->clear();
  std::map<std::int64_t, int> seen;
  bool pending_args = false;
  std::vector<std::string> args;
  int line_no = 0;
  while (!source.empty()) {
    ++line_no;
    const size_t eol = source.find('\n');
    std::string_view line = source.substr(0, eol);
    source = eol == std::string_view::npos ? std::string_view() : source.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string where = "line " + std::to_string(line_no) + ": ";
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty()) continue;
    if (trimmed.front() == '#') {
      std::string_view body = Trim(trimmed.substr(1));
      if (body.substr(0, 5) != "args:") continue;
      body = Trim(body.substr(5));
      pending_args = true;
      args.clear();
      if (body == "none") continue;
      while (!body.empty()) {
        const size_t comma = body.find(',');
        const std::string_view type = Trim(body.substr(0, comma));
        hostlog::FormatArg probe;
        if (!MakeArg(type, &probe)) {
          errors->push_back(where + "unknown argument type \"" + std::string(type) + "\"");
        }
        args.emplace_back(type);
        body = comma == std::string_view::npos ? std::string_view() : body.substr(comma + 1);
      }
      continue;
    }
    // "<id> <text>": the id, one blank, the text as written.
    size_t blank = 0;
    while (blank < line.size() && line[blank] != ' ' && line[blank] != '\t') ++blank;
    SourceEntry e;
    const std::string_view id = line.substr(0, blank);
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), e.id);
    if (id.empty() || ec != std::errc() || end != id.data() + id.size()) {
      errors->push_back(where + "expected \"<id> <text>\" with a decimal id");
      continue;
    }
    e.text = std::string(blank < line.size() ? line.substr(blank + 1) : std::string_view());
    std::u16string unused;
    if (!msz::Utf8ToUtf16(e.text, &unused)) errors->push_back(where + "text is not valid UTF-8");
    e.has_args = pending_args;
    e.args = args;
    e.line = line_no;
    pending_args = false;
    args.clear();
    if (const auto it = seen.find(e.id); it != seen.end()) {
      warnings->push_back(where + "id " + std::to_string(e.id) + " repeats line " +
                          std::to_string(it->second) + "; the later text wins");
    }
    seen[e.id] = line_no;
    std::string why;
    if (!CheckArgs(e, &why)) errors->push_back(where + why);
    entries->push_back(std::move(e));
  }
  return errors->empty();
}

bool CheckArgs(const SourceEntry& entry, std::string* error) {
  if (!entry.has_args) return true;
  std::vector<hostlog::FormatArg> list(entry.args.size() + 1);
  for (size_t i = 0; i < entry.args.size(); ++i) {
    if (!MakeArg(entry.args[i], &list[i])) {
      *error = "unknown argument type \"" + entry.args[i] + "\"";
      return false;
    }
  }
  if (hostlog::FormatFits(entry.text, list.data(), entry.args.size())) return true;
  std::string declared;
  for (const std::string& a : entry.args) declared += (declared.empty() ? "" : ", ") + a;
  *error = "id " + std::to_string(entry.id) + ": the conversions of the text do not fit its " +
           "arguments (" + (declared.empty() ? "none" : declared) + ")";
  return false;
}

std::vector<msz::Record> ToRecords(const std::vector<SourceEntry>& entries) {
  std::vector<msz::Record> records;
  for (const SourceEntry& e : entries) {
    msz::Record r;
    r.id = e.id;
    msz::Utf8ToUtf16(e.text, &r.text);
    records.push_back(std::move(r));
  }
  return records;
}

std::string Dump(const std::vector<msz::Record>& records, std::vector<std::string>* warnings) {
  std::string out;
  for (const msz::Record& r : records) {
    std::string text = msz::Utf16ToUtf8(r.text);  // the source format, on every system
    std::string line;
    bool broke = false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' || text[i] == '\n') {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += "\\n";
        broke = true;
      } else {
        line += text[i];
      }
    }
    if (broke) warnings->push_back("id " + std::to_string(r.id) + ": line break written as \\n");
    if (!r.had_nul) warnings->push_back("id " + std::to_string(r.id) + ": text had no NUL unit");
    out += std::to_string(r.id) + " " + line + "\n";
  }
  return out;
}

int Main(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  static constexpr char kUsage[] =
      "usage: msz build <source.txt> <out.msz>\n"
      "       msz dump <in.msz>\n";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return 0;
    }
  }
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "build" && argc == 4) {
    std::string source;
    if (!ReadFile(argv[2], &source)) {
      err << "msz: cannot read " << argv[2] << "\n";
      return 1;
    }
    std::vector<SourceEntry> entries;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    const bool ok = ParseSource(source, &entries, &errors, &warnings);
    for (const std::string& w : warnings) err << argv[2] << ": warning: " << w << "\n";
    for (const std::string& e : errors) err << argv[2] << ": error: " << e << "\n";
    if (!ok) return 1;
    const std::vector<std::uint8_t> bytes = msz::Build(ToRecords(entries));
    std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      err << "msz: cannot write " << argv[3] << "\n";
      return 1;
    }
    return 0;
  }
  if (command == "dump" && argc == 3) {
    std::string image;
    if (!ReadFile(argv[2], &image)) {
      err << "msz: cannot read " << argv[2] << "\n";
      return 1;
    }
    std::vector<msz::Record> records;
    std::string problem;
    if (!msz::Parse(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), &records,
                    &problem)) {
      err << argv[2] << ": refused: " << problem << "\n";
      return 1;
    }
    std::vector<std::string> warnings;
    out << Dump(records, &warnings);
    for (const std::string& w : warnings) err << argv[2] << ": warning: " << w << "\n";
    return 0;
  }
  err << kUsage;
  return 2;
}

}  // namespace msztool
