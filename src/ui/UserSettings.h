#pragma once

// What the window keeps for its user across runs: the folder that the file
// dialogs start in, and the projects opened or saved last. They live in an
// INI file in the user's configuration folder, found anew on each use, so
// that they follow the user's home folder.

#include <QString>
#include <QStringList>

namespace smsconf {

constexpr int RecentProjectCount = 8;

// The folder of the last file chosen in a file dialog while it still
// exists, else the user's documents folder, else the home folder: never the
// program's own folder, where no project belongs.
QString LastFolder();
void RememberFolder(const QString& folder);

// Most recent first, at most RecentProjectCount, each path once.
QStringList RecentProjects();
void RememberProject(const QString& path);
void ForgetProject(const QString& path);

}  // namespace smsconf
