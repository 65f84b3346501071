#pragma once
// A front end for in-process tests: keeps the log view's lines (newest first) and captions.
#include <deque>
#include <string>

#include "state/front_end.h"

namespace qv::test {

class RecordingLogView : public state::LogView {
 public:
  int LineCount() const override { return static_cast<int>(lines.size()); }
  bool DeleteLastLine() override {
    if (lines.empty()) return false;
    lines.pop_back();
    return true;
  }
  void InsertAtTop(const std::string& text) override {
    std::deque<std::string> added;
    size_t start = 0;
    for (;;) {
      const size_t at = text.find("\r\n", start);
      added.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
      if (at == std::string::npos) break;
      start = at + 2;
    }
    lines.insert(lines.begin(), added.begin(), added.end());
  }
  std::deque<std::string> lines;
};

class RecordingFrontEnd : public state::FrontEnd {
 public:
  uint8_t ChooseLanguage() override {
    ++languageAsked;
    return languageCode;
  }
  void SetSettingsCaption(const std::string& text) override { settingsCaption = text; }
  void SetConnectionsCaption(const std::string& text) override { connectionsCaption = text; }
  state::LogView& View() override { return view; }

  RecordingLogView view;
  uint8_t languageCode = 5;
  int languageAsked = 0;
  std::string settingsCaption;
  std::string connectionsCaption;
};

}  // namespace qv::test
