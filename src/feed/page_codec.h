#pragma once
// The JSON the web page and the server exchange: day records as JSON objects, dates as
// "yyyy-mm-dd", and the packages a group's native members receive (forwarded edits, copied
// weeks, the status table and its slot updates) decoded into the page's messages. Texts are
// converted between UTF-8 and the office code page here, on the server.
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "wire/day_record.h"

namespace qv::feed {

using Json = nlohmann::json;

// "yyyy-mm-dd" of a TDateTime, and back (nothing for a text that is no date).
std::string DateText(double date);
std::optional<double> ParseDate(std::string_view text);

class PageCodec {
 public:
  explicit PageCodec(std::string codePage) : codePage_(std::move(codePage)) {}

  std::string ToUtf8(std::string_view office) const;
  std::string ToOffice(std::string_view utf8) const;

  // {date, title, memo: [8 lines], slots: [{time, text}] up to the last used or labelled
  // slot, first: [...], second: [...]} (line lists up to their last non-empty line).
  Json Day(wire::ConstDayBytes day) const;

  // What a received package means to a page, or null when nothing:
  //   code 2, 3, 4 edits:  {type: "title"|"memo"|"slot", date, ...the new texts}
  //   other day edits:     {type: "changed", date} (the page reads that day again)
  //   2000/2 copied week:  {type: "days", days: [...]}
  //   5000 status table:   {type: "online", users: [{name, host, online}]}
  //   2000/3 status slot:  {type: "presence", name, host, online}
  Json Package(std::span<const uint8_t> payload) const;

 private:
  Json StatusSlot(const uint8_t* slot) const;
  std::string codePage_;
};

}  // namespace qv::feed
