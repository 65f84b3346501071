#pragma once
// Data request packages for the edits a browser makes, built byte for byte as the office's
// client builds the same edit, so that the record store, the acknowledgment and the forwarded
// copy cannot tell them apart. Texts are already in the office code page.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/day_record.h"

namespace qv::wire {

// The edit codes these requests carry (the record store's own names for them are in
// store/day_edits.h, which this layer cannot see).
constexpr int32_t kTitleEditCode = 2;
constexpr int32_t kMemoEditCode = 3;
constexpr int32_t kSlotEditCode = 4;

// The memo holds eight lines, each a short string of 255 characters.
constexpr int kMemoLines = 8;
constexpr size_t kMemoLineCapacity = 255;

// Code 2: the day's title.
RequestPackage TitleEdit(double date, std::string_view title);
// Code 3: the whole memo, lines beyond the eighth dropped. The record store takes the first
// 2047 bytes, so the last line keeps at most 254 characters.
RequestPackage MemoEdit(double date, const std::vector<std::string>& lines);
// Code 4: slot 0..69 gets a time label and a text; its slot id is left as it is (flag 0).
RequestPackage SlotEdit(double date, int32_t slot, std::string_view time, std::string_view text);
// Code 50: the chosen parts of day `source` copied onto day `target` (title, memo, slots, first
// and second line list).
RequestPackage CopyDayRequest(double source, double target, const std::array<bool, 5>& parts);

// The eight memo lines of a day record (short strings of 255 characters each).
std::vector<std::string> MemoLines(ConstDayBytes day);

}  // namespace qv::wire
