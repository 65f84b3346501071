#include "state/catalogue.h"

#include "platform/text_codec.h"

namespace qv::state {
namespace {

CatalogueTable Build(const std::array<const char*, wire::kCatalogueSize>& source, bool toCp1251) {
  CatalogueTable table;
  for (int i = 0; i < wire::kCatalogueSize; ++i) {
    std::string text = toCp1251 ? platform::Utf8ToCp1251(source[i]) : std::string(source[i]);
    if (text.size() > kCatalogueEntryCapacity) text.resize(kCatalogueEntryCapacity);
    table[i] = std::move(text);
  }
  return table;
}

}  // namespace

const CatalogueTable& EnglishTable() {
  static const CatalogueTable table = Build(catalogue_tables::kEnglish, false);
  return table;
}

const CatalogueTable& RussianTable() {
  static const CatalogueTable table = Build(catalogue_tables::kRussianUtf8, true);
  return table;
}

void Catalogue::Select(Language language) {
  table_ = language == Language::Russian ? RussianTable() : EnglishTable();
  language_ = language;
}

const std::string& Catalogue::operator[](wire::MsgId id) const {
  return table_[Index(id)];
}

}  // namespace qv::state
