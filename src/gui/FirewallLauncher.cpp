#include "FirewallLauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int kStrWindowsFirewall = 110;
constexpr int kStrFirewallSettings = 907;
} // namespace

QList<FirewallLauncher::Tool> FirewallLauncher::desktopTools()
{
    return {
        {QStringLiteral("firewall-config"), {}},                         // firewalld (Fedora, GNOME)
        {QStringLiteral("gufw"), {}},                                    // ufw (Ubuntu, Debian)
        {QStringLiteral("plasma-firewall"), {}},                         // KDE Plasma
        {QStringLiteral("kcmshell6"), {QStringLiteral("kcm_firewall")}}, // KDE Plasma 6 settings module
        {QStringLiteral("kcmshell5"), {QStringLiteral("kcm_firewall")}}, // KDE Plasma 5 settings module
    };
}

FirewallLauncher::FirewallLauncher(QList<Tool> tools, Finder finder, Starter starter)
    : m_tools(std::move(tools)), m_finder(std::move(finder)), m_starter(std::move(starter))
{
    if (!m_finder)
        m_finder = [](const QString& program) { return QStandardPaths::findExecutable(program); };
    if (!m_starter)
        m_starter = [](const QString& path, const QStringList& arguments) {
            return QProcess::startDetached(path, arguments);
        };
}

int FirewallLauncher::launch()
{
    for (const Tool& tool : m_tools) {
        const QString path = m_finder(tool.program);
        if (path.isEmpty())
            continue;
        if (!m_starter(path, tool.arguments))
            return kBadExecutable;
        m_lastStarted = path;
        return kStarted;
    }
    return kFileNotFound;
}

QString FirewallLauncher::failureMessage(int result) const
{
    QString message = messageFor(result);
    if (result != kFileNotFound || m_tools.isEmpty())
        return message;
    QStringList looked;
    for (const Tool& tool : m_tools)
        looked << tool.program;
    return message + QStringLiteral("\r\nLooked for: ") + looked.join(QStringLiteral(", "));
}

int FirewallLauncher::buttonTextId()
{
#ifdef Q_OS_WIN
    return kStrWindowsFirewall;
#else
    return kStrFirewallSettings;
#endif
}

QString FirewallLauncher::messageFor(int result)
{
    switch (result) {
    case kOutOfResources:
        return QStringLiteral("The system is out of memory or resources.");
    case kFileNotFound:
        return QStringLiteral("The specified file was not found.");
    case kPathNotFound:
        return QStringLiteral("The specified path was not found.");
    case kBadExecutable:
        return QStringLiteral("The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).");
    default:
        return {};
    }
}
