// cormapmp-cli: finds and reads Tessel devices from the command line (see CliTool).

#include "CliTool.h"
#include "CormapVersion.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

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
    return tool.run(arguments);
}
