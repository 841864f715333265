// Files read whole through the game library's File handles, so that a folder standing for an
// archive is looked into like any other. Paths are UTF-8, the library's narrow encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the file at `path` into `bytes` (replacing what it held), at most `limit` bytes of it.
// False when the file cannot be opened or read (a folder, a file shrunk while read, more than
// 2 GB); `bytes` is then empty.
bool ReadLibraryFile(const std::string& path, std::vector<std::uint8_t>& bytes,
                     std::size_t limit = SIZE_MAX);
