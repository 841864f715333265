#include "runtime/shell/LibraryFile.h"

#include <algorithm>
#include <climits>

#include "Main/DxFile.h"

bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::size_t limit) {
    bytes.clear();
    if (path.empty()) return false;
    const int handle = ZiDaz::OpenReadFileHandle(path.c_str(), 0);
    if (handle <= 0) return false;
    const std::int64_t size = ZiDaz::GetFileSizeByPath(path.c_str());
    // A File handle reads at most INT_MAX bytes at a time; no file of a game comes near that.
    bool ok = size >= 0 && size <= INT_MAX;
    if (ok) {
        bytes.resize(std::min(static_cast<std::size_t>(size), limit));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const int got = ZiDaz::ReadFileHandle(bytes.data() + done,
                                                  static_cast<int>(bytes.size() - done), handle);
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        ok = done == bytes.size();
    }
    ZiDaz::CloseFileHandle(handle);
    if (!ok) bytes.clear();
    return ok;
}
