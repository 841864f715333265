// A recording graphics back end for the tests: it fills the table of device kind 1 (Direct3D 9)
// and 2 (Direct3D 11), claims a device with the capabilities a test sets when its start is
// allowed to succeed, and records every call with its arguments as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Main/DxGraphics.h"

namespace ZiDaz::testing {

struct RecordedCall {
    int kind;
    std::string name;
    std::vector<std::string> args;
};

inline std::string ArgText(int v) {
    return std::to_string(v);
}
// Colours, as hexadecimal.
inline std::string ArgText(unsigned v) {
    char b[32];
    std::snprintf(b, sizeof(b), "x%08X", v);
    return b;
}
inline std::string ArgText(float v) {
    char b[64];
    std::snprintf(b, sizeof(b), "f%.9g", static_cast<double>(v));
    return b;
}
inline std::string ArgText(double v) {
    char b[64];
    std::snprintf(b, sizeof(b), "d%.17g", v);
    return b;
}
inline std::string ArgText(const void* p) {
    char b[64];
    std::snprintf(b, sizeof(b), "p%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
    return b;
}
inline std::string ArgText(RECT r) {
    return "r" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom);
}
template <typename... A>
std::vector<std::string> ArgTexts(A... a) {
    return {ArgText(a)...};
}

struct RecordingBackend {
    std::vector<RecordedCall> calls;
    bool startSucceeds[3] = {false, false, false};
    int finishSetupResult = 0;
    // Refuses FinishSetup for these screen modes (width, height, bits), making the start fail.
    std::function<bool(int, int, int)> refuseMode;
    int results = 0;      // what every recorded operation with a result returns
    int shaderModel = 0;  // what GetShaderModelVersion returns
    int startsTried = 0;
    bool deviceExists = false;
    GraphicsSystemStateData capabilities{};  // the capability fields a start copies
    // The graph operations, when graphOperations is set (else they record like every other
    // operation): what CheckTransferConversion answers (null: leaves the flags alone),
    // what TransferImageToTexture returns, and every transfer it was handed.
    std::function<void(int sourceKind, int* needs, int alphaKind, int* alphaNeeds)>
        transferConversion;
    int transferResult = 0;
    struct Transfer {
        RECT rect;
        int x, y;
        HandleValue graph;
        int colorKind, colorWidth, colorHeight;
        bool alpha;
        int blendImage, useTransparency, wholeImage;
        bool loadThread;
    };
    std::vector<Transfer> transfers;
    bool graphOperations = false;

    static RecordingBackend& Instance() {
        static RecordingBackend backend;
        return backend;
    }

    void Install();
    void Remove();
    void Record(int kind, const char* name, std::vector<std::string> args) {
        calls.push_back(RecordedCall{kind, name, std::move(args)});
    }
    // The calls of one name.
    std::vector<RecordedCall> Named(const std::string& name) const {
        std::vector<RecordedCall> out;
        for (const auto& c : calls)
            if (c.name == name) out.push_back(c);
        return out;
    }
};

}  // namespace ZiDaz::testing
