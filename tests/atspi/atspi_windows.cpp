// Shows the settings editor, the status dialog and the firmware dialog on a real display for the
// AT-SPI walk (atspi_check.py): the same windows the offscreen tests drive, with every control of the
// editor in use. Prints "ready" once they are up and quits when its standard input closes; an "a" on
// standard input has the editor announce a line on its status line with the focus on Write, as after a
// Write the device took.
#include "EditorFixtures.h"
#include "GuiTestSupport.h"

#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/firmware/CChangeFWDlg.h"
#include "protocol/Codec.h"
#include <QPushButton>
#include "gui/status/CStatDlg.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
using guitest::everythingInUse;
UiLanguage languageOf(const char* code)
{
    if (std::strcmp(code, "ko") == 0)
        return UiLanguage::Korean;
    if (std::strcmp(code, "zh") == 0)
        return UiLanguage::Chinese;
    return UiLanguage::English;
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir profileDir;
    guitest::isolateProfile(profileDir);
    guitest::Services services(languageOf(argc > 1 ? argv[1] : "en"));
    CQorv400Dlg editor(services.context(), AdapterBinding{}, everythingInUse(), CQorv400Dlg::kModeRemote, 0x7F000002);
    CStatDlg status(services.context());
    CChangeFWDlg firmware(services.context());
    for (QWidget* window : std::initializer_list<QWidget*>{&editor, &status, &firmware})
        window->show();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app, &editor] {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) <= 0) {
            app.quit();
            return;
        }
        if (byte == 'a') {
            editor.activateWindow();
            editor.controls().writeButton->setFocus();
            editor.announce(QStringLiteral("Written to 02:7e:55:00:00:01 at 10:42:07"));
        }
    });
    QTimer::singleShot(2000, &app, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    QTimer::singleShot(120000, &app, &QApplication::quit); // never outlives a stuck check
    return app.exec();
}
