#pragma once
// What the engine needs of the program's windows. The daemon has no windows: its log view is
// standard output and its first-run language is English.
#include <cstdint>
#include <exception>
#include <string>

#include "state/log.h"

namespace qv::state {

// Thrown by a front end whose program is stopped during start-up (a signal under the first-run
// language chooser): start-up ends at once and writes nothing.
struct StartupAbandoned final : std::exception {
  const char* what() const noexcept override { return "stopped during start-up"; }
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // First-run character set code (English 5 when nothing is chosen). May throw
  // StartupAbandoned.
  virtual uint8_t ChooseLanguage() { return 5; }
  virtual void SetSettingsCaption(const std::string&) {}
  // Label1 of the main window: "Connections: " and the session count.
  virtual void SetConnectionsCaption(const std::string&) {}
  virtual LogView& View() = 0;
  // True for a program without a settings dialog (the daemon): start-up creates a configured
  // datafile that does not exist, as the dialog would.
  virtual bool CreatesMissingDatafiles() const { return false; }
};

}  // namespace qv::state
