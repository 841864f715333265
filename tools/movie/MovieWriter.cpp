#include "tools/movie/MovieWriter.h"

#include <ogg/ogg.h>
#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace velk::movie {

namespace {

void Append(Bytes& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

void Flush(Bytes& out, ogg_stream_state* stream) {
    ogg_page page;
    while (ogg_stream_flush(stream, &page) != 0) Append(out, page);
}

void Drain(Bytes& out, ogg_stream_state* stream) {
    ogg_page page;
    while (ogg_stream_pageout(stream, &page) != 0) Append(out, page);
}

th_pixel_fmt PixelFormat(Chroma chroma) {
    switch (chroma) {
        case Chroma::k422:
            return TH_PF_422;
        case Chroma::k444:
            return TH_PF_444;
        default:
            return TH_PF_420;
    }
}

int GranuleShift(int interval) {
    int shift = 0;
    while ((1 << shift) < interval && shift < 30) ++shift;
    return shift;
}

// A small deterministic noise of position and frame.
std::uint32_t Hash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = a * 0x9E3779B1u ^ b * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// The Vorbis track: an encoder with its Ogg stream.
struct VorbisTrack {
    vorbis_info info;
    vorbis_comment comment;
    vorbis_dsp_state dsp;
    vorbis_block block;
    ogg_stream_state stream;
    std::int64_t written = 0;
    int channels = 0;
    int rate = 0;

    void Start(int channelCount, int sampleRate, Bytes& out, ogg_packet* second,
               ogg_packet* third) {
        channels = channelCount;
        rate = sampleRate;
        vorbis_info_init(&info);
        if (vorbis_encode_init_vbr(&info, channels, rate, 0.1f) != 0)
            throw std::runtime_error("vorbis_encode_init_vbr refused the track");
        vorbis_comment_init(&comment);
        vorbis_analysis_init(&dsp, &info);
        vorbis_block_init(&dsp, &block);
        ogg_stream_init(&stream, 0x566F7262);
        ogg_packet first;
        vorbis_analysis_headerout(&dsp, &comment, &first, second, third);
        ogg_stream_packetin(&stream, &first);
        Flush(out, &stream);
    }
    // Samples of a tone up to the given end sample.
    void WriteUntil(std::int64_t end, Bytes& out) {
        if (end > written) {
            const int count = static_cast<int>(end - written);
            float** buffer = vorbis_analysis_buffer(&dsp, count);
            for (int i = 0; i < count; ++i) {
                const float v =
                    0.25f *
                    static_cast<float>(std::sin((written + i) * 2.0 * 3.14159265 * 440.0 / rate));
                for (int c = 0; c < channels; ++c) buffer[c][i] = v;
            }
            vorbis_analysis_wrote(&dsp, count);
            written = end;
        }
        Pump(out);
    }
    void Finish(Bytes& out) {
        vorbis_analysis_wrote(&dsp, 0);
        Pump(out);
        Flush(out, &stream);
    }
    void Pump(Bytes& out) {
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
                ogg_stream_packetin(&stream, &packet);
                Drain(out, &stream);
            }
        }
    }
    void Clear() {
        ogg_stream_clear(&stream);
        vorbis_block_clear(&block);
        vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
};

void SetCrc(Bytes& file, const OggPageInfo& page) {
    ogg_page p;
    const std::size_t headerBytes = 27 + file[page.offset + 26];
    p.header = file.data() + page.offset;
    p.header_len = static_cast<long>(headerBytes);
    p.body = file.data() + page.offset + headerBytes;
    p.body_len = static_cast<long>(page.size - headerBytes);
    ogg_page_checksum_set(&p);
}

}  // namespace

int ChromaWidth(Chroma chroma, int width) {
    return chroma == Chroma::k444 ? width : width / 2;
}

int ChromaHeight(Chroma chroma, int height) {
    return chroma == Chroma::k420 ? height / 2 : height;
}

std::uint8_t MarkerSample(int frame, int plane, int x, int y, int planeWidth, int planeHeight,
                          bool textured) {
    const int blocksPerRow = (planeWidth + 7) / 8;
    const int block = (y / 8) * blocksPerRow + x / 8;
    if (!textured || block < kMarkerDigits) {
        int digit = frame;
        for (int i = 0; i < block % kMarkerDigits; ++i) digit /= 16;
        return static_cast<std::uint8_t>(kMarkerBase + kMarkerStep * (digit % 16));
    }
    (void)planeHeight;
    // A diagonal wave that moves with the frame, plus noise.
    const double phase = (x + y + frame * 3) * (plane == 0 ? 0.21 : 0.13);
    const int wave = static_cast<int>(60.0 * std::sin(phase));
    const int noise = static_cast<int>(Hash(x, y, frame * 3 + plane) % 25) - 12;
    return static_cast<std::uint8_t>(std::clamp(128 + wave + noise, 16, 235));
}

int MarkerModulus(int width, int height) {
    const int blocks = ((width + 7) / 8) * ((height + 7) / 8);
    int modulus = 1;
    for (int i = 0; i < std::min(blocks, kMarkerDigits); ++i) modulus *= 16;
    return modulus;
}

int ReadFrameMarker(const std::uint8_t* samples, std::ptrdiff_t stride, int width, int height) {
    const int blocksPerRow = (width + 7) / 8;
    const int blocks = blocksPerRow * ((height + 7) / 8);
    int number = 0;
    int scale = 1;
    for (int b = 0; b < std::min(blocks, kMarkerDigits); ++b) {
        const int bx = (b % blocksPerRow) * 8, by = (b / blocksPerRow) * 8;
        int sum = 0, count = 0;
        for (int y = by; y < std::min(by + 8, height); ++y)
            for (int x = bx; x < std::min(bx + 8, width); ++x) {
                sum += samples[y * stride + x];
                ++count;
            }
        const double mean = static_cast<double>(sum) / count;
        const int digit =
            std::clamp(static_cast<int>(std::lround((mean - kMarkerBase) / kMarkerStep)), 0, 15);
        number += digit * scale;
        scale *= 16;
    }
    return number;
}

Bytes WriteTheoraMovie(const MovieSpec& spec) {
    if (spec.video &&
        (spec.width <= 0 || spec.height <= 0 || spec.width % 16 != 0 || spec.height % 16 != 0))
        throw std::invalid_argument("frame sizes must be positive multiples of 16");
    if (!spec.video && !spec.vorbis) throw std::invalid_argument("a movie needs a stream");
    Bytes out;
    th_enc_ctx* encoder = nullptr;
    ogg_stream_state video;
    th_info info;
    th_comment comment;
    th_comment_init(&comment);
    if (spec.video) {
        th_info_init(&info);
        info.frame_width = spec.width;
        info.frame_height = spec.height;
        info.pic_width = spec.pictureWidth > 0 ? spec.pictureWidth : spec.width;
        info.pic_height = spec.pictureHeight > 0 ? spec.pictureHeight : spec.height;
        // Theora counts the picture offset from the bottom: keep the picture at the top left.
        info.pic_x = 0;
        info.pic_y = spec.height - info.pic_height;
        info.fps_numerator = spec.fpsNumerator;
        info.fps_denominator = spec.fpsDenominator;
        info.aspect_numerator = 1;
        info.aspect_denominator = 1;
        info.colorspace = TH_CS_UNSPECIFIED;
        info.pixel_fmt = PixelFormat(spec.chroma);
        info.target_bitrate = 0;
        info.quality = spec.quality;
        info.keyframe_granule_shift = GranuleShift(std::max(spec.keyframeInterval, 1));
        encoder = th_encode_alloc(&info);
        if (encoder == nullptr) throw std::runtime_error("th_encode_alloc refused the settings");
        ogg_uint32_t interval = static_cast<ogg_uint32_t>(std::max(spec.keyframeInterval, 1));
        th_encode_ctl(encoder, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof(interval));
        ogg_stream_init(&video, 0x54686F72);
        ogg_packet packet;
        // The identification header alone on the first page.
        if (th_encode_flushheader(encoder, &comment, &packet) <= 0)
            throw std::runtime_error("th_encode_flushheader failed");
        ogg_stream_packetin(&video, &packet);
        Flush(out, &video);
    }
    VorbisTrack audio;
    ogg_packet vorbisHeaders[2];
    if (spec.vorbis)
        audio.Start(spec.audioChannels, spec.audioRate, out, &vorbisHeaders[0], &vorbisHeaders[1]);
    if (spec.video) {
        ogg_packet packet;
        while (th_encode_flushheader(encoder, &comment, &packet) > 0)
            ogg_stream_packetin(&video, &packet);
        Flush(out, &video);
    }
    if (spec.vorbis) {
        ogg_stream_packetin(&audio.stream, &vorbisHeaders[0]);
        ogg_stream_packetin(&audio.stream, &vorbisHeaders[1]);
        Flush(out, &audio.stream);
    }
    if (spec.video) {
        const int cw = ChromaWidth(spec.chroma, spec.width);
        const int ch = ChromaHeight(spec.chroma, spec.height);
        std::vector<std::uint8_t> planes[3];
        planes[0].resize(static_cast<std::size_t>(spec.width) * spec.height);
        planes[1].resize(static_cast<std::size_t>(cw) * ch);
        planes[2].resize(static_cast<std::size_t>(cw) * ch);
        const std::int64_t audioEnd = static_cast<std::int64_t>(
            static_cast<double>(spec.frames) * spec.audioRate * spec.fpsDenominator /
            std::max<std::uint32_t>(spec.fpsNumerator, 1) * spec.audioShare);
        for (int f = 0; f < spec.frames; ++f) {
            th_ycbcr_buffer buffer;
            for (int p = 0; p < 3; ++p) {
                const int w = p == 0 ? spec.width : cw;
                const int h = p == 0 ? spec.height : ch;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        planes[p][static_cast<std::size_t>(y) * w + x] =
                            MarkerSample(f, p, x, y, w, h, spec.textured);
                buffer[p].width = w;
                buffer[p].height = h;
                buffer[p].stride = w;
                buffer[p].data = planes[p].data();
            }
            if (th_encode_ycbcr_in(encoder, buffer) != 0)
                throw std::runtime_error("th_encode_ycbcr_in failed");
            ogg_packet packet;
            while (th_encode_packetout(encoder, f + 1 == spec.frames, &packet) > 0) {
                ogg_stream_packetin(&video, &packet);
                Drain(out, &video);
            }
            if (spec.vorbis) {
                const std::int64_t end = static_cast<std::int64_t>(f + 1) * spec.audioRate *
                                         spec.fpsDenominator /
                                         std::max<std::uint32_t>(spec.fpsNumerator, 1);
                audio.WriteUntil(std::min(end, audioEnd), out);
            }
        }
        if (spec.vorbis) audio.WriteUntil(audioEnd, out);
        Flush(out, &video);
        ogg_stream_clear(&video);
        th_encode_free(encoder);
    } else if (spec.vorbis) {
        audio.WriteUntil(spec.audioRate / 2, out);
    }
    if (spec.vorbis) {
        audio.Finish(out);
        audio.Clear();
    }
    th_comment_clear(&comment);
    return out;
}

std::vector<OggPageInfo> ListOggPages(const Bytes& file) {
    std::vector<OggPageInfo> pages;
    std::size_t at = 0;
    while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
        const int segments = file[at + 26];
        if (at + 27 + segments > file.size()) break;
        std::size_t body = 0;
        int ended = 0;
        for (int i = 0; i < segments; ++i) {
            body += file[at + 27 + i];
            if (file[at + 27 + i] < 255) ++ended;
        }
        const std::size_t size = 27 + segments + body;
        if (at + size > file.size()) break;
        OggPageInfo page{};
        page.offset = at;
        page.size = size;
        std::uint64_t granule = 0;
        for (int i = 7; i >= 0; --i) granule = granule << 8 | file[at + 6 + i];
        page.granule = static_cast<std::int64_t>(granule);
        page.serial = static_cast<std::uint32_t>(file[at + 14]) | file[at + 15] << 8 |
                      file[at + 16] << 16 | static_cast<std::uint32_t>(file[at + 17]) << 24;
        page.beginning = (file[at + 5] & 2) != 0;
        page.continued = (file[at + 5] & 1) != 0;
        page.packetsEnded = ended;
        pages.push_back(page);
        at += size;
    }
    return pages;
}

Bytes DamageMovie(const Bytes& file, const MovieDamage& damage) {
    Bytes out = file;
    std::vector<OggPageInfo> pages = ListOggPages(out);
    // The Theora stream is the one whose first page starts with its identification header.
    std::uint32_t theoraSerial = 0;
    bool found = false;
    for (const OggPageInfo& page : pages) {
        const std::size_t body = page.offset + 27 + out[page.offset + 26];
        if (page.beginning && body + 7 <= out.size() &&
            std::memcmp(out.data() + body, "\x80theora", 7) == 0) {
            theoraSerial = page.serial;
            found = true;
            if (damage.zeroFrameRate && body + 26 <= out.size()) {
                std::memset(out.data() + body + 22, 0, 4);
                SetCrc(out, page);
            }
            break;
        }
    }
    if (found) {
        int index = 0;
        for (const OggPageInfo& page : pages) {
            if (page.serial != theoraSerial) continue;
            for (const auto& [pageIndex, granule] : damage.theoraGranules) {
                if (pageIndex != index) continue;
                for (int i = 0; i < 8; ++i)
                    out[page.offset + 6 + i] =
                        static_cast<std::uint8_t>(static_cast<std::uint64_t>(granule) >> (8 * i));
                SetCrc(out, page);
            }
            ++index;
        }
    }
    if (damage.keepPages >= 0 && damage.keepPages < static_cast<int>(pages.size()))
        out.resize(pages[damage.keepPages].offset);
    if (damage.keepBytes >= 0 && damage.keepBytes < static_cast<std::int64_t>(out.size()))
        out.resize(static_cast<std::size_t>(damage.keepBytes));
    return out;
}

}  // namespace velk::movie
