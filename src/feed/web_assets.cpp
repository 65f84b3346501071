#include "feed/web_assets.h"

namespace qv::feed {

const WebAsset* FindWebFile(std::string_view name) {
  for (const WebAsset& file : EmbeddedWebFiles()) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

std::string ContentTypeOf(std::string_view name) {
  auto endsWith = [&](std::string_view suffix) {
    return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  if (endsWith(".js")) return "text/javascript; charset=utf-8";
  return "application/octet-stream";
}

}  // namespace qv::feed
