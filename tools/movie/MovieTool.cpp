// velk-movie: writes an Ogg Theora test movie (frames carrying their numbers) from options.
//
//   velk-movie OUTPUT.ogv [--size WxH] [--picture WxH] [--frames N] [--fps NUM/DEN]
//              [--chroma 420|422|444] [--keyframe N] [--quality Q] [--textured] [--vorbis]
//              [--audio-share F] [--no-video] [--keep-pages N] [--keep-bytes N] [--zero-rate]
//              [--granule PAGE=VALUE]...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

#include "tools/movie/MovieWriter.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: velk-movie OUTPUT [--size WxH] [--picture WxH] [--frames N] "
                 "[--fps NUM/DEN] [--chroma 420|422|444] [--keyframe N] [--quality Q] "
                 "[--textured] [--vorbis] [--audio-share F] [--no-video] [--keep-pages N] "
                 "[--keep-bytes N] "
                 "[--zero-rate] [--granule PAGE=VALUE]...\n");
    return 2;
}

bool Pair(const char* text, char separator, long long* a, long long* b) {
    char* end = nullptr;
    *a = std::strtoll(text, &end, 10);
    if (end == text || *end != separator) return false;
    const char* second = end + 1;
    *b = std::strtoll(second, &end, 10);
    return end != second && *end == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return Usage();
    velk::movie::MovieSpec spec;
    velk::movie::MovieDamage damage;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long a = 0, b = 0;
        auto needs = [&]() {
            if (value == nullptr) return false;
            ++i;
            return true;
        };
        if (option == "--size" && needs() && Pair(value, 'x', &a, &b)) {
            spec.width = static_cast<int>(a);
            spec.height = static_cast<int>(b);
        } else if (option == "--picture" && needs() && Pair(value, 'x', &a, &b)) {
            spec.pictureWidth = static_cast<int>(a);
            spec.pictureHeight = static_cast<int>(b);
        } else if (option == "--frames" && needs()) {
            spec.frames = std::atoi(value);
        } else if (option == "--fps" && needs() && Pair(value, '/', &a, &b)) {
            spec.fpsNumerator = static_cast<std::uint32_t>(a);
            spec.fpsDenominator = static_cast<std::uint32_t>(b);
        } else if (option == "--chroma" && needs()) {
            const std::string c = value;
            if (c == "420")
                spec.chroma = velk::movie::Chroma::k420;
            else if (c == "422")
                spec.chroma = velk::movie::Chroma::k422;
            else if (c == "444")
                spec.chroma = velk::movie::Chroma::k444;
            else
                return Usage();
        } else if (option == "--keyframe" && needs()) {
            spec.keyframeInterval = std::atoi(value);
        } else if (option == "--quality" && needs()) {
            spec.quality = std::atoi(value);
        } else if (option == "--textured") {
            spec.textured = true;
        } else if (option == "--vorbis") {
            spec.vorbis = true;
        } else if (option == "--audio-share" && needs()) {
            spec.vorbis = true;
            spec.audioShare = std::atof(value);
        } else if (option == "--no-video") {
            spec.video = false;
            spec.vorbis = true;
        } else if (option == "--keep-pages" && needs()) {
            damage.keepPages = std::atoi(value);
        } else if (option == "--keep-bytes" && needs()) {
            damage.keepBytes = std::atoll(value);
        } else if (option == "--zero-rate") {
            damage.zeroFrameRate = true;
        } else if (option == "--granule" && needs() && Pair(value, '=', &a, &b)) {
            damage.theoraGranules.emplace_back(static_cast<int>(a), b);
        } else {
            return Usage();
        }
    }
    try {
        const velk::movie::Bytes file =
            velk::movie::DamageMovie(velk::movie::WriteTheoraMovie(spec), damage);
        std::ofstream out(argv[1], std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        if (!out) {
            std::fprintf(stderr, "velk-movie: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velk-movie: %s\n", e.what());
        return 1;
    }
    return 0;
}
