// The IME side of the text-entry module: the composition, its clauses and the candidate lists
// reach the module through the IME's window messages or the text-services sink, and the module
// draws the composition at the line input's cursor with its own candidate window.
#include <algorithm>
#include <cstring>
#include <vector>

#include "Main/DuRadudAvuvur.h"
#include "Main/DxCharFormat.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DuRadudAvuvurIme";
constexpr int kCandidateHeader = 24;

char16_t gCandidateText[2048];
int gOpenStatusBusy = 0;

using ImmGetContextFn = HANDLE (*)(HWND);
using ImmReleaseContextFn = BOOL (*)(HWND, HANDLE);
using ImmGetOpenStatusFn = BOOL (*)(HANDLE);
using ImmNotifyImeFn = BOOL (*)(HANDLE, DWORD, DWORD, DWORD);
using ImmGetCompositionStringFn = LONG (*)(HANDLE, DWORD, void*, DWORD);
using ImmSetCompositionStringFn = BOOL (*)(HANDLE, DWORD, void*, DWORD, void*, DWORD);
using ImmGetCandidateListFn = DWORD (*)(HANDLE, DWORD, void*, DWORD);

template <typename F>
F Imm(FARPROC p) {
    return reinterpret_cast<F>(p);
}

HANDLE GetInputContext(HWND window) {
    if (!SystemApi.ImmGetContext || !window) return nullptr;
    return Imm<ImmGetContextFn>(SystemApi.ImmGetContext)(window);
}

void ReleaseInputContext(HWND window, HANDLE context) {
    if (context && SystemApi.ImmReleaseContext)
        Imm<ImmReleaseContextFn>(SystemApi.ImmReleaseContext)(window, context);
}

LONG GetCompositionString(HANDLE context, LPARAM which, void* buffer, DWORD bytes) {
    if (!context || !SystemApi.ImmGetCompositionStringW) return 0;
    return Imm<ImmGetCompositionStringFn>(SystemApi.ImmGetCompositionStringW)(
        context, static_cast<DWORD>(which), buffer, bytes);
}

void FreeCandidateList() {
    TextInputSystemState& s = TextInputSystem;
    if (s.candidateList) FreeTrackedMemory(s.candidateList);
    s.candidateList = nullptr;
    s.candidateListSize = 0;
}

DWORD ListWord(const std::uint8_t* list, int index) {
    DWORD v;
    std::memcpy(&v, list + index * 4, 4);
    return v;
}

void ReadCompositionString(HANDLE context) {
    TextInputSystemState& s = TextInputSystem;
    std::memset(s.composition, 0, sizeof s.composition);
    GetCompositionString(context, GCS_COMPSTR, s.composition, 1024);
}

LRESULT HandleComposition(HWND window, LPARAM flags) {
    TextInputSystemState& s = TextInputSystem;
    HANDLE context = GetInputContext(window);
    if (flags & GCS_COMPSTR) ReadCompositionString(context);
    if (flags & GCS_RESULTSTR) {
        std::memset(s.composition, 0, sizeof s.composition);
        GetCompositionString(context, GCS_RESULTSTR, s.composition, 1024);
        for (const char16_t* p = s.composition; *p; ++p) QueueTypedCharacter(*p);
        ReadCompositionString(context);
        FreeCandidateList();
    }
    if (flags & GCS_CURSORPOS) {
        LONG units = GetCompositionString(context, GCS_CURSORPOS, nullptr, 0);
        int cursor = CountCharsInUnits(s.composition, std::clamp<LONG>(units, 0, 1024));
        if (s.candidateList && cursor != s.compositionCursor) FreeCandidateList();
        s.compositionCursor = cursor;
    }
    if (flags & GCS_COMPCLAUSE) {
        LONG bytes = GetCompositionString(context, GCS_COMPCLAUSE, s.clauseOffsets, 4096);
        s.clauseCount = std::clamp<LONG>(bytes, 0, 4096) / 4;
    }
    if (flags & GCS_COMPATTR) {
        LONG bytes = GetCompositionString(context, GCS_COMPATTR, s.attributes, 1024);
        s.attributeCount = std::clamp<LONG>(bytes, 0, 1024);
    }
    ReleaseInputContext(window, context);
    return 0;
}

void ReadCandidateListFromIme(HWND window) {
    TextInputSystemState& s = TextInputSystem;
    HANDLE context = GetInputContext(window);
    auto get = SystemApi.ImmGetCandidateListW
                   ? Imm<ImmGetCandidateListFn>(SystemApi.ImmGetCandidateListW)
                   : nullptr;
    DWORD size = get && context ? get(context, 0, nullptr, 0) : 0;
    if (size != 0) {
        FreeCandidateList();
        auto* block =
            static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(size, kSourceFile, __LINE__));
        if (!block) {
            // Without the memory the composition goes on without a candidate window.
            WriteLogFormatUtf16(
                u"漢字変換候補を保存するメモリの確保に失敗しました( "
                u"確保しようとしたサイズ %d バイト )\n",
                static_cast<int>(size));
        } else {
            s.candidateList = block;
            s.candidateListSize = static_cast<int>(size);
            if (get(context, 0, block, size) == 0) {
                FreeCandidateList();
                WriteLogFormatUtf16(u"漢字変換候補の取得に失敗しました  BufSize:%d\n",
                                    static_cast<int>(size));
            }
        }
    }
    ReleaseInputContext(window, context);
}

LRESULT HandleReconvert(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TextInputSystemState& s = TextInputSystem;
    LineInputRecord* r = s.activeInput != -1 ? FindLineInput(s.activeInput) : nullptr;
    if (wParam != IMR_RECONVERTSTRING || !r) {
        WinDefWindowProc(window, message, wParam, lParam);
        return 0;
    }
    bool selected = r->selectionStart != -1;
    int lo = selected ? std::min(r->selectionStart, r->selectionEnd) : 0;
    int hi = selected ? std::max(r->selectionStart, r->selectionEnd) : r->length;
    int n = hi - lo;
    if (lParam == 0) return n * 2 + 34;
    auto* block = reinterpret_cast<std::uint8_t*>(lParam);
    // The asker sized its block by the first answer; a selection changed since then must not
    // write past it.
    DWORD given;
    std::memcpy(&given, block, 4);
    if (given < static_cast<DWORD>(n * 2 + 34)) return 0;
    DWORD words[8] = {static_cast<DWORD>(n * 2 + 34),
                      0,
                      static_cast<DWORD>(n),
                      32,
                      static_cast<DWORD>(n),
                      selected ? 0u : static_cast<DWORD>(r->cursor * 2),
                      0,
                      0};
    std::memcpy(block, words, sizeof words);
    std::memcpy(block + 32, r->text + lo, n * 2);
    std::memset(block + 32 + n * 2, 0, 2);
    HANDLE context = GetInputContext(window);
    if (!context) return 0;
    if (SystemApi.ImmSetCompositionStringW) {
        auto set = Imm<ImmSetCompositionStringFn>(SystemApi.ImmSetCompositionStringW);
        DWORD size = words[0];
        set(context, SCS_QUERYRECONVERTSTRING, block, size, nullptr, 0);
        if (set(context, SCS_SETRECONVERTSTRING, block, size, nullptr, 0)) {
            if (!selected) {
                DWORD offset, length;
                std::memcpy(&offset, block + 20, 4);
                std::memcpy(&length, block + 16, 4);
                r->selectionStart = static_cast<int>(offset / 2);
                r->selectionEnd = r->selectionStart + static_cast<int>(length);
                r->cursor = r->selectionStart;
            }
            DeleteLineInputSelection(r);
        }
    }
    ReleaseInputContext(window, context);
    return 0;
}

}  // namespace

bool IsImeOpenForInput() {
    return TextInputSystem.imeEnabled && TextInputSystem.imeOpen;
}

void RequestImeResync() {
    if (IsImeOpenForInput()) TextInputSystem.imeResyncStep = 1;
}

int CountCharsInUnits(const char16_t* text, int units) {
    int chars = 0;
    for (int i = 0; i < units && text[i];) {
        i += (text[i] & 0xFC00) == 0xD800 && text[i + 1] && i + 1 < units ? 2 : 1;
        ++chars;
    }
    return chars;
}

LRESULT ReadImeCandidateList(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TextInputSystemState& s = TextInputSystem;
    switch (message) {
        case WM_IME_STARTCOMPOSITION:
            s.compositionCursor = 0;
            s.composing = 1;
            return 0;
        case WM_IME_ENDCOMPOSITION:
            s.composition[0] = 0;
            s.composing = 0;
            return 0;
        case WM_IME_COMPOSITION:
            return HandleComposition(window, lParam);
        case WM_IME_SETCONTEXT:
            return WinDefWindowProc(window, message, wParam, 0);
        case WM_IME_NOTIFY:
            switch (wParam) {
                case IMN_CHANGECANDIDATE:
                case IMN_OPENCANDIDATE:
                case IMN_SETCANDIDATEPOS:
                    if (!s.threadManager) ReadCandidateListFromIme(window);
                    return 0;
                case IMN_CLOSECANDIDATE:
                    FreeCandidateList();
                    return 0;
                case IMN_SETOPENSTATUS:
                    if (!gOpenStatusBusy) {
                        gOpenStatusBusy = 1;
                        WinDefWindowProc(window, message, wParam, lParam);
                        std::int64_t start = ReadMicrosecondClock();
                        while (ReadMicrosecondClock() - start < 2000) {
                            if (PumpMessagesUnlocked() != 0) break;
                        }
                        gOpenStatusBusy = 0;
                        HANDLE context = GetInputContext(window);
                        s.imeOpen = context && SystemApi.ImmGetOpenStatus
                                        ? Imm<ImmGetOpenStatusFn>(SystemApi.ImmGetOpenStatus)(
                                              context) != FALSE
                                        : 0;
                        ReleaseInputContext(window, context);
                    }
                    return 0;
                default:
                    return WinDefWindowProc(window, message, wParam, lParam);
            }
        case WM_IME_REQUEST:
            return HandleReconvert(window, message, wParam, lParam);
        default:
            return WinDefWindowProc(window, message, wParam, lParam);
    }
}

int ReadCandidateListElement(CandidateListElement* element) {
    TextInputSystemState& s = TextInputSystem;
    FreeCandidateList();
    UINT selection = 0, count = 0;
    bool ok =
        element->GetSelection(&selection) >= 0 && element->GetCount(&count) >= 0 && count != 0;
    std::vector<std::u16string> strings;
    std::size_t size = kCandidateHeader;
    if (ok) {
        for (UINT i = 0; i < count; ++i) {
            char16_t* text = nullptr;
            std::u16string value;
            if (element->GetString(i, &text) >= 0 && text) {
                value = text;
                element->FreeString(text);
            }
            size += 4 + 2 * (value.size() + 1);
            strings.push_back(std::move(value));
        }
    } else {
        count = selection = 0;
    }
    auto* block =
        static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(size, kSourceFile, __LINE__));
    if (!block) {
        WriteLogFormatUtf16(
            u"漢字変換候補を保存するメモリの確保に失敗しました( "
            u"確保しようとしたサイズ %d バイト )\n",
            static_cast<int>(size));
        return -1;
    }
    DWORD header[6] = {static_cast<DWORD>(size), 0, count, selection, 0, 0};
    std::memcpy(block, header, sizeof header);
    std::size_t at = kCandidateHeader + 4 * static_cast<std::size_t>(count);
    for (UINT i = 0; i < count; ++i) {
        DWORD offset = static_cast<DWORD>(at);
        std::memcpy(block + kCandidateHeader + 4 * i, &offset, 4);
        std::memcpy(block + at, strings[i].c_str(), 2 * (strings[i].size() + 1));
        at += 2 * (strings[i].size() + 1);
    }
    s.candidateList = block;
    s.candidateListSize = static_cast<int>(size);
    return 0;
}

// ---- The text-services sink ----

ULONG DE_DUDedivavAzid::AddRef() {
    return static_cast<ULONG>(++referenceCount);
}

ULONG DE_DUDedivavAzid::Release() {
    int left = --referenceCount;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT DE_DUDedivavAzid::BeginUIElement(DWORD id, BOOL* show) {
    bool candidates = false;
    CandidateListElement* element = lookup_ ? lookup_(id, &candidates) : nullptr;
    if (!element) return static_cast<HRESULT>(0x80070057);  // E_INVALIDARG
    if (show) *show = FALSE;
    if (candidates) {
        ++TextInputSystem.openCandidateElements;
        ReadCandidateListElement(element);
    }
    return 0;
}

HRESULT DE_DUDedivavAzid::UpdateUIElement(DWORD id) {
    bool candidates = false;
    CandidateListElement* element = lookup_ ? lookup_(id, &candidates) : nullptr;
    if (!element) return static_cast<HRESULT>(0x80070057);
    if (candidates) ReadCandidateListElement(element);
    return 0;
}

HRESULT DE_DUDedivavAzid::EndUIElement(DWORD id) {
    bool candidates = false;
    CandidateListElement* element = lookup_ ? lookup_(id, &candidates) : nullptr;
    if (!element) return static_cast<HRESULT>(0x80070057);
    if (candidates && --TextInputSystem.openCandidateElements <= 0) {
        TextInputSystem.openCandidateElements = 0;
        FreeCandidateList();
    }
    return 0;
}

// ---- Drawing the composition ----

namespace {

struct Segment {
    int x, y;
    char16_t units[3];
    int count;
    int converting;
    int width;
    int unitIndex;
    int line;
};

}  // namespace

bool LayOutCandidateWindow(int kx, int ky, int y, int h, const RECT& area, int perPage, int scaled,
                           double sx, CandidateWindowLayout* out) {
    TextInputSystemState& s = TextInputSystem;
    if (!s.candidateList || s.candidateListSize < kCandidateHeader) return false;
    const std::uint8_t* list = s.candidateList;
    int count = static_cast<int>(std::min<DWORD>(ListWord(list, 2), 0x7FFFFFFF));
    int selection = static_cast<int>(std::min<DWORD>(ListWord(list, 3), 0x7FFFFFFF));
    // A count the block cannot hold is cut to the offsets it has.
    if (kCandidateHeader + 4 * static_cast<std::int64_t>(count) > s.candidateListSize)
        count = (s.candidateListSize - kCandidateHeader) / 4;
    if (count <= 0) return false;
    HandleValue font = ObtainDefaultFont();
    int p = std::max(1, perPage);
    int m = 2 * (h / 3);
    if (h > 0 && (p + 1) * h + m > area.bottom - area.top)
        p = std::max(1, (static_cast<int>(area.bottom) - m - static_cast<int>(area.top)) / h - 1);
    int pageStart = selection - selection % p;
    out->lines.clear();
    bool anyText = false;
    for (int i = pageStart; i < count && i < pageStart + p; ++i) {
        DWORD offset = ListWord(list, 6 + i);
        std::u16string candidate;
        if (offset >= kCandidateHeader && offset < static_cast<DWORD>(s.candidateListSize)) {
            const std::uint8_t* at = list + offset;
            const std::uint8_t* end = list + s.candidateListSize;
            while (at + 1 < end && (at[0] | at[1]) && candidate.size() < 1000) {
                candidate.push_back(static_cast<char16_t>(at[0] | (at[1] << 8)));
                at += 2;
            }
        }
        if (!candidate.empty()) anyText = true;
        FormatWideString(gCandidateText, 2048, u"%d:%s", i - pageStart + 1, candidate.c_str());
        out->lines.emplace_back(gCandidateText);
    }
    if (!anyText) return false;
    FormatWideString(gCandidateText, 2048, u"%d/%d", selection + 1, count);
    out->counter = gCandidateText;
    auto measure = [&](const std::u16string& t) {
        return scaled ? MeasureTextWidthScaledWide(sx, t.c_str(), static_cast<int>(t.size()), -1,
                                                   font, 0)
                      : MeasureTextWidthWide(t.c_str(), static_cast<int>(t.size()), -1, font, 0);
    };
    out->counterWidth = measure(out->counter);
    out->widest = out->counterWidth;
    for (const auto& l : out->lines) out->widest = std::max(out->widest, measure(l));
    int listed = static_cast<int>(out->lines.size());
    int left = kx, top = ky + h + h / 2;
    int right = left + m + out->widest, bottom = top + (listed + 1) * h + m;
    if (bottom > area.bottom) {
        int boxHeight = bottom - top;
        if (y - (listed + 1) * h - h / 2 - m < area.top) {
            top -= bottom - area.bottom;
            bottom = area.bottom;
        } else {
            bottom = y - h / 2;
            top = bottom - boxHeight;
        }
    }
    if (right > area.right) {
        left -= right - area.right;
        right = area.right;
    }
    out->box = RECT{left, top, right, bottom};
    out->pageSize = p;
    out->pageStart = pageStart;
    out->selection = selection;
    out->count = count;
    return true;
}

int DrawImeComposition(int x, int y, int scaled, double sx, double sy, int perPage, int show) {
    TextInputSystemState& s = TextInputSystem;
    if (!IsImeOpenForInput()) return -1;
    if (s.composition[0] == 0) return 0;
    HandleValue font = ObtainDefaultFont();
    int size = std::max(0, QueryFontSize(font));
    int h = scaled ? static_cast<int>(size * sy) : size;
    int lineHeight = h + 3 * (h / 10);
    int w0 = scaled ? static_cast<int>(size * sx) : size;
    RECT area{};
    GetDrawClipRect(&area);
    if (area.right <= area.left || area.bottom <= area.top) return 0;
    int px = std::max(x, static_cast<int>(area.left)), py = std::max(y, static_cast<int>(area.top));
    while (px > area.right) {
        px -= area.right - area.left;
        py += lineHeight;
    }
    // Lay out one segment per character, wrapping at the area's right edge.
    std::vector<Segment> segments;
    int line = 0;
    int units = 0;
    while (units < 1024 && s.composition[units]) ++units;
    for (int i = 0; i < units;) {
        int n = (s.composition[i] & 0xFC00) == 0xD800 && i + 1 < units ? 2 : 1;
        if (s.composition[i] == 10) {
            px = area.left;
            py += lineHeight;
            ++line;
            i += n;
            continue;
        }
        int w = scaled ? MeasureTextWidthScaledWide(sx, s.composition + i, n, -1, font, 0)
                       : MeasureTextWidthWide(s.composition + i, n, -1, font, 0);
        if (px + w > area.right) {
            px = area.left;
            py += lineHeight;
            ++line;
        }
        Segment g{};
        g.x = px;
        g.y = py;
        g.units[0] = s.composition[i];
        g.units[1] = n == 2 ? s.composition[i + 1] : 0;
        g.count = n;
        g.converting = i < s.attributeCount && s.attributes[i] == 1;
        g.width = w;
        g.unitIndex = i;
        g.line = line;
        segments.push_back(g);
        px += w;
        i += n;
    }
    for (const Segment& g : segments) {
        PaintRectangle(g.x, g.y, g.x + g.width, g.y + h, s.colours[g.converting ? 13 : 8], 1);
        std::uint32_t colour = s.colours[g.converting ? 11 : 6];
        std::uint32_t edge =
            g.converting ? s.colours[13] : s.colours[s.compositionEdgeSwitch ? 7 : 8];
        if (scaled)
            DrawTextScaledAtIntWide(g.x, g.y, sx, sy, g.units, g.count, colour, font, edge, 0);
        else
            DrawTextWithFontWide(g.x, g.y, g.units, g.count, colour, font, edge, 0);
    }
    int kx = px, ky = py;
    if (s.compositionCursor < static_cast<int>(segments.size())) {
        kx = segments[s.compositionCursor].x;
        ky = segments[s.compositionCursor].y;
    } else if (!segments.empty()) {
        kx = segments.back().x + segments.back().width;
        ky = segments.back().y;
    }
    if (s.candidateList) PaintRectangle(kx, ky, kx + 2, ky + h, s.colours[9], 1);
    // Clause underlines, only for clauses wider than the threshold.
    int threshold = 4 * std::max(1, w0 / 20);
    for (int c = 0; c + 1 < s.clauseCount; ++c) {
        int from = s.clauseOffsets[c], to = s.clauseOffsets[c + 1];
        int width = 0;
        for (const Segment& g : segments)
            if (g.unitIndex >= from && g.unitIndex < to) width += g.width;
        if (width <= threshold) continue;
        int thickness = h / 10;
        if (from >= 0 && from < s.attributeCount && s.attributes[from] == 1) thickness *= 2;
        for (int l = 0; l <= line; ++l) {
            int left = 0, right = 0, top = 0;
            bool any = false;
            for (const Segment& g : segments) {
                if (g.line != l || g.unitIndex < from || g.unitIndex >= to) continue;
                if (!any) left = g.x, top = g.y;
                right = g.x + g.width;
                any = true;
            }
            if (!any) continue;
            int barTop = top + h + h / 10;
            PaintRectangle(left, barTop, right, barTop + thickness, s.colours[10], 1);
        }
    }
    // The candidate window.
    CandidateWindowLayout layout;
    if (show && LayOutCandidateWindow(kx, ky, y, h, area, perPage, scaled, sx, &layout)) {
        const RECT& b = layout.box;
        PaintRectangle(b.left, b.top, b.right, b.bottom, s.colours[20], 1);
        PaintRectangle(b.left, b.top, b.right, b.bottom, s.colours[19], 0);
        auto draw = [&](int dx, int dy, const std::u16string& t, std::uint32_t c, std::uint32_t e) {
            if (scaled)
                DrawTextScaledAtIntWide(dx, dy, sx, sy, t.c_str(), static_cast<int>(t.size()), c,
                                        font, e, 0);
            else
                DrawTextWithFontWide(dx, dy, t.c_str(), static_cast<int>(t.size()), c, font, e, 0);
        };
        const int listed = static_cast<int>(layout.lines.size());
        for (int row = 0; row < listed; ++row) {
            bool isSelected = layout.pageStart + row == layout.selection;
            draw(b.left + h / 3, b.top + h / 3 + row * h, layout.lines[row],
                 s.colours[isSelected ? 16 : 14], s.colours[isSelected ? 17 : 15]);
        }
        draw(b.left + h / 3 + layout.widest - layout.counterWidth, b.top + h / 3 + listed * h,
             layout.counter, s.colours[14], s.colours[15]);
        HANDLE context = GetInputContext(MainWindow.mainWindow);
        if (context && SystemApi.ImmNotifyIME) {
            auto notify = Imm<ImmNotifyImeFn>(SystemApi.ImmNotifyIME);
            notify(context, NI_SETCANDIDATE_PAGESIZE, 0, static_cast<DWORD>(layout.pageSize));
            notify(context, NI_SETCANDIDATE_PAGESTART, 0, static_cast<DWORD>(layout.pageStart));
        }
        ReleaseInputContext(MainWindow.mainWindow, context);
    }
    return 0;
}

}  // namespace ZiDaz
