// cormapmp: the CormapMP desktop program. Everything but the wiring lives in cormap_gui.
#include "net/AdapterSource.h"
#include "app/CQorvApp.h"
#include "gui/FileService.h"
#include "gui/FirewallLauncher.h"
#include "gui/MessageService.h"
#include "gui/UserProfile.h"
#include "text/StringTable.h"
#include "gui/AccessibleList.h"

#include "CormapVersion.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] = "usage: cormapmp [--loopback] [--device-port N] [--tftp-port N] [--shell-port N]\n";
const char kHelp[] = "\n"
                     "Finds Tessel devices on the network and changes their settings.\n"
                     "\n"
                     "  --loopback          talk to simulated devices on this machine (tessel-sim --loopback)\n"
                     "  --device-port N     the devices' protocol port (default 50005, with --loopback 51005)\n"
                     "  --tftp-port N, --shell-port N\n"
                     "                      the devices' TFTP and shell ports (default 69 and 23, with\n"
                     "                      --loopback 51069 and 51023)\n"
                     "  -h, --help          show this text\n"
                     "  --version           show the version\n";

/** Answers --version and --help before the window system is started, so both work without a display. */
bool answeredInfoOption(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("cormapmp %s\n", CORMAPMP_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s", kUsage, kHelp);
            return true;
        }
    }
    return false;
}
} // namespace

int main(int argc, char* argv[])
{
    if (answeredInfoOption(argc, argv))
        return 0;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("CormapMP"));
    QApplication::setOrganizationName(QStringLiteral("VarkonSystems"));
    QApplication::setApplicationVersion(QStringLiteral(CORMAPMP_VERSION));
    // The desktop entry's name: on Wayland it ties the window to the entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.varkonsystems.CormapMP"));

    // --loopback, --device-port, --tftp-port, --shell-port choose the network profile (real by default, loopback for
    // simulated devices on this machine).
    QStringList arguments = QApplication::arguments().mid(1);
    NetworkProfile network = NetworkProfile::real();
    if (const std::optional<QString> error = NetworkProfile::fromArguments(arguments, network)) {
        QTextStream(stderr) << "cormapmp: " << *error << '\n';
        return 2;
    }
    if (!arguments.isEmpty()) {
        QTextStream(stderr) << "cormapmp: unknown argument " << arguments.first() << '\n' << kUsage;
        return 2;
    }

    // Lists are announced by their names, with their entries as their values.
    AccessibleList::install();

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
