#include "app/Settings.h"

namespace qv {

namespace {
constexpr const char* kRecentKey = "RecentProjects";
}  // namespace

std::unique_ptr<QSettings> EditorSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Quorvalin", "quorvalin");
}

QStringList RecentProjects()
{
    QStringList list = EditorSettings()->value(kRecentKey).toStringList();
    list.removeAll(QString());
    list.removeDuplicates();
    while (list.size() > kRecentCount)
        list.removeLast();
    return list;
}

void SetRecentProjects(QStringList list)
{
    while (list.size() > kRecentCount)
        list.removeLast();
    EditorSettings()->setValue(kRecentKey, list);
}

void AddRecentProject(const QString& fileName)
{
    QStringList list = RecentProjects();
    list.removeAll(fileName);
    list.prepend(fileName);
    SetRecentProjects(list);
}

void RemoveRecentProject(const QString& fileName)
{
    QStringList list = RecentProjects();
    list.removeAll(fileName);
    SetRecentProjects(list);
}

}  // namespace qv
