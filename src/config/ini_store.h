#pragma once
// Server.ini: sections of "key=value" entries. Names match without regard to case, entries keep
// their order, a write replaces a value where it stands or appends to its section (a new
// section goes to the end of the file), and every change is on disk when the call returns.
// Bytes are kept as they are: values are not converted from or to any code page.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::config {

struct IniEntry {
  std::string Key;
  std::string Value;
};

class IniSection {
 public:
  IniSection() = default;
  explicit IniSection(std::vector<IniEntry> entries) : entries_(std::move(entries)) {}
  const std::vector<IniEntry>& Entries() const { return entries_; }
  // Value of the first entry named key (case ignored); empty when missing.
  std::string Value(std::string_view key) const;
  bool Has(std::string_view key) const;

 private:
  std::vector<IniEntry> entries_;
};

class IniStore {
 public:
  explicit IniStore(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }
  bool Exists() const;

  // A missing file reads as empty. Read errors throw platform::FileError.
  IniSection ReadSection(std::string_view section) const;
  std::string ReadString(std::string_view section, std::string_view key) const;
  std::vector<std::string> SectionNames() const;

  // Writes throw platform::FileError when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);

 private:
  std::vector<std::string> LoadLines() const;
  void SaveLines(const std::vector<std::string>& lines) const;

  std::string path_;
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Decimal integer text with an optional sign, within the 32-bit range.
bool TryParseInt(std::string_view text, int32_t& value);

}  // namespace qv::config
