// The text-entry module. The main window procedure queues typed characters and editing keys; the
// message pump applies them once per frame to the active line input; the drawing flows the text
// inside the draw area and keeps the cursor in view; the IME's composition is kept here and drawn
// at the cursor, so the system's own composition window is never needed.
#include "Main/DuRadudAvuvur.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxInput.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

TextInputSystemState TextInputSystem;

namespace {

constexpr const char* kSourceFile = "DuRadudAvuvur";
constexpr int kHandleType = 9;

using ImmGetContextFn = HANDLE (*)(HWND);
using ImmReleaseContextFn = BOOL (*)(HWND, HANDLE);
using ImmAssociateContextFn = HANDLE (*)(HWND, HANDLE);
using ImmGetOpenStatusFn = BOOL (*)(HANDLE);
using ImmSetOpenStatusFn = BOOL (*)(HANDLE, BOOL);
using ImmNotifyImeFn = BOOL (*)(HANDLE, DWORD, DWORD, DWORD);
using ImmGetCompositionStringFn = LONG (*)(HANDLE, DWORD, void*, DWORD);
using ImmSetCompositionStringFn = BOOL (*)(HANDLE, DWORD, void*, DWORD, void*, DWORD);

template <typename F>
F Imm(FARPROC p) {
    return reinterpret_cast<F>(p);
}

HWND MainHwnd() {
    return MainWindow.mainWindow;
}

HANDLE GetInputContext() {
    if (!SystemApi.ImmGetContext || !MainHwnd()) return nullptr;
    return Imm<ImmGetContextFn>(SystemApi.ImmGetContext)(MainHwnd());
}

void ReleaseInputContext(HANDLE context) {
    if (context && SystemApi.ImmReleaseContext)
        Imm<ImmReleaseContextFn>(SystemApi.ImmReleaseContext)(MainHwnd(), context);
}

void CancelImeComposition(HANDLE context) {
    if (context && SystemApi.ImmNotifyIME)
        Imm<ImmNotifyImeFn>(SystemApi.ImmNotifyIME)(context, NI_COMPOSITIONSTR, CPS_CANCEL, 0);
}

void FreeCandidateList() {
    TextInputSystemState& s = TextInputSystem;
    if (s.candidateList) FreeTrackedMemory(s.candidateList);
    s.candidateList = nullptr;
    s.candidateListSize = 0;
}

int SlotOf(HandleValue handle) {
    return handle & 0x3FFFF;
}

HandleValue MakeHandle(int slot, int check) {
    return static_cast<HandleValue>(slot | ((check | 0x900) << 18));
}

bool ShiftDown() {
    return IsKeyDown(0x2A) || IsKeyDown(0x36);
}
bool CtrlDown() {
    return IsKeyDown(0x1D) || IsKeyDown(0x9D);
}

bool IsHighSurrogate(char16_t u) {
    return (u & 0xFC00) == 0xD800;
}

// Narrow code units of a run of UTF-16 units.
int NarrowUnits(const char16_t* text, int units, char* scratch, int scratchBytes) {
    if (units <= 0) return 0;
    if (TranscodeString(text, units, CharEncoding::Utf16Le, scratch, scratchBytes,
                        NarrowEncoding) <= 0)
        return 0;
    return CountCodeStringUnits(NarrowEncoding, scratch);
}

int CharNarrowUnits(const char16_t* units, int count) {
    char buffer[16];
    char16_t wide[3] = {units[0], count > 1 ? units[1] : u'\0', 0};
    return NarrowUnits(wide, count, buffer, sizeof buffer);
}

int StepBack(const LineInputRecord& r, int position) {
    if (position <= 0) return 0;
    return GetWideUnitRole(r.text, position - 1) == 2 ? 2 : 1;
}

int StepForward(const LineInputRecord& r, int position) {
    if (position >= r.length) return 0;
    return IsHighSurrogate(r.text[position]) && position + 1 < r.length ? 2 : 1;
}

int LineStart(const LineInputRecord& r, int position) {
    while (position > 0 && r.text[position - 1] != 10) --position;
    return position;
}

int ColumnOf(const LineInputRecord& r, int position) {
    int start = LineStart(r, position), column = 0;
    for (int p = start; p < position; p += StepForward(r, p)) ++column;
    return column;
}

// Forward by column characters, stopping early at a line break or the end.
int ForwardByColumn(const LineInputRecord& r, int position, int column) {
    for (int i = 0; i < column && position < r.length && r.text[position] != 10; ++i)
        position += StepForward(r, position);
    return position;
}

void MoveSelection(LineInputRecord& r, int oldCursor, bool shift) {
    if (shift) {
        if (r.selectionStart == -1) r.selectionStart = oldCursor;
        r.selectionEnd = r.cursor;
    } else {
        r.selectionStart = -1;
    }
}

void RemoveUnits(LineInputRecord& r, int at, int count) {
    std::memmove(r.text + at, r.text + at + count, (r.length - at - count) * sizeof(char16_t));
    r.length -= count;
    r.text[r.length] = 0;
}

// The selected text (units between the bounds) to the clipboard; false when nothing is selected.
bool CopySelection(LineInputRecord& r) {
    if (r.selectionStart == -1) return false;
    int lo = std::min(r.selectionStart, r.selectionEnd),
        hi = std::max(r.selectionStart, r.selectionEnd);
    std::vector<char16_t> copy(r.text + lo, r.text + hi);
    copy.push_back(0);
    WriteClipboardWideText(copy.data());
    return true;
}

void Paste(LineInputRecord& r) {
    int size = ReadClipboardWideText(nullptr);
    if (size <= 0) return;
    std::vector<char16_t> text(static_cast<std::size_t>(size) / 2 + 2, 0);
    if (ReadClipboardWideText(text.data()) != 0) return;
    for (char16_t* p = text.data(); *p; ++p) {
        if ((*p == 13 || *p == 10) && !r.multiLine) continue;
        QueueTypedCharacter(*p);
    }
}

void InsertCharacter(LineInputRecord& r, const char16_t* units, int count) {
    DeleteLineInputSelection(&r);
    char16_t c = units[0];
    // Control codes that have no editing action (Ctrl+A, Page Up and Down, pasted controls) are
    // not text; only the line break of a multi-line input is.
    if (c < 0x20 && !(c == 10 && r.multiLine)) return;
    if (r.numbersOnly) {
        bool ok = (c >= u'0' && c <= u'9') || (c == u'-' && r.cursor == 0) ||
                  (c == u'.' && std::find(r.text, r.text + r.length, u'.') == r.text + r.length);
        if (!ok) return;
    }
    int e = CharNarrowUnits(units, count);
    if (e <= 0) return;
    if (r.singleByteOnly && e != 1) return;
    if (r.doubleByteOnly && e == 1) return;
    // A character that alone exceeds the limit can never fit: dropping the text's characters
    // would not end, so the character is dropped instead.
    if (e > r.maximumLength || count > r.maximumLength) return;
    int d = NarrowUnits(r.text, r.length, r.scratch, r.scratchSize);
    while (r.length > 0 && (d + e > r.maximumLength || r.cursor + count > r.maximumLength ||
                            r.length + count > r.maximumLength)) {
        int last = StepBack(r, r.length);
        d -= NarrowUnits(r.text + r.length - last, last, r.scratch, r.scratchSize);
        bool atEnd = r.cursor == r.length;
        RemoveUnits(r, r.length - last, last);
        if (atEnd || r.cursor > r.length) r.cursor = r.length;
    }
    std::memmove(r.text + r.cursor + count, r.text + r.cursor,
                 (r.length - r.cursor) * sizeof(char16_t));
    for (int i = 0; i < count; ++i) r.text[r.cursor + i] = units[i];
    r.cursor += count;
    r.length += count;
    r.text[r.length] = 0;
}

void MoveUp(LineInputRecord& r, bool shift) {
    if (r.cursor <= 0) return;
    int old = r.cursor;
    if (r.text[r.cursor - 1] == 10) {
        if (r.cursor == 1) {
            r.cursor = 0;
        } else if (r.text[r.cursor - 2] == 10) {
            r.cursor -= 1;
        } else {
            r.cursor = LineStart(r, r.cursor - 1);
        }
    } else {
        int column = ColumnOf(r, r.cursor);
        int start = LineStart(r, r.cursor);
        if (start == 0) {
            if (!shift) r.selectionStart = -1;
            return;
        }
        r.cursor = ForwardByColumn(r, LineStart(r, start - 1), column);
    }
    if (r.firstShown > r.cursor) r.firstShown = r.cursor;
    MoveSelection(r, old, shift);
}

void MoveDown(LineInputRecord& r, bool shift) {
    if (r.cursor >= r.length) return;
    int old = r.cursor;
    int column = ColumnOf(r, r.cursor);
    int end = r.cursor;
    while (end < r.length && r.text[end] != 10) ++end;
    if (end >= r.length) {
        if (!shift) r.selectionStart = -1;
        return;
    }
    r.cursor = ForwardByColumn(r, end + 1, column);
    MoveSelection(r, old, shift);
}

void ResyncIme() {
    TextInputSystemState& s = TextInputSystem;
    for (int step = s.imeResyncStep; step >= 1 && step <= 4; ++step) {
        HANDLE context = GetInputContext();
        switch (step) {
            case 1:
                if (context) {
                    s.composition[0] = 0;
                    std::memset(s.savedComposition, 0, sizeof s.savedComposition);
                    if (SystemApi.ImmGetCompositionStringW)
                        Imm<ImmGetCompositionStringFn>(SystemApi.ImmGetCompositionStringW)(
                            context, static_cast<DWORD>(GCS_COMPSTR), s.savedComposition, 1024);
                    CancelImeComposition(context);
                }
                break;
            case 2:
            case 3:
                if (context && SystemApi.ImmSetOpenStatus)
                    Imm<ImmSetOpenStatusFn>(SystemApi.ImmSetOpenStatus)(context, step == 3);
                break;
            case 4:
                if (context) {
                    if (SystemApi.ImmSetOpenStatus)
                        Imm<ImmSetOpenStatusFn>(SystemApi.ImmSetOpenStatus)(context, TRUE);
                    int units = 0;
                    while (units < 1024 && s.savedComposition[units]) ++units;
                    if (SystemApi.ImmSetCompositionStringW)
                        Imm<ImmSetCompositionStringFn>(SystemApi.ImmSetCompositionStringW)(
                            context, SCS_SETSTR, s.savedComposition, units * 2, nullptr, 0);
                }
                break;
        }
        ReleaseInputContext(context);
    }
    s.imeResyncStep = 0;
}

}  // namespace

// ---- Handles and queue ------------------------------------------------------------------------

bool IsKeyControlCode(char16_t unit) {
    switch (unit) {
        case 0x10:
        case 0x1D:
        case 0x1C:
        case 0x1E:
        case 0x1F:
        case 0x1A:
        case 0x19:
        case 0x17:
        case 0x15:
            return true;
        default:
            return false;
    }
}

LineInputRecord* FindLineInput(HandleValue handle) {
    if (handle < 0 || ((handle >> 26) & 0x1F) != kHandleType) return nullptr;
    int slot = SlotOf(handle);
    if (slot >= kLineInputSlots) return nullptr;
    LineInputRecord& r = TextInputSystem.inputs[slot];
    if (!r.inUse || r.checkCount != ((handle >> 18) & 0xFF)) return nullptr;
    return &r;
}

int ResetLineInputColor() {
    TextInputSystemState& s = TextInputSystem;
    const int rgb[kLineInputColours][3] = {
        {255, 255, 255}, {0, 0, 0},      {255, 255, 255}, {0, 0, 0},     {128, 128, 128},
        {255, 255, 255}, {0, 0, 0},      {0, 0, 0},       {255, 255, 0}, {0, 255, 255},
        {255, 255, 255}, {0, 0, 0},      {0, 0, 0},       {255, 0, 0},   {255, 255, 255},
        {0, 0, 0},       {255, 0, 0},    {0, 0, 0},       {0, 0, 0},     {255, 255, 0},
        {0, 0, 0},       {255, 255, 20}, {0, 0, 0}};
    for (int i = 0; i < kLineInputColours; ++i)
        s.colours[i] = ComposeScreenColor(rgb[i][0], rgb[i][1], rgb[i][2]);
    s.compositionEdgeSwitch = s.convertingEdgeSwitch = s.selectedCandidateBar = 0;
    return 0;
}

int InitTextInputSystem() {
    WriteLogTextUtf16(u"文字コードバッファの初期化を行います... ");
    TextInputSystemState& s = TextInputSystem;
    // Blocks of an earlier start went with its tracked memory (EndTextInputSystem frees them).
    int requested = s.imeRequested, enabled = s.imeEnabled;
    HANDLE saved = s.savedInputContext;
    std::memset(&s, 0, sizeof s);
    s.imeRequested = requested;
    s.imeEnabled = enabled;
    s.savedInputContext = saved;
    if (MainHwnd()) {
        // A new main window starts with its IME disabled and its own input context: the flags
        // of an earlier start would leave the IME off while the module believes it on.
        s.imeEnabled = 0;
        s.savedInputContext = nullptr;
    }
    if (!s.imeEnabled && SystemApi.ImmAssociateContext && MainHwnd()) {
        HANDLE old = Imm<ImmAssociateContextFn>(SystemApi.ImmAssociateContext)(MainHwnd(), nullptr);
        if (old) s.savedInputContext = old;
    }
    ResetLineInputColor();
    // A request of the game made before the start applies to the new window.
    RefreshImeState(0);
    // The text-services thread manager is not available here: candidate lists come through the
    // IME's window messages.
    s.activeInput = -1;
    WriteLogTextUtf16(u"完了しました\n");
    return 0;
}

int EndTextInputSystem() {
    DeleteAllLineInputs();
    FreeCandidateList();
    return ReleaseTextServicesSink();
}

int ReleaseTextServicesSink() {
    TextInputSystemState& s = TextInputSystem;
    if (s.sink) {
        s.sink->Release();
        s.sink = nullptr;
    }
    return 0;
}

HandleValue CreateLineInputHandle(int maximumLength, int cancelAllowed, int singleByteOnly,
                                  int numbersOnly, int doubleByteOnly, int multiLine) {
    TextInputSystemState& s = TextInputSystem;
    if (maximumLength <= 0 || maximumLength > (1 << 24)) return -1;
    int slot = 0;
    while (slot < kLineInputSlots && s.inputs[slot].inUse) ++slot;
    if (slot == kLineInputSlots) return -1;
    // The scratch holds the narrow form of any text the input accepts: up to three bytes a
    // UTF-16 unit (UTF-8), four for a pair, and the terminator.
    int scratchSize = maximumLength * 3 + 4;
    std::size_t bytes = static_cast<std::size_t>(maximumLength + 1) * 2 + scratchSize;
    void* block = AllocateTrackedMemoryZeroed(bytes, kSourceFile, __LINE__);
    if (!block) return -1;
    LineInputRecord& r = s.inputs[slot];
    r = LineInputRecord{};
    r.inUse = 1;
    r.checkCount = s.checkCounter;
    s.checkCounter = s.checkCounter >= 254 ? 0 : s.checkCounter + 1;
    r.maximumLength = maximumLength;
    r.selectionStart = -1;
    r.text = static_cast<char16_t*>(block);
    r.scratch = static_cast<char*>(block) + static_cast<std::size_t>(maximumLength + 1) * 2;
    r.scratchSize = scratchSize;
    r.cancelAllowed = cancelAllowed;
    r.singleByteOnly = singleByteOnly;
    r.numbersOnly = numbersOnly;
    r.doubleByteOnly = doubleByteOnly;
    r.multiLine = multiLine;
    s.imeAllowedByInput = singleByteOnly ? 0 : 1;
    RefreshImeState(0);
    ClearTypedCharacters();
    return MakeHandle(slot, r.checkCount);
}

int CheckLineInputState(HandleValue handle) {
    LineInputRecord* r = FindLineInput(handle);
    if (!r) return -1;
    if (r->cancelled) return 2;
    return r->finished ? 1 : 0;
}

int DeleteLineInputHandle(HandleValue handle) {
    TextInputSystemState& s = TextInputSystem;
    LineInputRecord* r = FindLineInput(handle);
    if (!r) return -1;
    if (r->text) FreeTrackedMemory(r->text);
    *r = LineInputRecord{};
    if (s.activeInput == handle) s.activeInput = -1;
    bool any = false;
    for (const LineInputRecord& x : s.inputs) any = any || x.inUse;
    if (!any) {
        s.imeAllowedByInput = 0;
        RefreshImeState(0);
    }
    return 0;
}

int DeleteAllLineInputs() {
    TextInputSystemState& s = TextInputSystem;
    for (int i = 0; i < kLineInputSlots; ++i)
        if (s.inputs[i].inUse) DeleteLineInputHandle(MakeHandle(i, s.inputs[i].checkCount));
    s.activeInput = -1;
    return 0;
}

int ActivateLineInput(HandleValue handle) {
    TextInputSystemState& s = TextInputSystem;
    LineInputRecord* r = nullptr;
    if (handle >= 0) {
        r = FindLineInput(handle);
        if (!r) return -1;
        if (handle == s.activeInput && !r->finished) return 0;
    }
    if (s.activeInput != -1) {
        LineInputRecord* old = FindLineInput(s.activeInput);
        if (!old) return -1;
        old->selectionStart = -1;
    }
    if (!r) {
        s.activeInput = -1;
        s.imeAllowedByInput = 0;
        RefreshImeState(0);
        return 0;
    }
    ClearTypedCharacters();
    s.activeInput = handle;
    r->finished = r->cancelled = 0;
    s.imeAllowedByInput = r->singleByteOnly ? 0 : 1;
    RefreshImeState(0);
    return 0;
}

int GetLineInputText(char* buffer, std::size_t bufferBytes, HandleValue handle) {
    LineInputRecord* r = FindLineInput(handle);
    if (!r || !buffer || bufferBytes == 0) return -1;
    int bytes = static_cast<int>(std::min<std::size_t>(bufferBytes, 0x7FFFFFFF));
    int unit = std::max(1, UnitBytesOfCharCode(NarrowEncoding));
    if (bytes < unit) {
        buffer[0] = 0;
        return 0;
    }
    if (TranscodeString(r->text, r->length, CharEncoding::Utf16Le, buffer, bytes, NarrowEncoding) <=
        0)
        std::memset(buffer, 0, unit);
    return 0;
}

int SetLineInputText(const char* text, HandleValue handle) {
    if (!FindLineInput(handle) || !text) return -1;
    int needed = TranscodeString(text, -1, NarrowEncoding, nullptr, 0, CharEncoding::Utf16Le);
    if (needed <= 0) return -1;
    std::vector<char16_t> wide(static_cast<std::size_t>(needed) / 2 + 2, 0);
    TranscodeString(text, -1, NarrowEncoding, wide.data(), static_cast<int>(wide.size() * 2),
                    CharEncoding::Utf16Le);
    return SetLineInputTextWide(wide.data(), handle);
}

int SetLineInputTextWide(const char16_t* text, HandleValue handle) {
    LineInputRecord* r = FindLineInput(handle);
    if (!r || !text) return -1;
    int n = 0;
    while (n < r->maximumLength && text[n]) ++n;
    std::memcpy(r->text, text, n * sizeof(char16_t));
    r->text[n] = 0;
    r->length = n;
    r->cursor = n;
    r->selectionStart = -1;
    if (r->firstShown > n) r->firstShown = n;
    return 0;
}

int SetLineInputColors(const std::int64_t c[17]) {
    TextInputSystemState& s = TextInputSystem;
    auto given = [&](int p) { return c[p - 1] != -1; };
    auto value = [&](int p) { return static_cast<std::uint32_t>(c[p - 1]); };
    auto set = [&](int colour, int p) {
        if (given(p)) s.colours[colour] = value(p);
    };
    set(0, 1);
    set(1, 8);
    set(2, 2);
    s.colours[3] = given(14) ? value(14) : ComposeScreenColor(0, 0, 0);
    s.colours[4] = given(15) ? value(15) : ComposeScreenColor(128, 128, 128);
    s.colours[5] = given(13) ? value(13) : ComposeScreenColor(255, 255, 255);
    set(6, 16);
    if (given(17)) {
        s.colours[7] = value(17);
        s.compositionEdgeSwitch = 1;
    }
    set(8, 3);
    set(9, 4);
    set(10, 5);
    set(13, 6);
    set(14, 1);
    set(15, 8);
    set(16, 6);
    set(17, 9);
    if (given(11)) {
        s.colours[19] = value(11);
    } else if (given(3)) {
        s.colours[19] = value(3);
    }
    s.colours[20] = given(12) ? value(12) : ComposeScreenColor(0, 0, 0);
    set(21, 7);
    set(22, 10);
    return 0;
}

int EnableImeInput(int flag) {
    TextInputSystem.imeRequested = flag;
    RefreshImeState(0);
    return 0;
}

int RefreshImeState(int force) {
    TextInputSystemState& s = TextInputSystem;
    int wanted = (s.imeRequested || s.imeAllowedByInput) ? 1 : 0;
    if (wanted == s.imeEnabled && !force) return 0;
    if (SystemApi.WINNLSEnableIME && MainHwnd()) SystemApi.WINNLSEnableIME(MainHwnd(), wanted);
    s.imeEnabled = wanted;
    if (SystemApi.ImmAssociateContext && MainHwnd()) {
        auto associate = Imm<ImmAssociateContextFn>(SystemApi.ImmAssociateContext);
        if (!wanted) {
            HANDLE old = associate(MainHwnd(), nullptr);
            if (old) s.savedInputContext = old;
        } else if (s.savedInputContext) {
            associate(MainHwnd(), s.savedInputContext);
        }
    }
    if (!wanted) {
        FreeCandidateList();
        s.composition[0] = 0;
        s.composing = 0;
    }
    return 0;
}

int QueueTypedCharacter(char16_t unit) {
    TextInputSystemState& s = TextInputSystem;
    int next = (s.queueWrite + 1) % kTypedQueueSize;
    if (next == s.queueRead) return -1;
    s.typedQueue[s.queueWrite] = unit;
    s.queueWrite = next;
    return 0;
}

bool IsTypedQueueFull() {
    const TextInputSystemState& s = TextInputSystem;
    return (s.queueWrite + 1) % kTypedQueueSize == s.queueRead;
}

int TakeTypedCharacter(char16_t out[2], int take) {
    TextInputSystemState& s = TextInputSystem;
    if (s.queueRead == s.queueWrite) return 0;
    char16_t first = s.typedQueue[s.queueRead];
    int count = 1;
    if (IsHighSurrogate(first) && !IsKeyControlCode(first)) {
        int second = (s.queueRead + 1) % kTypedQueueSize;
        if (second == s.queueWrite) return 0;
        out[1] = s.typedQueue[second];
        count = 2;
    }
    out[0] = first;
    if (take) s.queueRead = (s.queueRead + count) % kTypedQueueSize;
    return count;
}

int ClearTypedCharacters() {
    TextInputSystemState& s = TextInputSystem;
    if (MainHwnd()) PumpMessagesUnlocked();
    s.queueRead = s.queueWrite = 0;
    if (MainHwnd() && s.imeEnabled && s.imeOpen) {
        s.composition[0] = 0;
        HANDLE context = GetInputContext();
        CancelImeComposition(context);
        ReleaseInputContext(context);
    }
    return 0;
}

// ---- Editing ----------------------------------------------------------------------------------

int GetWideUnitRole(const char16_t* text, int position) {
    int i = 0;
    while (text[i]) {
        int n = IsHighSurrogate(text[i]) && text[i + 1] ? 2 : 1;
        if (position < i + n) return n == 1 ? 0 : (position == i ? 1 : 2);
        i += n;
    }
    return -1;
}

int DeleteLineInputSelection(LineInputRecord* record) {
    LineInputRecord& r = *record;
    if (r.selectionStart == -1) return 0;
    int lo = std::clamp(std::min(r.selectionStart, r.selectionEnd), 0, r.length);
    int hi = std::clamp(std::max(r.selectionStart, r.selectionEnd), 0, r.length);
    RemoveUnits(r, lo, hi - lo);
    r.cursor = lo;
    r.selectionStart = -1;
    if (r.firstShown > r.length) r.firstShown = r.length;
    return 0;
}

int ProcessLineInputKeys() {
    TextInputSystemState& s = TextInputSystem;
    if (s.imeResyncStep != 0) ResyncIme();
    if (s.activeInput == -1) return 0;
    LineInputRecord* rp = FindLineInput(s.activeInput);
    if (!rp) return -1;
    LineInputRecord& r = *rp;
    while (!r.finished) {
        char16_t c[2] = {0, 0};
        int n = TakeTypedCharacter(c, 1);
        if (n == 0) break;
        int old = r.cursor;
        switch (c[0]) {
            case 0x1D:  // Left
                if (r.cursor > 0) {
                    r.cursor -= StepBack(r, r.cursor);
                    MoveSelection(r, old, ShiftDown());
                    if (r.text[r.cursor] == 10 && r.cursor <= r.firstShown)
                        r.firstShown = LineStart(r, r.cursor);
                }
                break;
            case 0x1C:  // Right
                if (r.cursor < r.length) {
                    r.cursor += StepForward(r, r.cursor);
                    MoveSelection(r, old, ShiftDown());
                }
                break;
            case 0x1E:
                MoveUp(r, ShiftDown());
                break;
            case 0x1F:
                MoveDown(r, ShiftDown());
                break;
            case 0x1A:  // Home
                if (CtrlDown()) {
                    r.cursor = 0;
                    MoveSelection(r, old, ShiftDown());
                } else if (r.cursor > 0) {
                    r.cursor = LineStart(r, r.cursor);
                    MoveSelection(r, old, ShiftDown());
                }
                break;
            case 0x19:  // End
                if (CtrlDown()) {
                    r.cursor = r.length;
                } else {
                    while (r.cursor < r.length && r.text[r.cursor] != 10) ++r.cursor;
                }
                MoveSelection(r, old, ShiftDown());
                break;
            case 8:  // Backspace
                if (r.selectionStart != -1) {
                    DeleteLineInputSelection(&r);
                } else if (r.cursor > 0) {
                    int step = StepBack(r, r.cursor);
                    bool lineBreak = r.text[r.cursor - step] == 10;
                    RemoveUnits(r, r.cursor - step, step);
                    r.cursor -= step;
                    if (lineBreak && r.cursor <= r.firstShown)
                        r.firstShown = LineStart(r, r.cursor);
                }
                break;
            case 0x10:  // Delete
                if (r.selectionStart == -1) {
                    if (r.cursor < r.length) RemoveUnits(r, r.cursor, StepForward(r, r.cursor));
                } else {
                    if (ShiftDown()) CopySelection(r);
                    DeleteLineInputSelection(&r);
                }
                break;
            case 3:  // Ctrl+C
                CopySelection(r);
                break;
            case 0x18:  // Ctrl+X
                if (CopySelection(r)) DeleteLineInputSelection(&r);
                break;
            case 0x16:  // Ctrl+V
                Paste(r);
                break;
            case 9:
                break;
            case 13:
                if (r.multiLine) {
                    const char16_t lf = 10;
                    InsertCharacter(r, &lf, 1);
                } else {
                    r.finished = 1;
                    s.activeInput = -1;
                }
                break;
            case 0x1B:
                if (r.cancelAllowed) {
                    r.finished = r.cancelled = 1;
                    s.activeInput = -1;
                }
                break;
            default:
                InsertCharacter(r, c, n);
                break;
        }
    }
    return 0;
}

// ---- Drawing ----------------------------------------------------------------------------------

namespace {

struct RunStyle {
    int scaled;
    double sx, sy;
    int lineHeight, h;
    HandleValue font;
    std::uint32_t colour, edge, selectionBack, selectedColour, selectedEdge;
    bool hasSelection;
    int selectionStart, selectionEnd;  // relative to the run's text
};

void StartPoint(const RECT& area, int x, int y, int lineHeight, int* x0, int* y0) {
    *x0 = std::max(x, static_cast<int>(area.left));
    *y0 = std::max(y, static_cast<int>(area.top));
    int width = area.right - area.left;
    if (width <= 0) return;
    while (*x0 > area.right) {
        *x0 -= width;
        *y0 += lineHeight;
    }
}

int CharWidth(const RunStyle& st, const char16_t* c, int units) {
    return st.scaled ? MeasureTextWidthScaledWide(st.sx, c, units, -1, st.font, 0)
                     : MeasureTextWidthWide(c, units, -1, st.font, 0);
}

void DrawChar(const RunStyle& st, int x, int y, const char16_t* c, int units, std::uint32_t colour,
              std::uint32_t edge) {
    if (st.scaled)
        DrawTextScaledAtIntWide(x, y, st.sx, st.sy, c, units, colour, st.font, edge, 0);
    else
        DrawTextWithFontWide(x, y, c, units, colour, st.font, edge, 0);
}

void DrawLineInputRun(int x, int y, const RunStyle& st, const char16_t* text, int count, int draw,
                      int* endX, int* endY) {
    RECT area{};
    GetDrawClipRect(&area);
    if (area.right <= area.left || area.bottom <= area.top) {
        *endX = *endY = 0;
        return;
    }
    int x0, y0;
    StartPoint(area, x, y, st.lineHeight, &x0, &y0);
    if (count < 0) {
        count = 0;
        while (text[count]) ++count;
    }
    int lo = std::min(st.selectionStart, st.selectionEnd);
    int hi = std::max(st.selectionStart, st.selectionEnd);
    int cx = x0, cy = y0;
    for (int i = 0; i < count;) {
        int n = IsHighSurrogate(text[i]) && i + 1 < count ? 2 : 1;
        if (text[i] == 10) {
            cx = x0;
            cy += st.lineHeight;
            i += n;
            continue;
        }
        int w = CharWidth(st, text + i, n);
        if (cx + w > area.right) {
            cx = x0;
            cy += st.lineHeight;
        }
        if (draw) {
            if (st.hasSelection && i >= lo && i < hi) {
                PaintRectangle(cx, cy, cx + w, cy + st.h, st.selectionBack, 1);
                DrawChar(st, cx, cy, text + i, n, st.selectedColour, st.selectedEdge);
            } else {
                DrawChar(st, cx, cy, text + i, n, st.colour, st.edge);
            }
        }
        cx += w;
        i += n;
    }
    *endX = cx;
    *endY = cy;
}

void DrawWrappedBox(int x1, int y1, int x2, int y2, int lineHeight, std::uint32_t colour,
                    int fill) {
    RECT area{};
    GetDrawClipRect(&area);
    if (area.right <= area.left) return;
    int x, y;
    StartPoint(area, x1, y1, lineHeight, &x, &y);
    int remaining = x2 - x1, height = y2 - y1;
    while (remaining > 0) {
        int part = std::min(remaining, static_cast<int>(area.right) - x);
        if (part <= 0) {
            x = area.left;
            y += lineHeight;
            continue;
        }
        PaintRectangle(x, y, x + part, y + height, colour, fill);
        remaining -= part;
        x = area.left;
        y += lineHeight;
    }
}

}  // namespace

int DrawLineInput(int x, int y, HandleValue handle, int showCandidates) {
    return DrawLineInputScaled(x, y, 0, 1.0, 1.0, handle, showCandidates);
}

int DrawLineInputScaled(int x, int y, int scaled, double sx, double sy, HandleValue handle,
                        int showCandidates) {
    TextInputSystemState& s = TextInputSystem;
    LineInputRecord* rp = FindLineInput(handle);
    if (!rp || rp->finished) return -1;
    LineInputRecord& r = *rp;
    RunStyle st{};
    st.font = ObtainDefaultFont();
    int size = QueryFontSize(st.font);
    if (size < 0) size = 0;
    st.h = scaled ? static_cast<int>(size * sy) : size;
    st.lineHeight = st.h + 3 * (st.h / 10);
    st.scaled = scaled;
    st.sx = sx;
    st.sy = sy;
    RECT area{};
    GetDrawClipRect(&area);
    if (area.right <= area.left || area.bottom <= area.top) return -1;
    int x0, y0;
    StartPoint(area, x, y, st.lineHeight, &x0, &y0);
    int visible = st.lineHeight > 0 ? (area.bottom - y0) / st.lineHeight : 1;
    if (visible == 0) visible = 1;
    int ex, ey;
    DrawLineInputRun(x, y, st, r.text, r.length, 0, &ex, &ey);
    // A text whose last line is within the area fits (also in an area of exactly one line).
    if (ey <= area.bottom - st.lineHeight) {
        r.firstShown = 0;
    } else if (r.firstShown > r.cursor) {
        r.firstShown = r.cursor;
    } else {
        DrawLineInputRun(x, y, st, r.text + r.firstShown, r.cursor - r.firstShown, 0, &ex, &ey);
        auto outOfView = [&] { return visible == 1 ? ey != y0 : ey > area.bottom - st.lineHeight; };
        while (r.firstShown < r.cursor && outOfView()) {
            r.firstShown += StepForward(r, r.firstShown);
            DrawLineInputRun(x, y, st, r.text + r.firstShown, r.cursor - r.firstShown, 0, &ex, &ey);
        }
    }
    int cx, cy;
    DrawLineInputRun(x, y, st, r.text + r.firstShown, r.cursor - r.firstShown, 0, &cx, &cy);
    bool active = s.activeInput == handle;
    if (active) DrawWrappedBox(cx, cy, cx + 2, cy + st.h, st.lineHeight, s.colours[2], 1);
    st.colour = s.colours[0];
    st.edge = s.colours[1];
    st.selectionBack = s.colours[5];
    st.selectedColour = s.colours[3];
    st.selectedEdge = s.colours[4];
    if (r.selectionStart != -1) {
        st.hasSelection = true;
        st.selectionStart = r.selectionStart - r.firstShown;
        st.selectionEnd = r.selectionEnd - r.firstShown;
    }
    DrawLineInputRun(x, y, st, r.text + r.firstShown, r.length - r.firstShown, 1, &ex, &ey);
    if (active) DrawImeComposition(cx, cy, scaled, sx, sy, 5, showCandidates);
    return 0;
}

}  // namespace ZiDaz
