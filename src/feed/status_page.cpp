#include "feed/status_page.h"

#include <cstdio>

#include "platform/time.h"

namespace qv::feed {
namespace {

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 2em; color: #222; background: #fafafa; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.15em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
p.meta { color: #555; margin-top: 0; }
table { border-collapse: collapse; }
th, td { text-align: left; padding: 0.3em 1em 0.3em 0; border-bottom: 1px solid #e4e4e4; }
th { color: #555; font-weight: 600; }
td.num { text-align: right; }
.online { color: #1a7f37; font-weight: 600; }
.offline { color: #888; }
pre { background: #fff; border: 1px solid #ddd; padding: 0.8em; overflow-x: auto; }
)";

std::string Cell(std::string_view text, const char* cls = nullptr) {
  std::string out = cls ? std::string("<td class=\"") + cls + "\">" : std::string("<td>");
  return out + EscapeHtml(text) + "</td>";
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string FormatUptime(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t s = ms / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%lld d %02lld:%02lld:%02lld", static_cast<long long>(s / 86400),
                static_cast<long long>(s / 3600 % 24), static_cast<long long>(s / 60 % 60),
                static_cast<long long>(s % 60));
  return text;
}

std::string FormatLocalTime(int64_t unixMs) {
  const double days = platform::UnixMsToDateTime(unixMs);
  return platform::FormatDateTime(days, "yyyy-mm-dd hh:nn:ss");
}

std::string RenderStatusPage(const StatusSnapshot& st) {
  std::string h;
  h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
  h += "<title>Quorvane Server</title><style>";
  h += kStyle;
  h += "</style></head><body>\n<h1>Quorvane Server</h1>\n<p class=\"meta\">Version " +
       EscapeHtml(st.Version) + " &middot; up " +
       EscapeHtml(FormatUptime(st.NowMs - st.StartedMs)) + " &middot; started " +
       EscapeHtml(FormatLocalTime(st.StartedMs)) + "</p>\n";

  h += "<h2>Groups</h2>\n<table><tr><th>Group</th><th>Datafile</th><th>Size</th>"
       "<th>First day</th><th>Last day</th></tr>\n";
  for (const StatusGroup& g : st.Groups) {
    h += "<tr>" + Cell(g.Alias) + Cell(g.Datafile.empty() ? "(none)" : g.Datafile);
    if (g.Datafile.empty()) {
      h += Cell("");
    } else if (g.Size) {
      h += Cell(std::to_string(*g.Size) + " bytes", "num");
    } else {
      h += Cell("unreadable");
    }
    h += Cell(g.FirstDay) + Cell(g.LastDay) + "</tr>\n";
  }
  h += "</table>\n";

  h += "<h2>Users</h2>\n<table><tr><th>User</th><th>Group</th><th>Host</th><th>State</th>"
       "<th>Session start</th></tr>\n";
  for (const StatusUser& u : st.Users) {
    h += "<tr>" + Cell(u.Name) + Cell(u.Group) + Cell(u.Host) +
         Cell(u.Online ? "on line" : "off line", u.Online ? "online" : "offline") +
         Cell(u.SessionStartMs > 0 ? FormatLocalTime(u.SessionStartMs) : "") + "</tr>\n";
  }
  h += "</table>\n";

  h += "<h2>Log</h2>\n<pre>";
  for (auto it = st.LogLines.rbegin(); it != st.LogLines.rend(); ++it) {
    h += EscapeHtml(*it) + "\n";
  }
  h += "</pre>\n</body></html>\n";
  return h;
}

}  // namespace qv::feed
