#pragma once
// The engine's view of the desktop: the main window's log view and captions, and the
// first-run language chooser.
#include "desktop/main_window.h"
#include "platform/event_loop.h"
#include "state/front_end.h"

namespace qv::desktop {

class DesktopFrontEnd final : public state::FrontEnd {
 public:
  DesktopFrontEnd(TFormQVServer& window, platform::EventLoop& loop)
      : window_(window), loop_(loop) {}
  // Throws StartupAbandoned when the program is stopped before or under the chooser: the
  // chooser closed by the stop chose nothing, so no first-run file is written.
  uint8_t ChooseLanguage() override;
  void SetStopping() { stopping_ = true; }
  void SetSettingsCaption(const std::string& text) override;
  // May be called from any thread; the label changes on the GUI thread.
  void SetConnectionsCaption(const std::string& text) override;
  state::LogView& View() override { return window_.View(); }

 private:
  TFormQVServer& window_;
  platform::EventLoop& loop_;
  bool stopping_ = false;
};

}  // namespace qv::desktop
