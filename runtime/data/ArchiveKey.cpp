#include "runtime/data/ArchiveKey.h"

#include <filesystem>

#include "runtime/data/DataFileBuffer.h"

std::string FindArchiveKeyFile(int folderChoice, std::string& extension,
                               const std::string& exeFolder, const std::string& dataFolderPath) {
    std::string folder;
    if (folderChoice == static_cast<int>(ArchiveKeyFolder::ExeFolder)) {
        folder = exeFolder;
    } else if (folderChoice == static_cast<int>(ArchiveKeyFolder::DataFolder)) {
        folder = exeFolder + dataFolderPath;
        if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
        folder += '/';
    } else {
        return {};
    }
    std::string path;
    for (const char* base : kArchiveKeyBaseNames) {
        for (const char* ext : kArchiveExtensions) {
            path = folder + base + ext;
            std::error_code error;
            if (std::filesystem::exists(path, error)) return ReadArchiveKeyFile(path, extension);
        }
    }
    // Nothing exists: the last name formed fails to open.
    return ReadArchiveKeyFile(path, extension);
}

std::string ReadArchiveKeyFile(const std::string& path, std::string& extension) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {};
    std::vector<std::uint8_t> bytes;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size > 0 && static_cast<std::size_t>(size) <= kArchiveKeyFileSize) {
            std::fseek(file, 0, SEEK_SET);
            bytes.resize(static_cast<std::size_t>(size));
            ReadFileChunked(bytes.data(), file, size);
        }
    }
    std::fclose(file);
    return ParseArchiveKeyFile(std::move(bytes), extension);
}

std::string ParseArchiveKeyFile(std::vector<std::uint8_t> bytes, std::string& extension) {
    DataFileBuffer& b = TheDataFileBuffer;
    b.Load(std::move(bytes));
    std::string key;
    // Every fixed offset is inside a file of exactly the layout's size.
    if (b.Size() == kArchiveKeyFileSize) {
        std::uint8_t* raw = b.bytes.data();
        const std::uint8_t seed = raw[0];
        const std::uint8_t extensionIndex = raw[1];
        const std::size_t length = raw[2];
        std::uint8_t unused = 0;
        UnscrambleDataFile(raw, kArchiveKeyBlockOffset,
                           kArchiveKeyBlockOffset + kArchiveKeyBlockSize, 1, &seed, kNoCheck,
                           unused, {});
        const std::uint8_t* block = raw + kArchiveKeyBlockOffset;
        bool valid = raw[kArchiveKeyFileSize - 1] == kArchiveKeyCheckValue && length >= 1 &&
                     length <= kArchiveKeyMaxLength && extensionIndex < 8;
        for (std::size_t i = 0; valid && i < length; ++i) {
            const std::uint8_t c = block[kArchiveKeyFirstPick + i * kArchiveKeyStride];
            if (c == 0) valid = false;
            key.push_back(static_cast<char>(c));
        }
        if (valid) {
            extension = kArchiveExtensions[extensionIndex] + 1;  // without its dot
        } else {
            key.clear();
        }
    }
    b.Release();
    return key;
}

void ReadFileChunked(void* destination, std::FILE* file, std::int64_t count) {
    auto* out = static_cast<unsigned char*>(destination);
    constexpr std::int64_t kPiece = 2147483647;
    while (count > 0) {
        const std::int64_t piece = count < kPiece ? count : kPiece;
        std::fread(out, 1, static_cast<std::size_t>(piece), file);
        out += piece;
        count -= piece;
    }
}

void Game_Archive::Reset() {
    file = nullptr;
    buffers[0].clear();
    buffers[1].clear();
}

void Game_Archive::Close() {
    if (file) std::fclose(file);
    buffers[0] = {};
    buffers[1] = {};
    file = nullptr;
}
