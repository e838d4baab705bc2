#pragma once

// Paths between Qt and the core. The core takes the bytes that the file
// system takes on POSIX and UTF-8 on Windows, where it opens files through
// the wide-character calls; QFile's own 8-bit names there are the ANSI code
// page, which cannot hold every name.

#include <QFile>
#include <QString>

#include <string>

namespace smsconf {

inline std::string CorePath(const QString& path) {
#ifdef Q_OS_WIN
  return path.toUtf8().toStdString();
#else
  return QFile::encodeName(path).toStdString();
#endif
}

inline QString QtPath(const char* path) {
#ifdef Q_OS_WIN
  return QString::fromUtf8(path);
#else
  return QFile::decodeName(path);
#endif
}

}  // namespace smsconf
