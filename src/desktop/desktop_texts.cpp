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
    case DesktopText::TrayAppeared:
      return {"System tray found: tray icon shown.",
              "Появилась область уведомлений: значок в трее показан."};
    case DesktopText::EditsDroppedAtStop:
      return {"Stop: open dialogs closed, their unsaved changes dropped.",
              "Остановка: открытые окна закрыты, несохранённые изменения в них отброшены."};
    case DesktopText::RestructureQuestion:
      return {
          "Apply removes %1 day(s) of the datafile and %2 day(s) of the archive.\n"
          "The datafile will hold %3 record(s), the archive %4.",
          "Применение удалит дней из файла данных: %1, из архива: %2.\n"
          "В файле данных останется записей: %3, в архиве: %4."};
    case DesktopText::RestructureBackupKeeps:
      return {"The backup copy keeps every day.\nApply?",
              "Резервная копия сохранит все дни.\nПрименить?"};
    case DesktopText::RestructureNoBackup:
      return {"No backup copy is made: removed days are lost.\nApply?",
              "Резервная копия не создаётся: удалённые дни будут потеряны.\nПрименить?"};
    case DesktopText::RestructureDone:
      return {"DB Structure: %1: datafile %2 -> %3 records, archive %4 -> %5 records",
              "Структура БД: %1: файл данных %2 -> %3 записей, архив %4 -> %5 записей"};
    case DesktopText::RestructureBackupName:
      return {", backup copy %1", ", резервная копия %1"};
    case DesktopText::RestructureFailed:
      return {"DB Structure: %1: not changed: %2", "Структура БД: %1: не изменено: %2"};
    case DesktopText::SequenceWarning:
      return {"The correction of sequence of records is made only. You need repeat Restructure.",
              "Выполнено только упорядочение записей. Повторите реструктуризацию."};
    case DesktopText::StructureCaption:
      return {"DB Structure", "Структура БД"};
    case DesktopText::SettingsCaption:
      return {"Server Settings", "Настройки сервера"};
    case DesktopText::Port2Caption:
      return {"port 2", "порт 2"};
    case DesktopText::FeedPortLabel:
      return {"HTTP feed port:", "Порт HTTP-ленты:"};
    case DesktopText::FeedAddressLabel:
      return {"HTTP feed address:", "Адрес HTTP-ленты:"};
    case DesktopText::FeedPortOff:
      return {"0 = off", "0 = выкл."};
    case DesktopText::ChooseDatafileCaption:
      return {"Datafile", "Файл данных"};
    case DesktopText::InvalidPort:
      return {"Port must be a number from 1 to 65525: the server also uses port + 10.",
              "Порт должен быть числом от 1 до 65525: сервер использует и порт + 10."};
    case DesktopText::InvalidFeedPort:
      return {"HTTP feed port must be a number from 0 (off) to 65535.",
              "Порт HTTP-ленты должен быть числом от 0 (выкл.) до 65535."};
    case DesktopText::InvalidFeedAddress:
      return {"HTTP feed address must be an IPv4 address such as 127.0.0.1, or empty.",
              "Адрес HTTP-ленты должен быть адресом IPv4, например 127.0.0.1, или пустым."};
    case DesktopText::InvalidCount:
      return {"Group \"%1\": the number of records must be a number from 0 to 2000000.",
              "Группа \"%1\": число записей должно быть числом от 0 до 2000000."};
    case DesktopText::InvalidCountArc:
      return {"Group \"%1\": the number of archive records must be a number from 0 to 2000000.",
              "Группа \"%1\": число записей архива должно быть числом от 0 до 2000000."};
    case DesktopText::InvalidTimeBegin:
      return {"Group \"%1\": the starting time must be an hour from 0 to 24.",
              "Группа \"%1\": время начала должно быть часом от 0 до 24."};
    case DesktopText::InvalidTimeEnd:
      return {"Group \"%1\": the finishing time must be an hour from 0 to 24.",
              "Группа \"%1\": время окончания должно быть часом от 0 до 24."};
    case DesktopText::NotSaved:
      return {"Not saved", "Не сохранено"};
    case DesktopText::InvalidArchiveSize:
      return {"The number of archive records must be a number from 0 to 2000000.",
              "Число записей архива должно быть числом от 0 до 2000000."};
    case DesktopText::ReservedDatafileName:
      return {
          "'%1' cannot be a datafile: names ending in .arc, .tmp, .tm~, .jnl, .jn2 or .new "
          "belong to the server's own files beside a datafile.",
          "'%1' не может быть файлом данных: имена с окончанием .arc, .tmp, .tm~, .jnl, .jn2 "
          "или .new принадлежат служебным файлам сервера рядом с файлом данных."};
  }
  return {"", ""};
}

}  // namespace

std::string Text(const state::Catalogue& catalogue, DesktopText text) {
  const Texts entry = Entry(text);
  if (catalogue.Current() == state::Language::Russian)
    return platform::Utf8ToCp1251(entry.russianUtf8);
  return entry.english;
}

QString UiText(const state::Catalogue& catalogue, DesktopText text) {
  const Texts entry = Entry(text);
  return QString::fromUtf8(catalogue.Current() == state::Language::Russian ? entry.russianUtf8
                                                                           : entry.english);
}

}  // namespace qv::desktop
