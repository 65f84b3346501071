// The page's texts in the server's languages.
export const texts = {
  en: {
    weekdays: ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"],
    thisWeek: "This week", online: "On line", connected: "connected",
    disconnected: "reconnecting…", saving: "saving…", refused: "Not saved: ",
    noTitle: "(no title)", empty: "—", copy: "Copy…", copyTo: "Copy this day to",
    ok: "OK", cancel: "Cancel", copied: "Day copied", firstList: "List 1", secondList: "List 2",
    editingOff: "Editing is off on this server", onTheWeb: "on the web page",
  },
  ru: {
    weekdays: ["Вс", "Пн", "Вт", "Ср", "Чт", "Пт", "Сб"],
    thisWeek: "Эта неделя", online: "В сети", connected: "соединено",
    disconnected: "переподключение…", saving: "сохранение…", refused: "Не сохранено: ",
    noTitle: "(без заголовка)", empty: "—", copy: "Копировать…", copyTo: "Копировать день на",
    ok: "OK", cancel: "Отмена", copied: "День скопирован", firstList: "Список 1",
    secondList: "Список 2", editingOff: "Редактирование на этом сервере выключено",
    onTheWeb: "на веб-странице",
  },
};
