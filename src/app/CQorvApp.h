#pragma once

#include "gui/AppContext.h"
#include "app/CQorvDlg.h"

#include <functional>

/**
 * The application object. Its start-up checks the socket layer, shows the disclaimer until
 * it has been accepted once ("SETTINGS"/"AGREEMENT"), then runs the search window as the one modal main
 * window; when that closes the program ends. It holds the adapter binding for the windows.
 */
class CQorvApp final
{
public:
    /** The socket layer check: true when datagram sockets can be created. */
    using SocketLayerCheck = std::function<bool()>;

    explicit CQorvApp(const AppContext& context, SearchHooks hooks = {}, SocketLayerCheck socketLayer = {});

    /** Runs start-up and the search window; returns the program's exit status. */
    int run();

    AdapterBinding& binding() { return m_binding; }
    std::uint8_t language() const { return m_context.language; }

    /** True when the platform lets the program create a datagram socket. */
    static bool socketLayerAvailable();

private:
    AppContext m_context;
    SearchHooks m_hooks;
    SocketLayerCheck m_socketLayer;
    AdapterBinding m_binding;
};
