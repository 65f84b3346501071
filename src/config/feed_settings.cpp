#include "config/feed_settings.h"

#include <cctype>

namespace qv::config {
namespace {

constexpr int32_t kMaxPort = 65535;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<int> ParseSmall(std::string_view text, int max) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

}  // namespace

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = text.find('.');
    const bool last = part == 3;
    if (last != (dot == std::string_view::npos)) return std::nullopt;
    const auto value = ParseSmall(text.substr(0, dot), 255);
    if (!value) return std::nullopt;
    address = (address << 8) | static_cast<uint32_t>(*value);
    if (!last) text.remove_prefix(dot + 1);
  }
  return address;
}

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
  text = Trim(text);
  const size_t slash = text.find('/');
  const auto address = ParseIpv4(text.substr(0, slash));
  if (!address) return std::nullopt;
  int bits = 32;
  if (slash != std::string_view::npos) {
    const auto prefix = ParseSmall(text.substr(slash + 1), 32);
    if (!prefix) return std::nullopt;
    bits = *prefix;
  }
  AddressRange range;
  range.Mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  range.Network = *address & range.Mask;
  return range;
}

const char* CodePageForCharset(int32_t charset, int32_t language) {
  if (language == 1) return "CP1251";
  switch (charset) {
    case 3:
      return "CP1250";  // Central European
    case 4:
      return "CP1251";  // Russian
    case 6:
      return "CP1253";  // Greek
    case 7:
      return "CP1254";  // Turkish
    case 8:
      return "CP1255";  // Hebrew
    case 9:
      return "CP1256";  // Arabic
    case 10:
      return "CP1257";  // Baltic
    case 11:
      return "CP1258";  // Vietnamese
    default:
      return "CP1252";  // English, Western European
  }
}

FeedSettings ReadFeedSettings(const IniStore& ini) {
  FeedSettings settings;
  const IniSection options = ini.ReadSection("Options");
  int32_t charset = 5, language = 0;
  if (!TryParseInt(options.Value("ApplicationCharset"), charset)) charset = 5;
  if (!TryParseInt(options.Value("Language"), language)) language = 0;
  settings.CodePage = CodePageForCharset(charset, language & 0xFF);

  const IniSection feed = ini.ReadSection(kFeedSection);
  const std::string port = feed.Value("Port");
  int32_t value = 0;
  if (!port.empty()) {
    if (TryParseInt(port, value) && value >= 0 && value <= kMaxPort) {
      settings.Port = value;
    } else {
      settings.Problems.push_back("Port is not a port number: " + port);
    }
  }
  const std::string address = std::string(Trim(feed.Value("Address")));
  if (!address.empty()) {
    if (ParseIpv4(address)) {
      settings.Address = address;
    } else {
      settings.Problems.push_back("Address is not an IPv4 address: " + address);
      settings.Port = 0;
    }
  }
  const std::string maxClients = std::string(Trim(feed.Value("MaxClients")));
  if (!maxClients.empty()) {
    if (TryParseInt(maxClients, value) && value >= 0) {
      settings.MaxClients = value;
    } else {
      settings.Problems.push_back("MaxClients is not a count: " + maxClients);
    }
  }
  const std::string proxy = std::string(Trim(feed.Value("Proxy")));
  if (!proxy.empty()) {
    if (ParseIpv4(proxy)) {
      settings.Proxy = proxy;
    } else {
      settings.Problems.push_back("Proxy is not an IPv4 address: " + proxy);
    }
  }
  const std::string allow = feed.Value("Allow");
  size_t start = 0;
  while (start <= allow.size() && !allow.empty()) {
    const size_t comma = allow.find(',', start);
    const std::string_view entry = Trim(
        std::string_view(allow).substr(start, comma == std::string::npos ? comma : comma - start));
    if (!entry.empty()) {
      if (auto range = ParseAddressRange(entry)) {
        settings.Allow.push_back(*range);
      } else {
        settings.Problems.push_back("Allow entry is no address or range: " + std::string(entry));
      }
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return settings;
}

}  // namespace qv::config
