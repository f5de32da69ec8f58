#pragma once

// Fixtures shared by the GUI tests: the services a dialog is given, with test doubles where the real
// ones would block or touch the machine (message boxes, adapters, firewall tools, the user's profile).

#include "net/AdapterSource.h"
#include "gui/AppContext.h"
#include "gui/FileService.h"
#include "gui/FirewallLauncher.h"
#include "gui/MessageService.h"
#include "text/StringTable.h"
#include "gui/UserProfile.h"

#include <QApplication>
#include <QCheckBox>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace guitest {
/** Redirects every QSettings of the process (the user's profile included) into `dir`. Call once,
 *  before any profile is opened. */
inline void isolateProfile(const QTemporaryDir& dir)
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

/** The services of one test, owned together. Messages are answered without boxes (No, Cancel, OK
 *  unless a test queues another answer); no firewall tool is "installed". */
struct Services
{
    explicit Services(UiLanguage language = UiLanguage::English,
                      std::uint8_t systemLanguage = primary_language::kEnglish,
                      NetworkProfile network = NetworkProfile::loopbackProfile())
        : strings(language), firewall({{QStringLiteral("cormap-test-no-such-firewall-tool"), {}}}), network(network),
          language(systemLanguage)
    {
        messages.setInteractive(false);
    }

    AppContext context()
    {
        return AppContext{strings, messages, files, adapters, profile, firewall, network, language};
    }

    StringTable strings;
    MessageService messages;
    FileService files;
    FixedAdapterSource adapters;
    UserProfile profile; // the real profile location, redirected by isolateProfile()
    FirewallLauncher firewall;
    NetworkProfile network;
    std::uint8_t language;
};

/** Runs `action` once on the first visible top-level widget of type T when it appears (checked every
 *  10 ms), from the event loop: the way to drive a dialog that other code runs with exec(). Watching
 *  ends when the returned handle is destroyed, so a watcher never outlives its test. */
template <typename T> [[nodiscard]] std::unique_ptr<QTimer> whenShown(std::function<void(T*)> action)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [raw, action] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) {
                raw->stop();
                action(t);
                return;
            }
        }
    });
    timer->start(10);
    return timer;
}

/** Clicks a check box where a user would: on its box and label, not on the empty width a layout gave it. */
inline void clickCheckBox(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    option.text = box->text();
    const QRect clickRect = box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, clickRect.center());
}

/** A fixed adapter. */
inline AdapterInfo adapter(const QString& name, const QString& description, const QStringList& addresses)
{
    return AdapterInfo{name, description, addresses};
}
} // namespace guitest
