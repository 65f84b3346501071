#pragma once
// The daemon's face: log lines go to standard output, oldest first, in UTF-8, one per line.
#include <cstdio>

#include "state/front_end.h"

namespace qv::core {

class ConsoleLogView final : public state::LogView {
 public:
  // journal: every line starts with its priority ("<3>", "<4>", "<6>") for the journal, and the
  // entry's own "HH:MM:SS " time stamp is left out (the journal stamps each line itself).
  explicit ConsoleLogView(std::FILE* out, bool journal = false) : out_(out), journal_(journal) {}
  int LineCount() const override { return 0; }  // printed lines are never trimmed
  bool DeleteLastLine() override { return false; }
  void InsertAtTop(const std::string& text) override;

 private:
  std::FILE* out_;
  bool journal_;
};

class ConsoleFrontEnd final : public state::FrontEnd {
 public:
  explicit ConsoleFrontEnd(std::FILE* out = stdout) : view_(out) {}
  state::LogView& View() override { return view_; }
  bool CreatesMissingDatafiles() const override { return true; }

 private:
  ConsoleLogView view_;
};

}  // namespace qv::core
