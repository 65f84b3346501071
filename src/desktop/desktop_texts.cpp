#include "desktop/desktop_texts.h"

#include "platform/text_codec.h"

namespace qv::desktop {
namespace {

struct Texts {
  const char* english;
  const char* russianUtf8;
};

Texts Entry(DesktopText text) {
  switch (text) {
    case DesktopText::NoSystemTray:
      return {"No system tray: running without a tray icon.",
              "Нет области уведомлений: сервер работает без значка в трее."};
    case DesktopText::EditsDroppedAtStop:
      return {"Stop: open dialogs closed, their unsaved changes dropped.",
              "Остановка: открытые окна закрыты, несохранённые изменения в них отброшены."};
  }
  return {"", ""};
}

}  // namespace

std::string Text(const Catalogue& catalogue, DesktopText text) {
  const Texts entry = Entry(text);
  if (catalogue.Current() == Language::Russian) return platform::Utf8ToCp1251(entry.russianUtf8);
  return entry.english;
}

}  // namespace qv::desktop
