#include "Main/DxNetwork.h"

#include "Main/DxLog.h"

namespace ZiDaz {

NetworkState Network;

int PumpNetworkWindowMessages(int) {
    if (!Network.started || Network.window == nullptr) return 0;
    return 0;
}

int ShutdownNetwork() {
    return 0;
}

LRESULT HandleSocketMessage(WPARAM, LPARAM) {
    // No network handle exists, so none owns the socket.
    WriteLogTextUtf16(u"通信エラー No.1\n");
    return 0;
}

int AcceptNetWork(int) {
    return Network.started ? 0 : -1;
}
int RecvSocket(int) {
    return Network.started ? 0 : -1;
}
int SendSocket(int) {
    return Network.started ? 0 : -1;
}

}  // namespace ZiDaz
