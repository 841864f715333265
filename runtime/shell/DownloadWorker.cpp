#include "runtime/shell/DownloadWorker.h"

std::int32_t DownloadState = 0;

bool StartDownload(const DownloadRequest& request, std::int32_t* waitFlag) {
    (void)request;
    if (DownloadState == 1) return false;
    // No worker runs requests yet: the request fails at once and nobody waits for it.
    DownloadState = -1;
    if (waitFlag) *waitFlag = 0;
    return true;
}
