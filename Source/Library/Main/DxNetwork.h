// The library's socket module. It is never started here (no socket library, no sockets, no
// network handle type); its hooks into the pump, the library end and the window procedure run all
// the same and answer inertly.
#pragma once

#include "platform/WinTypes.h"

namespace ZiDaz {

struct NetworkState {
    int started;  // stays 0
    HWND window;  // the hidden network window; stays null
    int receiving;
    int sending;
};
extern NetworkState Network;

// The pump's network step: 0 at once while the module is not started or has no window.
int PumpNetworkWindowMessages(int deleteLost);
// The library end's network step: 0 at once while the module is not started.
int ShutdownNetwork();
// The window procedure's handler of the socket notification message (1285): no network handle
// owns the socket, so it logs "通信エラー No.1" and answers 0.
LRESULT HandleSocketMessage(WPARAM socket, LPARAM event);
int AcceptNetWork(int listenHandle);
int RecvSocket(int handle);
int SendSocket(int handle);

}  // namespace ZiDaz
