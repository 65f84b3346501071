#pragma once
// The daemon's face: log lines go to standard output, oldest first, in UTF-8, one per line.
#include <cstdio>

#include "state/front_end.h"

namespace qv {

class ConsoleLogView final : public LogView {
 public:
  explicit ConsoleLogView(std::FILE* out) : out_(out) {}
  int LineCount() const override { return 0; }  // printed lines are never trimmed
  bool DeleteLastLine() override { return false; }
  void InsertAtTop(const std::string& text) override;

 private:
  std::FILE* out_;
};

class ConsoleFrontEnd final : public FrontEnd {
 public:
  explicit ConsoleFrontEnd(std::FILE* out = stdout) : view_(out) {}
  LogView& View() override { return view_; }

 private:
  ConsoleLogView view_;
};

}  // namespace qv
