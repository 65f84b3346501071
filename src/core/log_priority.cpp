#include "core/log_priority.h"

#include <algorithm>
#include <array>

#include "state/catalogue.h"

namespace qv::core {

namespace {

// Catalogue entries that report a failure of the server, of a file or of a connection.
constexpr std::array kErrorMessages = {0,  6,  8,  9,  12, 18, 20, 21, 22, 24, 25, 26, 27, 28,
                                       29, 30, 32, 36, 37, 38, 39, 40, 41, 45, 46, 71, 89};
// Entries that report something refused, retried or corrected, and the server goes on.
constexpr std::array kWarningMessages = {11, 16, 23, 31, 33, 34, 35, 42, 72, 73, 75, 86, 87, 88};

bool HasTimeStamp(std::string_view text) {
  if (text.size() < 9) return false;
  const auto digit = [&](size_t i) { return text[i] >= '0' && text[i] <= '9'; };
  return digit(0) && digit(1) && text[2] == ':' && digit(3) && digit(4) && text[5] == ':' &&
         digit(6) && digit(7) && text[8] == ' ';
}

// Index of the longest catalogue text the entry starts with, or -1.
int MatchCatalogue(std::string_view text) {
  int best = -1;
  size_t bestLength = 0;
  for (const state::CatalogueTable* table : {&state::EnglishTable(), &state::RussianTable()}) {
    for (int i = 0; i < wire::kCatalogueSize; ++i) {
      const std::string& message = (*table)[static_cast<size_t>(i)];
      if (message.size() > bestLength && text.substr(0, message.size()) == message) {
        best = i;
        bestLength = message.size();
      }
    }
  }
  return best;
}

}  // namespace

int LogEntryPriority(std::string_view entry) {
  if (HasTimeStamp(entry)) entry.remove_prefix(9);
  const int index = MatchCatalogue(entry);
  if (index >= 0) {
    const auto in = [index](const auto& list) {
      return std::find(list.begin(), list.end(), index) != list.end();
    };
    if (in(kErrorMessages)) return kPriorityError;
    if (in(kWarningMessages)) return kPriorityWarning;
    return kPriorityInfo;
  }
  return entry.find("Error") != std::string_view::npos ? kPriorityError : kPriorityInfo;
}

}  // namespace qv::core
