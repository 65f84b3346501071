// The group's week, live. One WebSocket to the server carries JSON both ways: the page asks for
// weeks and sends edits; the server answers and pushes every change of the group and who is on
// line. Edits are made in place: Enter saves, Escape cancels.
import { texts } from "/app/texts.js";
import * as dates from "/app/dates.js";

const $ = (id) => document.getElementById(id);
let t = texts.en;
let socket = null;
let hello = null;
let from = null;                 // first day shown
let days = new Map();            // date -> day object as the server sent it
let nextId = 1;
const pending = new Map();       // edit id -> {done(ok, reason)}
let retry = 500;
let away = false;                // the page is put away: no reconnecting until it is shown again

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function notice(text) {
  $("notice").textContent = text || "";
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) {
    socket.send(JSON.stringify(message));
    return true;
  }
  return false;
}

function connect() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  socket = new WebSocket(`${scheme}://${location.host}/ws`);
  socket.onopen = () => { retry = 500; };
  socket.onmessage = (event) => receive(JSON.parse(event.data));
  socket.onclose = () => {
    if (away) return;
    $("connection").className = "offline";
    $("connection").textContent = t.disconnected;
    for (const [, p] of pending) p.done(false, t.disconnected);
    pending.clear();
    setTimeout(connect, retry);
    retry = Math.min(retry * 2, 5000);
  };
}

function receive(m) {
  switch (m.type) {
    case "hello": return onHello(m);
    case "week": return onWeek(m);
    case "online": return showOnline(m.users);
    case "presence": return showOnline([m]);
    case "web": return showOnline([m]);
    case "ack": case "refused": {
      const p = pending.get(m.id);
      pending.delete(m.id);
      if (p) p.done(m.type === "ack", m.reason);
      return;
    }
    case "title": return patch(m.date, (d) => { d.title = m.text; });
    case "memo": return patch(m.date, (d) => { d.memo = m.lines; });
    case "slot": return patch(m.date, (d) => {
      while (d.slots.length <= m.slot) d.slots.push({ time: "", text: "" });
      d.slots[m.slot] = { time: m.time, text: m.text };
    });
    case "days": for (const d of m.days) patch(d.date, (old) => Object.assign(old, d)); return;
    case "changed": if (days.has(m.date)) readWeek(); return;
    case "error": notice(m.reason); return;
  }
}

function onHello(m) {
  hello = m;
  t = texts[m.language] || texts.en;
  document.documentElement.lang = m.language;
  $("group").textContent = `${m.group} — ${m.user}`;
  $("this-week").textContent = t.thisWeek;
  $("connection").className = "online";
  $("connection").textContent = t.connected;
  document.title = m.group;
  presence.clear();
  showOnline(m.members);
  if (!m.editing) notice(t.editingOff);
  readWeek(from || dates.mondayOf(m.today));
}

// "name@host" -> { online, web }: on line in an office client, or with this page open (a
// member can be both). An update names either or both.
const presence = new Map();
function showOnline(users) {
  if (!hello) return;
  const members = new Set(hello.members.map((u) => `${u.name}@${u.host}`));
  for (const u of users) {
    const key = `${u.name}@${u.host}`;
    if (!members.has(key)) continue;
    const p = presence.get(key) || { online: false, web: false };
    if ("online" in u) p.online = u.online;
    if ("web" in u) p.web = u.web;
    presence.set(key, p);
  }
  const box = $("online");
  box.replaceChildren(el("strong", "", t.online + ":"));
  for (const u of hello.members) {
    const p = presence.get(`${u.name}@${u.host}`) || {};
    const span = el("span", "user " + (p.online ? "on" : p.web ? "web" : "off"), u.name);
    span.title = p.web && !p.online ? `${u.host} — ${t.onTheWeb}` : u.host;
    box.append(span);
  }
}

function readWeek(start) {
  if (start) from = start;
  send({ op: "week", from });
}

function onWeek(m) {
  from = m.from;
  days = new Map(m.days.map((d) => [d.date, d]));
  render();
}

function patch(date, change) {
  const day = days.get(date);
  if (!day) return;
  change(day);
  renderDay(date);
}

function render() {
  $("range").textContent = `${from} – ${dates.addDays(from, 6)}`;
  const week = $("week");
  week.replaceChildren();
  for (let i = 0; i < 7; ++i) {
    const date = dates.addDays(from, i);
    const box = el("article", "day");
    box.dataset.date = date;
    week.append(box);
    renderDay(date);
  }
}

function renderDay(date) {
  const box = document.querySelector(`.day[data-date="${date}"]`);
  const day = days.get(date);
  if (!box || !day) return;
  box.classList.toggle("today", hello && date === hello.today);
  const head = el("h2", "", `${t.weekdays[dates.weekday(date)]} ${date}`);
  const copy = el("button", "copy", t.copy);
  copy.type = "button";
  copy.onclick = () => openCopy(box, date);
  head.append(copy);
  const title = field("title", day.title, t.noTitle, (text) => ({ op: "title", date, text }),
                      (d, text) => { d.title = text; });
  const memo = el("div", "memo");
  const memoShown = Math.min(8, lastUsed(day.memo) + 2);
  for (let i = 0; i < memoShown; ++i) {
    memo.append(field("memo-line", day.memo[i] || "", t.empty, (text) => {
      const lines = day.memo.slice();
      lines[i] = text;
      return { op: "memo", date, lines };
    }, (d, text) => { d.memo[i] = text; }));
  }
  const slots = el("div", "slots");
  day.slots.forEach((slot, i) => {
    const row = el("div", "slot");
    row.append(el("span", "time", slot.time));
    row.append(field("slot-text", slot.text, "", (text) => ({ op: "slot", date, slot: i, time: slot.time, text }),
                     (d, text) => { d.slots[i].text = text; }));
    slots.append(row);
  });
  box.replaceChildren(head, title, memo, slots, lines(day.first, t.firstList), lines(day.second, t.secondList));
}

function lastUsed(list) {
  let last = -1;
  list.forEach((line, i) => { if (line) last = i; });
  return last;
}

function lines(list, caption) {
  const ul = el("ul", "lines");
  ul.title = caption;
  for (const line of list) ul.append(el("li", "", line));
  return ul;
}

// A text that becomes an input on a click: Enter sends the edit, Escape restores the text.
function field(cls, text, placeholder, makeEdit, store) {
  const span = el("div", `field ${cls}`);
  const show = (value) => {
    span.textContent = value || placeholder;
    span.classList.toggle("empty", !value);
  };
  show(text);
  span.onclick = () => {
    if (span.querySelector("input") || span.classList.contains("saving")) return;
    const input = el("input");
    input.value = text;
    span.replaceChildren(input);
    span.classList.remove("empty", "refused");
    input.focus();
    input.onkeydown = (event) => {
      if (event.key === "Escape") { event.preventDefault(); show(text); }
      if (event.key !== "Enter") return;
      event.preventDefault();
      const value = input.value;
      const id = nextId++;
      const edit = Object.assign(makeEdit(value), { id });
      span.replaceChildren(t.saving);
      span.classList.add("saving");
      pending.set(id, {
        done: (ok, reason) => {
          span.classList.remove("saving");
          if (ok) {
            const day = days.get(edit.date);
            if (day) store(day, value);
            text = value;
            show(value);
            notice("");
          } else {
            show(text);
            span.classList.add("refused");
            span.title = reason || "";
            notice(t.refused + (reason || ""));
          }
        },
      });
      if (!send(edit)) pending.get(id).done(false, t.disconnected);
    };
    input.onblur = () => { if (span.contains(input)) show(text); };
  };
  return span;
}

function openCopy(box, date) {
  if (box.querySelector(".copy-form")) return;
  const form = el("form", "copy-form");
  const input = el("input");
  input.type = "date";
  input.value = dates.addDays(date, 7);
  input.setAttribute("aria-label", t.copyTo);
  const ok = el("button", "", t.ok);
  const cancel = el("button", "", t.cancel);
  cancel.type = "button";
  cancel.onclick = () => form.remove();
  form.append(input, ok, cancel);
  form.onsubmit = (event) => {
    event.preventDefault();
    const id = nextId++;
    pending.set(id, {
      done: (okay, reason) => {
        notice(okay ? `${t.copied}: ${date} → ${input.value}` : t.refused + (reason || ""));
        if (okay) readWeek();
      },
    });
    form.remove();
    if (!send({ op: "copy", id, from: date, to: input.value })) pending.get(id).done(false, t.disconnected);
  };
  box.querySelector("h2").after(form);
}

$("prev").onclick = () => readWeek(dates.addDays(from, -7));
$("next").onclick = () => readWeek(dates.addDays(from, 7));
$("this-week").onclick = () => hello && readWeek(dates.mondayOf(hello.today));
// A page that is closed, or kept aside by the browser for going back to it, leaves: the other
// members' pages stop showing its member as on the web page. Shown again, it connects anew.
addEventListener("pagehide", () => {
  away = true;
  if (socket) socket.close(1000);
});
addEventListener("pageshow", (event) => {
  if (!event.persisted) return;
  away = false;
  connect();
});

connect();
