#include "feed/origin_rule.h"

#include <algorithm>
#include <cctype>

namespace qv::feed {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// "host:80" to "host" for http (443 for https); an IPv6 literal keeps its brackets.
std::string WithoutDefaultPort(std::string authority, std::string_view scheme) {
  const std::string port = scheme == "https" ? ":443" : ":80";
  if (authority.size() > port.size() &&
      authority.compare(authority.size() - port.size(), port.size(), port) == 0) {
    authority.resize(authority.size() - port.size());
  }
  return authority;
}

}  // namespace

bool OriginMatchesHost(std::string_view origin, std::string_view host, std::string_view scheme) {
  if (origin.empty() || host.empty()) return false;
  const std::string lowered = Lower(origin);
  const std::string prefix = std::string(scheme) + "://";
  if (lowered.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string authority = lowered.substr(prefix.size());
  if (authority.empty() || authority.find_first_of("/?#@ ") != std::string::npos) return false;
  return WithoutDefaultPort(authority, scheme) == WithoutDefaultPort(Lower(host), scheme);
}

}  // namespace qv::feed
