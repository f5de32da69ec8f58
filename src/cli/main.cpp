// cormapmp-cli: finds and reads Tessel devices and uploads their firmware from the command line (see CliTool).

#include "CliTool.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("cormapmp-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliTool tool(out, err, NetworkProfile::real());
    tool.setTerminal(::isatty(STDOUT_FILENO) == 1);
    return tool.run(QCoreApplication::arguments().mid(1));
}
