#pragma once
// The message catalogue: 90 fixed texts in English and Russian, the working copy of one of them.
#include <array>
#include <string>

#include "wire/messages.h"

namespace qv::state {

constexpr size_t kCatalogueEntryCapacity = 91;

namespace catalogue_tables {
extern const std::array<const char*, wire::kCatalogueSize> kEnglish;
extern const std::array<const char*, wire::kCatalogueSize> kRussianUtf8;
}  // namespace catalogue_tables

using CatalogueTable = std::array<std::string, wire::kCatalogueSize>;

const CatalogueTable& EnglishTable();
const CatalogueTable& RussianTable();  // Windows-1251 bytes

enum class Language : uint8_t { English = 0, Russian = 1 };

class Catalogue {
 public:
  Catalogue() { Select(Language::English); }
  void Select(Language language);
  Language Current() const { return language_; }
  // Entry of the working catalogue.
  const std::string& operator[](wire::MsgId id) const;

 private:
  CatalogueTable table_;
  Language language_ = Language::English;
};

}  // namespace qv::state
