#include "desktop/desktop_front_end.h"

#include "desktop/language_dialog.h"
#include "desktop/text.h"

namespace qv::desktop {

uint8_t DesktopFrontEnd::ChooseLanguage() {
  if (stopping_) throw state::StartupAbandoned();
  const uint8_t code = desktop::ChooseLanguage();
  if (stopping_) throw state::StartupAbandoned();
  return code;
}

void DesktopFrontEnd::SetSettingsCaption(const std::string& text) {
  window_.Button1().setText(FromAnsi(text));
}

void DesktopFrontEnd::SetConnectionsCaption(const std::string& text) {
  if (loop_.InLoopThread()) {
    window_.Label1().setText(FromAnsi(text));
  } else {
    TFormQVServer* window = &window_;
    loop_.Post([window, text] { window->Label1().setText(FromAnsi(text)); });
  }
}

}  // namespace qv::desktop
