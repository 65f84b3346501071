#pragma once
// A host name or dotted address to the dotted IPv4 address to connect to.
#include <optional>
#include <string>

namespace qv::platform {

// The first IPv4 address of host (a dotted address stays as it is). Empty when it has none;
// error then says why.
std::optional<std::string> ResolveIpv4(const std::string& host, std::string& error);

}  // namespace qv::platform
