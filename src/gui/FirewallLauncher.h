#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/**
 * Opens the desktop's firewall settings, the platform's "control.exe firewall.cpl": starts
 * the first installed firewall tool, detached. Reports the outcome as a program-start result:
 * 31 and above mean success; 2 "file not found" (no tool installed); 11 a tool that would not start.
 */
class FirewallLauncher
{
public:
    static constexpr int kStarted = 33;
    static constexpr int kOutOfResources = 0;
    static constexpr int kFileNotFound = 2;
    static constexpr int kPathNotFound = 3;
    static constexpr int kBadExecutable = 11;
    static constexpr int kFirstSuccess = 31;

    struct Tool
    {
        QString program;
        QStringList arguments;
    };
    /** program name → full path, empty when not installed */
    using Finder = std::function<QString(const QString& program)>;
    /** starts a program detached; false when it could not be started */
    using Starter = std::function<bool(const QString& path, const QStringList& arguments)>;

    /** The firewall tools of the common desktops, in the order they are tried. */
    static QList<Tool> desktopTools();

    explicit FirewallLauncher(QList<Tool> tools = desktopTools(), Finder finder = {}, Starter starter = {});
    virtual ~FirewallLauncher() = default;

    /** Starts the first installed tool; the start result as above. */
    virtual int launch();
    /** The message for a failed start result, empty for success and for ignored results. */
    static QString messageFor(int result);
    /** The message shown for a failed start: messageFor(result), and for "file not found" a second line
     *  naming the tools looked for. */
    QString failureMessage(int result) const;
    /** String number of the button's label: "Windows Firewall" on Windows, "Firewall Settings" elsewhere,
     *  where a button naming Windows would mislead. */
    static int buttonTextId();
    /** The program last started (full path), for tests. */
    const QString& lastStarted() const { return m_lastStarted; }

private:
    QList<Tool> m_tools;
    Finder m_finder;
    Starter m_starter;
    QString m_lastStarted;
};
