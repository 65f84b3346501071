#include "config/ini_store.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>

#include "platform/files.h"

namespace qv::config {
namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The section name of a header line "[name]", if the line is one.
std::optional<std::string_view> SectionHeader(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

// Line range [begin, end) of a section's entries (after its header), or nothing.
struct SectionRange {
  size_t header;
  size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<std::string>& lines,
                                        std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionHeader(lines[i]);
    if (!name || !EqualsIgnoreCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionHeader(lines[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool TryParseInt(std::string_view text, int32_t& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  int32_t v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size()) return false;
  value = v;
  return true;
}

std::string IniSection::Value(std::string_view key) const {
  for (const auto& e : entries_) {
    if (EqualsIgnoreCase(e.Key, key)) return e.Value;
  }
  return {};
}

bool IniSection::Has(std::string_view key) const {
  for (const auto& e : entries_) {
    if (EqualsIgnoreCase(e.Key, key)) return true;
  }
  return false;
}

bool IniStore::Exists() const {
  return platform::FileExists(path_);
}

std::vector<std::string> IniStore::LoadLines() const {
  std::vector<std::string> lines;
  auto file = platform::File::TryOpen(path_, platform::OpenMode::Read, false);
  if (!file) {
    if (errno == ENOENT) return lines;
    throw platform::FileError("cannot open " + path_, errno);
  }
  std::string content(static_cast<size_t>(file->Size()), '\0');
  content.resize(file->ReadSome(content.data(), content.size()));
  size_t start = 0;
  while (start < content.size()) {
    size_t nl = content.find('\n', start);
    if (nl == std::string::npos) nl = content.size();
    std::string line = content.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = nl + 1;
  }
  return lines;
}

void IniStore::SaveLines(const std::vector<std::string>& lines) const {
  std::string content;
  for (const auto& line : lines) content += line + "\r\n";
  // Written beside the file and renamed over it, so a failure never leaves half a file.
  const std::string temp = path_ + ".new";
  {
    platform::File file = platform::File::Open(temp, platform::OpenMode::CreateTruncate, false);
    file.Write(content.data(), content.size());
    file.Flush();
    file.Close();
  }
  if (!platform::RenameFile(temp, path_)) {
    const int error = errno;
    platform::DeleteFile(temp);
    throw platform::FileError("cannot replace " + path_, error);
  }
}

IniSection IniStore::ReadSection(std::string_view section) const {
  const auto lines = LoadLines();
  std::vector<IniEntry> entries;
  if (auto range = FindSection(lines, section)) {
    for (size_t i = range->header + 1; i < range->end; ++i) {
      if (auto kv = ParseKeyLine(lines[i])) {
        entries.push_back(IniEntry{std::string(kv->key), std::string(kv->value)});
      }
    }
  }
  return IniSection(std::move(entries));
}

std::string IniStore::ReadString(std::string_view section, std::string_view key) const {
  return ReadSection(section).Value(key);
}

std::vector<std::string> IniStore::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& line : LoadLines()) {
    if (auto name = SectionHeader(line)) names.emplace_back(*name);
  }
  return names;
}

void IniStore::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  auto lines = LoadLines();
  const std::string entry = std::string(key) + "=" + std::string(value);
  auto range = FindSection(lines, section);
  if (!range) {
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(entry);
  } else {
    bool replaced = false;
    for (size_t i = range->header + 1; i < range->end && !replaced; ++i) {
      auto kv = ParseKeyLine(lines[i]);
      if (kv && EqualsIgnoreCase(kv->key, key)) {
        lines[i] = std::string(kv->key) + "=" + std::string(value);  // the key keeps its spelling
        replaced = true;
      }
    }
    if (!replaced) {
      // After the section's last entry, before any blank lines that separate it from the next.
      size_t at = range->end;
      while (at > range->header + 1 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  }
  SaveLines(lines);
}

void IniStore::DeleteKey(std::string_view section, std::string_view key) {
  auto lines = LoadLines();
  auto range = FindSection(lines, section);
  if (!range) return;
  for (size_t i = range->header + 1; i < range->end; ++i) {
    auto kv = ParseKeyLine(lines[i]);
    if (kv && EqualsIgnoreCase(kv->key, key)) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      SaveLines(lines);
      return;
    }
  }
}

void IniStore::EraseSection(std::string_view section) {
  auto lines = LoadLines();
  auto range = FindSection(lines, section);
  if (!range) return;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
              lines.begin() + static_cast<std::ptrdiff_t>(range->end));
  SaveLines(lines);
}

}  // namespace qv::config
