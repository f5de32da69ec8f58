#pragma once

// Running cormapmp-cli in-process with its output streams and its console (environment, standard input,
// terminal) swapped for the test's own, and reading what it printed.

#include "CliConsole.h"
#include "CliTool.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <map>
#include <memory>

namespace clitest {
/** A console of the test's own: environment, standard input, terminal and what the user would type. */
class FakeConsole final : public cli::Console
{
public:
    std::map<QString, QString> env;
    QStringList input;
    bool terminal = false;
    /** What the user types at each hidden prompt, in turn; the last one repeats. */
    QStringList typed;
    QStringList prompts;

    std::optional<QString> environment(const char* name) override
    {
        const auto it = env.find(QString::fromLatin1(name));
        return it == env.end() ? std::nullopt : std::optional<QString>(it->second);
    }
    std::optional<QString> readLine() override
    {
        return input.isEmpty() ? std::nullopt : std::optional<QString>(input.takeFirst());
    }
    bool isTerminal() override { return terminal; }
    std::optional<QString> readHidden(const QString& prompt) override
    {
        prompts << prompt;
        if (typed.isEmpty())
            return QString();
        return typed.size() > 1 ? typed.takeFirst() : typed.constFirst();
    }
};

/** Hands the tool a console that the test keeps, so it can read back what was asked after the run. */
class ConsoleView final : public cli::Console
{
public:
    explicit ConsoleView(FakeConsole& console) : m_console(console) {}
    std::optional<QString> environment(const char* name) override { return m_console.environment(name); }
    std::optional<QString> readLine() override { return m_console.readLine(); }
    bool isTerminal() override { return m_console.isTerminal(); }
    std::optional<QString> readHidden(const QString& prompt) override { return m_console.readHidden(prompt); }

private:
    FakeConsole& m_console;
};

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

inline CliRun runCli(const NetworkProfile& profile, const QStringList& args)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    CliTool tool(out, err, profile);
    QElapsedTimer clock;
    clock.start();
    run.status = tool.run(args);
    run.elapsedMs = clock.elapsed();
    out.flush();
    err.flush();
    return run;
}

/** Runs the tool with `console` as its environment, standard input and terminal. */
inline CliRun runCli(const QStringList& args, FakeConsole& console, const NetworkProfile& profile)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    CliTool tool(out, err, profile);
    tool.setConsole(std::make_unique<ConsoleView>(console));
    QElapsedTimer clock;
    clock.start();
    run.status = tool.run(args);
    run.elapsedMs = clock.elapsed();
    out.flush();
    err.flush();
    return run;
}

/** The values of the text lines labelled `name`, in order (port fields appear once per port). */
inline QStringList textValues(const QString& text, const QString& name)
{
    QStringList values;
    const QRegularExpression line(QStringLiteral("^\\s*%1\\s+(.*)$").arg(QRegularExpression::escape(name)),
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(text); it.hasNext();)
        values << it.next().captured(1);
    return values;
}

inline QJsonObject jsonObject(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qWarning("not one JSON object: %s", qPrintable(error.errorString()));
    return doc.object();
}
/** How many requests (not copies: every request comes twice) with `command` the simulated devices
 *  handled, from a spy on TesselSim::requestHandled; only device `device`'s when it is not negative. */
inline int requestsOf(const QSignalSpy& handled, int command, int device = -1)
{
    int copies = 0;
    for (const QList<QVariant>& h : handled)
        copies += (device < 0 || h.at(0).toInt() == device) && h.at(1).toInt() == command ? 1 : 0;
    return copies / 2;
}
} // namespace clitest
