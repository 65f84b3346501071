#pragma once
#include "config/ini_store.h"

namespace qv::config {

constexpr const char* kConfigFileName = "Server.ini";
constexpr int kCharsetEnglish = 5;
constexpr int kCharsetRussian = 4;

// Writes the 17 entries of a new Server.ini, in their order; Language is 1 for the Russian
// character set (code 4), otherwise 0.
void WriteDefaultConfig(IniStore& store, int charsetCode);

// Section name of group n (1-based): "DataBase - n".
std::string GroupSectionName(int number);

}  // namespace qv::config
