#include "tools/sound/SoundWriter.h"

#include <lame/lame.h>
#include <opusenc.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace velk::sound {

namespace {

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put64(Bytes& out, std::uint64_t v) {
    Put32(out, static_cast<std::uint32_t>(v));
    Put32(out, static_cast<std::uint32_t>(v >> 32));
}
void PutId(Bytes& out, const std::string& id) {
    for (int i = 0; i < 4; ++i) out.push_back(i < static_cast<int>(id.size()) ? id[i] : ' ');
}
void PutChunk(Bytes& out, const WaveChunk& chunk) {
    PutId(out, chunk.id);
    Put32(out, static_cast<std::uint32_t>(chunk.data.size()));
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    if (chunk.data.size() & 1) out.push_back(0);
}

Bytes FormatChunkData(const WaveSpec& spec) {
    const std::uint16_t blockAlign = spec.blockAlign.value_or(
        static_cast<std::uint16_t>(spec.channels * spec.bitsPerSample / 8));
    Bytes f;
    Put16(f, spec.formatTag);
    Put16(f, spec.channels);
    Put32(f, spec.sampleRate);
    Put32(f, spec.avgBytesPerSec.value_or(blockAlign * spec.sampleRate));
    Put16(f, blockAlign);
    Put16(f, spec.bitsPerSample);
    if (spec.formatChunkSize >= 18) {
        Put16(f, spec.extraSize.value_or(static_cast<std::uint16_t>(spec.formatChunkSize - 18)));
    }
    if (spec.formatChunkSize >= 40) {
        Put16(f, spec.bitsPerSample);              // valid bits
        Put32(f, spec.channels == 1 ? 0x4 : 0x3);  // channel mask
        // The PCM subformat {00000001-0000-0010-8000-00AA00389B71}.
        const std::uint8_t guid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        f.insert(f.end(), guid, guid + 16);
    }
    f.resize(spec.formatChunkSize, 0);
    return f;
}

}  // namespace

Bytes WriteWave(const WaveSpec& spec, const Bytes& data) {
    Bytes body;
    PutId(body, "WAVE");
    const std::uint64_t stated = spec.statedDataSize.value_or(data.size());
    if (spec.rf64) {
        Bytes ds64;
        Put64(ds64, 0);  // the RIFF size, patched below
        Put64(ds64, stated);
        const std::uint32_t blockAlign = spec.blockAlign.value_or(
            static_cast<std::uint16_t>(spec.channels * spec.bitsPerSample / 8));
        Put64(ds64, blockAlign ? data.size() / blockAlign : 0);
        Put32(ds64, spec.ds64TableBytes / 12);
        ds64.resize(ds64.size() + spec.ds64TableBytes, 0xEE);
        PutChunk(body, {"ds64", ds64});
    }
    for (const WaveChunk& c : spec.beforeFormat) PutChunk(body, c);
    PutChunk(body, {"fmt ", FormatChunkData(spec)});
    for (const WaveChunk& c : spec.beforeData) PutChunk(body, c);
    PutId(body, "data");
    Put32(body, spec.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(stated));
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() & 1) body.push_back(0);
    for (const WaveChunk& c : spec.afterData) PutChunk(body, c);

    Bytes file;
    PutId(file, spec.rf64 ? "RF64" : "RIFF");
    Put32(file, spec.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    if (spec.rf64) {
        const std::uint64_t riffSize = file.size() - 8;
        for (int i = 0; i < 8; ++i) file[20 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    }
    return file;
}

Bytes PcmBytes(const std::vector<std::int32_t>& samples, int bits) {
    Bytes out;
    for (std::int32_t s : samples) {
        switch (bits) {
            case 8:
                out.push_back(static_cast<std::uint8_t>(s + 128));
                break;
            case 16:
                Put16(out, static_cast<std::uint16_t>(s));
                break;
            case 24:
                out.push_back(static_cast<std::uint8_t>(s));
                out.push_back(static_cast<std::uint8_t>(s >> 8));
                out.push_back(static_cast<std::uint8_t>(s >> 16));
                break;
            case 32:
                Put32(out, static_cast<std::uint32_t>(s));
                break;
            default:
                throw std::invalid_argument("PCM bits must be 8, 16, 24 or 32");
        }
    }
    return out;
}

Bytes PcmBytes16(const std::vector<std::int16_t>& samples) {
    Bytes out;
    out.reserve(samples.size() * 2);
    for (std::int16_t s : samples) Put16(out, static_cast<std::uint16_t>(s));
    return out;
}

Bytes FloatBytes(const std::vector<float>& samples) {
    Bytes out;
    for (float v : samples) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Put32(out, bits);
    }
    return out;
}

WaveChunk SampleLoopChunk(std::uint32_t loopStart, std::uint32_t loopEnd, std::uint32_t keepBytes) {
    Bytes d;
    for (int i = 0; i < 7; ++i) Put32(d, 0);  // manufacturer .. SMPTE offset
    Put32(d, 1);                              // loop count
    Put32(d, 0);                              // sampler data
    Put32(d, 0);                              // loop identifier
    Put32(d, 0);                              // loop type: forward
    Put32(d, loopStart);
    Put32(d, loopEnd);
    Put32(d, 0);  // fraction
    Put32(d, 0);  // play count: endless
    d.resize(keepBytes, 0);
    return {"smpl", d};
}

WaveChunk BroadcastChunk(std::uint32_t size) {
    Bytes d(size, 0);
    const char* text = "velk fixture";
    for (std::size_t i = 0; text[i] && i < size; ++i) d[i] = static_cast<std::uint8_t>(text[i]);
    return {"bext", d};
}

std::vector<std::int16_t> SineWave(int channels, int rate, double frequency, double amplitude,
                                   std::size_t frames) {
    std::vector<std::int16_t> out(frames * channels);
    const double step = 2.0 * M_PI * frequency / rate;
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            // Channels slightly apart in phase so that a channel mix-up shows.
            double v = amplitude * std::sin(step * static_cast<double>(i) + c * 0.5);
            out[i * channels + c] = static_cast<std::int16_t>(std::lround(v));
        }
    }
    return out;
}

std::vector<std::int16_t> RampWave(int channels, std::size_t frames) {
    std::vector<std::int16_t> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] =
                static_cast<std::int16_t>(c == 0 ? (i & 0x7FFF) : (i >> 15) & 0x7FFF);
        }
    }
    return out;
}

// ---- Vorbis --------------------------------------------------------------------------------

Bytes EncodeVorbis(const std::vector<std::int16_t>& samples, int channels, int rate,
                   const std::vector<std::string>& comments, float quality) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0)
        throw std::runtime_error("vorbis_encode_init_vbr failed");
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    for (const std::string& c : comments) vorbis_comment_add(&comment, c.c_str());
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 12345);
    Bytes out;
    auto writePage = [&out](const ogg_page& page) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    };
    ogg_packet header, commentPacket, codebook;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentPacket, &codebook);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &commentPacket);
    ogg_stream_packetin(&stream, &codebook);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page)) writePage(page);

    const std::size_t frames = samples.size() / channels;
    std::size_t done = 0;
    bool ended = false;
    while (!ended) {
        const std::size_t chunk = std::min<std::size_t>(4096, frames - done);
        if (chunk == 0) {
            vorbis_analysis_wrote(&dsp, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(chunk));
            for (std::size_t i = 0; i < chunk; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = samples[(done + i) * channels + c] / 32768.0f;
            vorbis_analysis_wrote(&dsp, static_cast<int>(chunk));
            done += chunk;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) {
                    writePage(page);
                    if (ogg_page_eos(&page)) ended = true;
                }
            }
        }
        if (chunk == 0) ended = true;
    }
    while (ogg_stream_flush(&stream, &page)) writePage(page);
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

// ---- Opus ----------------------------------------------------------------------------------

namespace {
int OpusWrite(void* user, const unsigned char* data, opus_int32 length) {
    auto* out = static_cast<Bytes*>(user);
    out->insert(out->end(), data, data + length);
    return 0;
}
int OpusClose(void*) {
    return 0;
}
}  // namespace

Bytes EncodeOpus(const std::vector<std::int16_t>& samples, int channels, int inputRate,
                 int bitRate) {
    Bytes out;
    OpusEncCallbacks callbacks = {OpusWrite, OpusClose};
    OggOpusComments* comments = ope_comments_create();
    int error = 0;
    OggOpusEnc* encoder = ope_encoder_create_callbacks(&callbacks, &out, comments, inputRate,
                                                       channels, channels > 2 ? 1 : 0, &error);
    if (encoder == nullptr) {
        ope_comments_destroy(comments);
        throw std::runtime_error("ope_encoder_create_callbacks failed");
    }
    ope_encoder_ctl(encoder, OPUS_SET_BITRATE(bitRate));
    ope_encoder_write(encoder, samples.data(), static_cast<int>(samples.size() / channels));
    ope_encoder_drain(encoder);
    ope_encoder_destroy(encoder);
    ope_comments_destroy(comments);
    return out;
}

// ---- MP3 -----------------------------------------------------------------------------------

Bytes Id3v2Tag(std::uint32_t size, int version, bool footer) {
    Bytes tag = {'I', 'D',
                 '3', static_cast<std::uint8_t>(version),
                 0,   static_cast<std::uint8_t>(footer ? 0x10 : 0)};
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
    // A frame of text, then padding.
    Bytes body = {'T', 'I', 'T', '2', 0, 0, 0, 5, 0, 0, 0, 'v', 'e', 'l', 'k'};
    body.resize(size, 0);
    tag.insert(tag.end(), body.begin(), body.end());
    if (footer) {
        tag.push_back('3');
        tag.push_back('D');
        tag.push_back('I');
        tag.insert(tag.end(), tag.begin() + 3, tag.begin() + 10);
    }
    return tag;
}

Bytes Id3v1Tag() {
    Bytes tag(128, 0);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    const char* title = "velk";
    std::memcpy(tag.data() + 3, title, 4);
    tag[127] = 255;  // no genre
    return tag;
}

Bytes EncodeMp3(const std::vector<std::int16_t>& samples, int channels, int rate,
                const Mp3Options& options) {
    lame_global_flags* lame = lame_init();
    lame_set_num_channels(lame, channels);
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    if (options.vbr) {
        lame_set_VBR(lame, vbr_mtrh);
        lame_set_VBR_quality(lame, 4.0f);
    } else {
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, options.bitRate);
    }
    lame_set_bWriteVbrTag(lame, options.infoFrame ? 1 : 0);
    lame_set_quality(lame, 5);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        throw std::runtime_error("lame_init_params failed");
    }
    const std::size_t frames = samples.size() / channels;
    Bytes mp3(frames * 5 / 4 + 7200 + 16384);
    int written;
    std::vector<std::int16_t> copy(samples);
    if (channels == 1) {
        written = lame_encode_buffer(lame, copy.data(), copy.data(), static_cast<int>(frames),
                                     mp3.data(), static_cast<int>(mp3.size()));
    } else {
        written = lame_encode_buffer_interleaved(lame, copy.data(), static_cast<int>(frames),
                                                 mp3.data(), static_cast<int>(mp3.size()));
    }
    if (written < 0) {
        lame_close(lame);
        throw std::runtime_error("lame_encode_buffer failed");
    }
    int flushed =
        lame_encode_flush(lame, mp3.data() + written, static_cast<int>(mp3.size()) - written);
    mp3.resize(written + (flushed > 0 ? flushed : 0));
    if (options.infoFrame) {
        unsigned char frame[2880];
        std::size_t size = lame_get_lametag_frame(lame, frame, sizeof(frame));
        if (size > 0 && size <= mp3.size()) std::memcpy(mp3.data(), frame, size);
    }
    lame_close(lame);
    Bytes file;
    if (options.id3v2Size > 0) {
        file = Id3v2Tag(options.id3v2Size, options.id3v2Version, options.id3v2Footer);
    }
    file.insert(file.end(), mp3.begin(), mp3.end());
    if (options.id3v1) {
        Bytes tag = Id3v1Tag();
        file.insert(file.end(), tag.begin(), tag.end());
    }
    return file;
}

}  // namespace velk::sound
