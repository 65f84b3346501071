#pragma once
// The same-origin rule of the web front end: a WebSocket upgrade or a request that changes
// anything must carry an Origin equal to the page's own origin, scheme://host[:port] as its
// Host header names it, so that a page of another site cannot act through a member's browser.
#include <string>
#include <string_view>

namespace qv::feed {

// scheme: "http", or "https" behind a trusted proxy that says so. An absent or empty Origin
// never matches; default ports (80, 443) may be written or left out on either side.
bool OriginMatchesHost(std::string_view origin, std::string_view host, std::string_view scheme);

}  // namespace qv::feed
