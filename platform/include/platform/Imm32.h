// The input method manager ("imm32.dll") over SDL's text editing: every window has one input
// context, attached until ImmAssociateContext detaches it. SDL text-editing events become the
// composition messages (WM_IME_STARTCOMPOSITION, WM_IME_COMPOSITION with the composition string,
// its cursor, one clause over the whole string and attributes 0, WM_IME_ENDCOMPOSITION), and the
// composition-string queries answer from that composition. The IME counts as open from the first
// composition until it is closed, disabled or detached (WM_IME_NOTIFY with IMN_SETOPENSTATUS
// whenever that changes); while it is open, committed text is a result string instead of
// WM_CHAR. The system's input method shows its own candidates: candidate lists are absent
// (ImmGetCandidateListW gives 0) and setting a composition string is refused.
#pragma once

#include "platform/WinTypes.h"

namespace platform::imm32 {

HIMC ImmGetContext(HWND window);
BOOL ImmReleaseContext(HWND window, HIMC context);
HIMC ImmAssociateContext(HWND window, HIMC context);
BOOL ImmGetOpenStatus(HIMC context);
BOOL ImmSetOpenStatus(HIMC context, BOOL open);
BOOL ImmNotifyIME(HIMC context, DWORD action, DWORD index, DWORD value);
LONG ImmGetCompositionStringW(HIMC context, DWORD index, void* buffer, DWORD bytes);
BOOL ImmSetCompositionStringW(HIMC context, DWORD index, void* composition, DWORD compositionBytes,
                              void* reading, DWORD readingBytes);
DWORD ImmGetCandidateListW(HIMC context, DWORD index, void* list, DWORD bytes);

}  // namespace platform::imm32
