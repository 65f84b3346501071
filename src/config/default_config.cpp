#include "config/default_config.h"

#include <string>

namespace qv::config {

void WriteDefaultConfig(IniStore& store, int charsetCode) {
  store.WriteString("Options", "ApplicationCharset", std::to_string(charsetCode));
  store.WriteString("Options", "Language", charsetCode == kCharsetRussian ? "1" : "0");
  store.WriteString("NetWork", "Port", "6340");
  store.WriteString("NetWork", "DirectSend", "1");
  store.WriteString("NetWork", "Reconnect", "5");
  store.WriteString("NetWork", "TCPNoDelay", "1");
  store.WriteString("NetWork", "CheckInterval_ms", "15000");
  store.WriteString("DataBases", "Count", "1");
  store.WriteString("DataBases", "Alias1", "First Group");
  const std::string group = GroupSectionName(1);
  store.WriteString(group, "Name", "");
  store.WriteString(group, "Count", "7");
  store.WriteString(group, "CountArc", "0");
  store.WriteString(group, "Time Begin", "9");
  store.WriteString(group, "Time End", "20");
  store.WriteString(group, "Step", "0");
  store.WriteString(group, "UserCount", "0");
  store.WriteString(group, "Archive Link", "0");
}

std::string GroupSectionName(int number) {
  return "DataBase - " + std::to_string(number);
}

}  // namespace qv::config
