// libFuzzer entry of the database CSV reader.
#include <cstddef>
#include <cstdint>

#include "fuzz/DatabaseCsvFuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunDatabaseCsvFuzzInput(data, size);
}
