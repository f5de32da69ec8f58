#pragma once

#include "history/SettingsHistory.h"
#include "protocol/NetworkProfile.h"

#include <QString>

#include <cstdint>

class AdapterSource;
class FileService;
class FirewallLauncher;
class MessageService;
class StringTable;
class UserProfile;

/**
 * What the application's windows are given through their constructors: the string table, the message
 * and file services, the adapter source, the per-user profile, the firewall launcher, the network
 * profile and the system language. Nothing here is a global; main() (or a test) owns each of them.
 */
struct AppContext
{
    const StringTable& strings;
    MessageService& messages;
    FileService& files;
    const AdapterSource& adapters;
    UserProfile& profile;
    FirewallLauncher& firewall;
    NetworkProfile network;
    /** The primary language of the system; 0x12 is Korean. */
    std::uint8_t language = 0;
    /** Where the settings editor keeps what its writes replace. */
    QString historyFolder = settings_history::defaultFolder();
};

/** The adapter binding the application object holds: empty name and 0 when unbound. The
 *  address is a host-order number.
 *
 *  The third choice, broadcasts from every adapter at once, is the reserved adapter name
 *  everyAdapterName() with the address 0. No system names an adapter so (Linux refuses ':' in
 *  interface names), and a program that does not know the choice reads the address 0 as unbound. */
struct AdapterBinding
{
    QString adapterName;
    std::uint32_t address = 0;

    static QString everyAdapterName() { return QStringLiteral(":every-adapter"); }
    static AdapterBinding everyAdapter() { return AdapterBinding{everyAdapterName(), 0}; }

    bool isBound() const { return address != 0; }
    bool isEveryAdapter() const { return address == 0 && adapterName == everyAdapterName(); }
    void clear() { *this = AdapterBinding{}; }
};

/** The caption of the fixed English messages (socket, firewall, out of memory). */
inline QString fixedMessageCaption()
{
    return QStringLiteral("CormapMP");
}
