#pragma once
// The [Feed] section of Server.ini: the optional HTTP listener (calendar feed, status page,
// metrics). Read once at start-up; the default file never writes it, so a server has no HTTP
// listener until Port is set.
//   Port     0 or missing: no listener
//   Address  IPv4 address to listen on, 127.0.0.1 when missing
//   Allow    comma-separated IPv4 addresses or CIDR ranges that may connect besides 127.0.0.1
//            and the users' hosts
//   MaxClients  open browser pages (WebSocket connections) at most, 256 when missing
//   Proxy    dotted address of a trusted reverse proxy: only its X-Forwarded-For is believed
// Also the code page the clients' texts are in, from ApplicationCharset and Language.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini_store.h"

namespace qv::config {

constexpr const char* kFeedSection = "Feed";
constexpr const char* kDefaultFeedAddress = "127.0.0.1";
constexpr int32_t kDefaultFeedMaxClients = 256;

// An IPv4 network: an address matches when (address & Mask) == Network (host byte order).
struct AddressRange {
  uint32_t Network = 0;
  uint32_t Mask = 0xFFFFFFFFu;
  bool Contains(uint32_t address) const { return (address & Mask) == Network; }
};

struct FeedSettings {
  int32_t Port = 0;  // 0: no listener
  std::string Address = kDefaultFeedAddress;
  std::vector<AddressRange> Allow;
  int32_t MaxClients = kDefaultFeedMaxClients;
  std::string Proxy;                // empty: no proxy is trusted
  std::string CodePage = "CP1252";  // of the texts in day records (iconv name)
  // What was wrong in the section, one text per problem, for the log; the value concerned was
  // left out (a bad Port or Address: no listener).
  std::vector<std::string> Problems;
};

FeedSettings ReadFeedSettings(const IniStore& ini);

// "a.b.c.d", each part 0..255, to a host-order address.
std::optional<uint32_t> ParseIpv4(std::string_view text);
// "a.b.c.d" or "a.b.c.d/n" (n 0..32; host bits are cleared).
std::optional<AddressRange> ParseAddressRange(std::string_view text);

// The Windows code page of an ApplicationCharset code (5 English/Western, 4 Russian, ...);
// Language 1 (Russian) always means Windows-1251.
const char* CodePageForCharset(int32_t charset, int32_t language);

}  // namespace qv::config
