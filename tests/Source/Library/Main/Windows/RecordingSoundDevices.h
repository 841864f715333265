// Recording stand-ins for the sound outputs the platform does not offer: an XAudio2 2.8 engine
// from "XAudio2_8.dll", the 2.7 class with "X3DAudio1_7.dll", and the DirectSound class with
// "DSound.DLL"'s device enumeration. Only this test program registers them; they start hidden,
// and a test shows the ones it wants. Every call lands in one log of lines.
#pragma once

#include <string>
#include <vector>

#include "platform/DSound.h"
#include "platform/XAudio2.h"

namespace velk::sound_devices {

struct Submission {
    unsigned bytes;
    const BYTE* data;
    void* context;
};

// What the recording devices did and how they shall answer.
struct Recorder {
    std::vector<std::string> calls;
    // Failures to inject, by step name: "XAudio2Create", "CreateMasteringVoice", "Initialize",
    // "CoCreate XAudio2", "CoCreate DirectSound", "DS Initialize", "SetCooperativeLevel",
    // "CreatePrimary", "SetFormat", "CreateSilent" (the 18,000-byte buffer),
    // "CreateSoundBufferFull" (every first attempt with all controls), "Lock".
    std::vector<std::string> failures;
    DWORD capsFlags =
        DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARY16BIT | DSCAPS_SECONDARYSTEREO;
    DWORD maxSecondaryRate = 100000;
    WAVEFORMATEX primaryFormat{};
    // The last source voice made.
    std::vector<Submission> submissions;
    std::vector<float> channelVolumes;
    float frequencyRatio = 0;
    WAVEFORMATEX voiceFormat{};
    float maxRatio = 0;
    // The last DirectSound buffer's settings.
    long pan = 12345;
    long volume = 12345;
    DWORD frequency = 0;
    DWORD bufferFlags = 0;
    bool fails(const std::string& step) const;
};

Recorder& TheRecorder();
// Clears the recorder.
void ResetRecorder();

// Shows or hides the recording modules (all start hidden).
void ShowXAudio2_8(bool shown);
void ShowXAudio2_7(bool shown, bool withX3DAudio);
void ShowDirectSound(bool shown);
void HideAll();

}  // namespace velk::sound_devices
