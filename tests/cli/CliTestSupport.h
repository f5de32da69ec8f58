#pragma once

// Running cormapmp-cli in-process with its output streams swapped for buffers, and reading what it
// printed.

#include "CliTool.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace clitest {
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
} // namespace clitest
