#include "ui/UserSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace smsconf {

namespace {

const QString FolderKey = QStringLiteral("Dialogs/Folder");
const QString RecentKey = QStringLiteral("Projects/Recent");

QSettings Settings() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  return QSettings(folder + QStringLiteral("/smsconf/smsconf.ini"), QSettings::IniFormat);
}

void StoreRecent(const QStringList& paths) { Settings().setValue(RecentKey, paths); }

}  // namespace

QString LastFolder() {
  const QString last = Settings().value(FolderKey).toString();
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
  return QDir::homePath();
}

void RememberFolder(const QString& folder) { Settings().setValue(FolderKey, folder); }

QStringList RecentProjects() {
  QStringList paths = Settings().value(RecentKey).toStringList();
  paths.removeDuplicates();
  paths.removeAll(QString());
  return paths.mid(0, RecentProjectCount);
}

void RememberProject(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList paths = RecentProjects();
  paths.removeAll(absolute);
  paths.prepend(absolute);
  StoreRecent(paths.mid(0, RecentProjectCount));
}

void ForgetProject(const QString& path) {
  QStringList paths = RecentProjects();
  paths.removeAll(path);
  StoreRecent(paths);
}

}  // namespace smsconf
