// imm32 over SDL text editing: the window's input context holds the composition that the
// system's input method reports, and the window procedure reads it through the usual queries.
#include "platform/Imm32.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "User32Internal.h"
#include "platform/Modules.h"

namespace platform::user32::detail {

struct Pending {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

void PostAll(HWND window, const std::vector<Pending>& posts) {
    for (const Pending& p : posts) Post(window, p.message, p.wParam, p.lParam);
}

// Under the lock: drops the composition, as a cancel does.
void DropCompositionLocked(Window& w, std::vector<Pending>& posts) {
    if (!w.composing) return;
    w.composing = false;
    w.composition.clear();
    w.compositionCursor = 0;
    posts.push_back({WM_IME_ENDCOMPOSITION, 0, 0});
}

void SetOpenLocked(Window& w, bool open, std::vector<Pending>& posts) {
    if (!open) DropCompositionLocked(w, posts);
    if (w.imeOpen == open) return;
    w.imeOpen = open;
    posts.push_back({WM_IME_NOTIFY, IMN_SETOPENSTATUS, 0});
}

// SDL counts the cursor in characters; the composition queries count UTF-16 units.
int UnitsOfChars(const std::u16string& text, int chars) {
    int units = 0;
    for (int c = 0; c < chars && units < static_cast<int>(text.size()); ++c)
        units +=
            (text[units] & 0xFC00) == 0xD800 && units + 1 < static_cast<int>(text.size()) ? 2 : 1;
    return units;
}

void ImeTextEditing(HWND window, const char* utf8, int start) {
    std::u16string text = FromUtf8(utf8 ? utf8 : "");
    std::vector<Pending> posts;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w || !w->imeEnabled || !w->imeAttached) return;
        if (text.empty()) {
            if (!w->composing) return;
            w->composition.clear();
            w->compositionCursor = 0;
            posts.push_back({WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_CURSORPOS});
            DropCompositionLocked(*w, posts);
        } else {
            SetOpenLocked(*w, true, posts);
            if (!w->composing) {
                w->composing = true;
                posts.push_back({WM_IME_STARTCOMPOSITION, 0, 0});
            }
            w->composition = text;
            w->compositionCursor = UnitsOfChars(text, std::max(0, start));
            posts.push_back({WM_IME_COMPOSITION, WPARAM{text.back()},
                             GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPCLAUSE | GCS_COMPATTR});
        }
    }
    PostAll(window, posts);
}

bool ImeCommit(HWND window, const std::u16string& text) {
    std::vector<Pending> posts;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w || !w->imeEnabled || !w->imeAttached || !w->imeOpen) return false;
        w->results.push_back(text);
        bool wasComposing = w->composing;
        w->composition.clear();
        w->compositionCursor = 0;
        posts.push_back({WM_IME_COMPOSITION, text.empty() ? WPARAM{0} : WPARAM{text.back()},
                         GCS_RESULTSTR | GCS_COMPSTR | GCS_CURSORPOS});
        if (wasComposing) DropCompositionLocked(*w, posts);
    }
    PostAll(window, posts);
    return true;
}

void ImeClose(HWND window) {
    std::vector<Pending> posts;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) return;
        SetOpenLocked(*w, false, posts);
    }
    PostAll(window, posts);
}

}  // namespace platform::user32::detail

namespace platform::imm32 {

using user32::detail::FindWindowLocked;
using user32::detail::Lock;
using user32::detail::Post;
using user32::detail::Window;

namespace {

HWND WindowOf(HIMC context) {
    return static_cast<HWND>(context);
}

LONG CopyOut(const std::u16string& text, void* buffer, DWORD bytes) {
    DWORD need = static_cast<DWORD>(text.size() * 2);
    if (buffer == nullptr || bytes == 0) return static_cast<LONG>(need);
    DWORD n = std::min(need, bytes) & ~1u;
    std::memcpy(buffer, text.data(), n);
    return static_cast<LONG>(n);
}

}  // namespace

HIMC ImmGetContext(HWND window) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(window);
    return w && w->imeAttached ? static_cast<HIMC>(window) : nullptr;
}

BOOL ImmReleaseContext(HWND window, HIMC context) {
    return window != nullptr && context != nullptr ? TRUE : FALSE;
}

HIMC ImmAssociateContext(HWND window, HIMC context) {
    std::vector<user32::detail::Pending> posts;
    HIMC previous = nullptr;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) return nullptr;
        previous = w->imeAttached ? static_cast<HIMC>(window) : nullptr;
        w->imeAttached = context != nullptr;
        if (!w->imeAttached) user32::detail::SetOpenLocked(*w, false, posts);
    }
    user32::detail::PostAll(window, posts);
    return previous;
}

BOOL ImmGetOpenStatus(HIMC context) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(WindowOf(context));
    return w && w->imeAttached && w->imeOpen ? TRUE : FALSE;
}

BOOL ImmSetOpenStatus(HIMC context, BOOL open) {
    std::vector<user32::detail::Pending> posts;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(WindowOf(context));
        if (!w || !w->imeAttached) return FALSE;
        user32::detail::SetOpenLocked(*w, open != FALSE, posts);
    }
    user32::detail::PostAll(WindowOf(context), posts);
    return TRUE;
}

BOOL ImmNotifyIME(HIMC context, DWORD action, DWORD index, DWORD) {
    if (action != NI_COMPOSITIONSTR || index != CPS_CANCEL) return FALSE;
    std::vector<user32::detail::Pending> posts;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(WindowOf(context));
        if (!w || !w->imeAttached) return FALSE;
        user32::detail::DropCompositionLocked(*w, posts);
    }
    // The system's input method forgets its composition too.
    if (user32::detail::IsVideoThread()) SDL_ClearComposition();
    user32::detail::PostAll(WindowOf(context), posts);
    return TRUE;
}

LONG ImmGetCompositionStringW(HIMC context, DWORD index, void* buffer, DWORD bytes) {
    std::lock_guard lock(Lock());
    auto w = FindWindowLocked(WindowOf(context));
    if (!w || !w->imeAttached) return -1;  // IMM_ERROR_GENERAL
    switch (index) {
        case GCS_COMPSTR:
            return CopyOut(w->composition, buffer, bytes);
        case GCS_CURSORPOS:
            return w->compositionCursor;
        case GCS_COMPCLAUSE: {
            // One clause over the whole string.
            if (w->composition.empty()) return 0;
            const DWORD offsets[2] = {0, static_cast<DWORD>(w->composition.size())};
            if (buffer == nullptr || bytes == 0) return sizeof offsets;
            DWORD n = std::min<DWORD>(sizeof offsets, bytes) & ~3u;
            std::memcpy(buffer, offsets, n);
            return static_cast<LONG>(n);
        }
        case GCS_COMPATTR: {
            DWORD need = static_cast<DWORD>(w->composition.size());
            if (buffer == nullptr || bytes == 0) return static_cast<LONG>(need);
            DWORD n = std::min(need, bytes);
            std::memset(buffer, 0, n);
            return static_cast<LONG>(n);
        }
        case GCS_RESULTSTR: {
            if (w->results.empty()) return 0;
            LONG n = CopyOut(w->results.front(), buffer, bytes);
            if (buffer != nullptr && bytes != 0) w->results.pop_front();
            return n;
        }
        default:
            return 0;
    }
}

BOOL ImmSetCompositionStringW(HIMC, DWORD, void*, DWORD, void*, DWORD) {
    return FALSE;
}

DWORD ImmGetCandidateListW(HIMC, DWORD, void*, DWORD) {
    return 0;
}

namespace {
const ModuleExports kExports("imm32.dll",
                             {{"ImmGetContext", Export(&ImmGetContext)},
                              {"ImmReleaseContext", Export(&ImmReleaseContext)},
                              {"ImmAssociateContext", Export(&ImmAssociateContext)},
                              {"ImmGetOpenStatus", Export(&ImmGetOpenStatus)},
                              {"ImmSetOpenStatus", Export(&ImmSetOpenStatus)},
                              {"ImmNotifyIME", Export(&ImmNotifyIME)},
                              {"ImmGetCompositionStringW", Export(&ImmGetCompositionStringW)},
                              {"ImmSetCompositionStringW", Export(&ImmSetCompositionStringW)},
                              {"ImmGetCandidateListW", Export(&ImmGetCandidateListW)}});
}  // namespace

}  // namespace platform::imm32
