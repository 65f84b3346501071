#pragma once
// The web page's files (HTML, CSS, JavaScript modules), built into the program from
// src/feed/web, so that nothing is fetched or built at run time.
#include <string>
#include <string_view>
#include <vector>

namespace qv::feed {

struct WebAsset {
  std::string_view name;  // file name in src/feed/web, e.g. "page.js"
  std::string_view bytes;
};

const std::vector<WebAsset>& EmbeddedWebFiles();

// The file served at /app/<name> (index.html is the page itself), or null.
const WebAsset* FindWebFile(std::string_view name);
// Its Content-Type.
std::string ContentTypeOf(std::string_view name);

}  // namespace qv::feed
