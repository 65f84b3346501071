// Dates as the server sends them ("yyyy-mm-dd"), counted in UTC so that no clock change moves
// a day.
export function parse(text) {
  const [y, m, d] = text.split("-").map(Number);
  return new Date(Date.UTC(y, m - 1, d));
}
export function format(date) {
  return date.toISOString().slice(0, 10);
}
export function addDays(text, days) {
  const d = parse(text);
  d.setUTCDate(d.getUTCDate() + days);
  return format(d);
}
export function mondayOf(text) {
  const d = parse(text);
  return addDays(text, -((d.getUTCDay() + 6) % 7));
}
export function weekday(text) {
  return parse(text).getUTCDay();
}
