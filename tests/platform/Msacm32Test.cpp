// msacm32 over libmpg123: the codec's answers for formats it takes and refuses, and the header
// handshake. Decoding itself is tested through the library's sound converter.
#include "platform/Msacm32.h"

#include <gtest/gtest.h>

#include "platform/Modules.h"

namespace {

using namespace platform::msacm32;

WAVEFORMATEX Mp3Format(WORD channels, DWORD rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nAvgBytesPerSec = 16000;
    f.nBlockAlign = 1;
    return f;
}

TEST(Msacm32Test, SuggestsSixteenBitPcmForMpegLayerThreeOnly) {
    WAVEFORMATEX source = Mp3Format(2, 44100);
    WAVEFORMATEX out{};
    out.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, &source, &out, sizeof(out), ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    EXPECT_EQ(out.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(out.nChannels, 2);
    EXPECT_EQ(out.nSamplesPerSec, 44100u);
    EXPECT_EQ(out.wBitsPerSample, 16);
    EXPECT_EQ(out.nBlockAlign, 4);
    EXPECT_EQ(out.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(out.cbSize, 0);

    struct Case {
        const char* name;
        WAVEFORMATEX source;
    };
    WAVEFORMATEX adpcm = source;
    adpcm.wFormatTag = 0x11;
    WAVEFORMATEX pcm = source;
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    const Case refused[] = {{"adpcm", adpcm},
                            {"pcm", pcm},
                            {"three channels", Mp3Format(3, 44100)},
                            {"odd rate", Mp3Format(2, 44000)}};
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        WAVEFORMATEX s = c.source;
        EXPECT_EQ(acmFormatSuggest(nullptr, &s, &out, sizeof(out), ACM_FORMATSUGGESTF_WFORMATTAG),
                  ACMERR_NOTPOSSIBLE);
        HACMSTREAM stream = nullptr;
        EXPECT_EQ(acmStreamOpen(&stream, nullptr, &s, &out, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(stream, nullptr);
    }
}

TEST(Msacm32Test, StreamsNeedTheSuggestedOutputAndPreparedHeaders) {
    WAVEFORMATEX source = Mp3Format(1, 22050);
    WAVEFORMATEX out{};
    out.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, &source, &out, sizeof(out), ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    WAVEFORMATEX wrong = out;
    wrong.nSamplesPerSec = 44100;
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, &source, &wrong, nullptr, 0, 0, 0),
              ACMERR_NOTPOSSIBLE);
    ASSERT_EQ(
        acmStreamOpen(&stream, nullptr, &source, &out, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME),
        MMSYSERR_NOERROR);
    ASSERT_NE(stream, nullptr);

    BYTE src[16] = {};
    BYTE dst[64];
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof(header);
    header.pbSrc = src;
    header.cbSrcLength = sizeof(src);
    header.pbDst = dst;
    header.cbDstLength = sizeof(dst);
    EXPECT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    // Zeros are no MPEG frame: every byte is taken, nothing comes out.
    EXPECT_EQ(acmStreamConvert(stream, &header, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(header.cbSrcLengthUsed, sizeof(src));
    EXPECT_EQ(header.cbDstLengthUsed, 0u);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), ACMERR_UNPREPARED);

    DWORD bytes = 0;
    ASSERT_EQ(acmStreamSize(stream, 10000, &bytes, ACM_STREAMSIZEF_SOURCE), MMSYSERR_NOERROR);
    // 10,000 bytes at 16,000 bytes a second hold at most about 0.6 s of frames, plus one.
    EXPECT_GE(bytes, 22050u * 2 * 10000 / 16000);
    EXPECT_EQ(bytes % (576 * 2), 0u);
    EXPECT_EQ(acmStreamClose(stream, 0), MMSYSERR_NOERROR);
}

TEST(Msacm32Test, LargestFormatAndTheModuleByName) {
    DWORD size = 0;
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &size), MMSYSERR_NOERROR);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(acmMetrics(nullptr, 1, &size), MMSYSERR_NOTSUPPORTED);
    HMODULE module = LoadLibraryA("MSACM32.DLL");
    ASSERT_NE(module, nullptr);
    for (const char* name : {"acmFormatSuggest", "acmStreamOpen", "acmStreamClose", "acmMetrics",
                             "acmStreamPrepareHeader", "acmStreamConvert",
                             "acmStreamUnprepareHeader", "acmStreamSize"})
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    FreeLibrary(module);
}

}  // namespace
