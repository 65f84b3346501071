#pragma once
// Texts between the server and the widgets: the catalogue, Server.ini names and user names are
// Windows-1251 bytes; widgets show UTF-8. File paths are the system's bytes and pass as they are.
#include <QString>
#include <string>

#include "platform/text_codec.h"

namespace qv::desktop {

inline QString FromAnsi(const std::string& text) {
  return QString::fromStdString(platform::Cp1251ToUtf8(text));
}

inline std::string ToAnsi(const QString& text) {
  return platform::Utf8ToCp1251(text.toStdString());
}

inline QString FromPath(const std::string& path) {
  return QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
}

inline std::string ToPath(const QString& path) {
  return path.toLocal8Bit().toStdString();
}

}  // namespace qv::desktop
