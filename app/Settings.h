#pragma once
// What the editor remembers between runs: recent projects, the preview's duration, the
// main window's geometry and the last folder of each file dialog. Everything goes through
// EditorSettings(), so tests can point it at a folder of their own (QSettings::setPath for
// the INI format) and never touch the user's settings.
#include <QSettings>
#include <QStringList>
#include <memory>

namespace qv {

std::unique_ptr<QSettings> EditorSettings();

// Recent projects, newest first, at most kRecentCount.
constexpr int kRecentCount = 8;
QStringList RecentProjects();
void SetRecentProjects(QStringList list);
// Puts the file first (once); the oldest falls off the end.
void AddRecentProject(const QString& fileName);
void RemoveRecentProject(const QString& fileName);

}  // namespace qv
