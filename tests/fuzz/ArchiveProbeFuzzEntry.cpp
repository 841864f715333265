#include "fuzz/ArchiveProbeFuzzEntry.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/shell/ArchiveCheck.h"

int RunArchiveProbeFuzzInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(bytes.get(), data, size);
    const std::int32_t g = ClassifyArchiveHeader(bytes.get(), size);
    const bool magic = size >= 2 && bytes[0] == 'D' && bytes[1] == 'X';
    const bool version8 = size >= 4 && bytes[2] == 8 && bytes[3] == 0;
    if (!magic && g != kArchiveNotArchive) std::abort();
    if (magic && !version8 && g != kArchiveTooOld) std::abort();
    if (magic && version8 && g != 10 && g != 11 && g != 12 && g != kArchiveUnknownGeneration) {
        std::abort();
    }
    return 0;
}
