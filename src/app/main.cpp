// cormapmp: the CormapMP desktop program. Everything but the wiring lives in cormap_gui.
#include "app/AdapterSource.h"
#include "app/CQorvApp.h"
#include "app/FileService.h"
#include "app/FirewallLauncher.h"
#include "app/MessageService.h"
#include "text/StringTable.h"
#include "app/UserProfile.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("CormapMP"));
    QApplication::setOrganizationName(QStringLiteral("VarkonSystems"));

    // --loopback, --device-port, --tftp-port, --shell-port choose the network profile (real by default, loopback for simulated devices on this machine).
    QStringList arguments = QApplication::arguments().mid(1);
    NetworkProfile network = NetworkProfile::real();
    if (const std::optional<QString> error = NetworkProfile::fromArguments(arguments, network)) {
        QTextStream(stderr) << "cormapmp: " << *error << '\n';
        return 2;
    }
    if (!arguments.isEmpty()) {
        QTextStream(stderr) << "cormapmp: unknown argument " << arguments.first() << '\n'
                            << "usage: cormapmp [--loopback] [--device-port N] [--tftp-port N] [--shell-port N]\n";
        return 2;
    }

    const QLocale system = QLocale::system();
    // Qt's own texts (the Yes and No of message boxes) in the system's language, as the platform's
    // message boxes have them; missing translations leave them in English.
    QTranslator qtTranslator;
    if (qtTranslator.load(system, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    const StringTable strings(StringTable::languageFor(system));
    MessageService messages;
    FileService files;
    SystemAdapterSource adapters;
    UserProfile profile;
    FirewallLauncher firewall;
    const AppContext context{strings, messages, files,   adapters,
                             profile, firewall, network, primary_language::of(system)};
    CQorvApp app(context);
    return app.run();
}
