// cormapmp-cli: finds and reads Tessel devices and uploads their firmware from the command line (see CliTool).

#include "CliTool.h"
#include "CormapVersion.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cormapmp-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORMAPMP_VERSION));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    // --version anywhere among the options (not after "--") answers alone, as --help does.
    const qsizetype end = arguments.indexOf(QStringLiteral("--"));
    if (arguments.mid(0, end).contains(QStringLiteral("--version"))) {
        std::printf("cormapmp-cli %s\n", CORMAPMP_VERSION);
        return 0;
    }
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliTool tool(out, err, NetworkProfile::real());
#ifdef Q_OS_UNIX
    tool.setTerminal(::isatty(STDOUT_FILENO) == 1);
#endif
    return tool.run(arguments);
}
