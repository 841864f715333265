// Pillow as an oracle: files made by a test are decoded by Python's imaging library, and the
// tests compare their own pixels with its pixels.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velk_test {

// A scratch folder of its own, removed with the object.
struct ScratchDir {
    std::filesystem::path path;
    explicit ScratchDir(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
};

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Pillow's decode of each file converted to `mode` ("RGB" or "RGBA"), rows top first; an empty
// vector where Pillow refused the file. One run of Python for all files.
inline std::vector<std::vector<std::uint8_t>> PillowDecode(
    const std::vector<std::filesystem::path>& files, const char* mode = "RGB") {
    std::string command = std::string(
                              "/usr/bin/python3 -c \"import sys; from PIL import Image\n"
                              "for p in sys.argv[1:]:\n"
                              "  try: b = Image.open(p).convert('") +
                          mode +
                          "').tobytes()\n"
                          "  except Exception: b = b''\n"
                          "  sys.stdout.buffer.write(b'%d\\n' % len(b) + b)\" 2>/dev/null";
    for (const auto& f : files) command += " '" + f.string() + "'";
    std::vector<std::vector<std::uint8_t>> result;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::size_t size = 0;
        while (std::fscanf(pipe, "%zu", &size) == 1) {
            std::fgetc(pipe);
            std::vector<std::uint8_t> pixels(size);
            pixels.resize(std::fread(pixels.data(), 1, size, pipe));
            result.push_back(std::move(pixels));
        }
        pclose(pipe);
    }
    result.resize(files.size());
    return result;
}

}  // namespace velk_test
