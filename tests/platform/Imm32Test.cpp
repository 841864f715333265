// imm32 over SDL text editing: the input context of a window, the composition messages that
// text-editing events become, result strings while the IME is open, and what stays absent.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Imm32.h"
#include "platform/Modules.h"
#include "platform/User32.h"

using namespace platform::user32;
using namespace platform::imm32;
namespace test = platform::user32test;

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> gSeen;

LRESULT Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR || message == WM_IME_STARTCOMPOSITION ||
        message == WM_IME_ENDCOMPOSITION || message == WM_IME_COMPOSITION ||
        message == WM_IME_NOTIFY)
        gSeen.push_back({message, wParam, lParam});
    return DefWindowProcW(window, message, wParam, lParam);
}

class Imm32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        gSeen.clear();
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &Recording;
        wc.lpszClassName = u"Imm32TestClass";
        ASSERT_NE(RegisterClassExW(&wc), 0);
        window_ = CreateWindowExW(0, u"Imm32TestClass", u"ime", WS_POPUP, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOW);
        Pump();
        gSeen.clear();
    }
    void TearDown() override {
        DestroyWindow(window_);
        Pump();
        EXPECT_TRUE(UnregisterClassW(u"Imm32TestClass", nullptr));
    }
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    std::uint32_t Id() const { return SDL_GetWindowID(test::SdlWindowOf(window_)); }
    void Editing(const char* text, int start) {
        SDL_Event e{};
        e.type = SDL_TEXTEDITING;
        e.edit.windowID = Id();
        std::strncpy(e.edit.text, text, sizeof e.edit.text - 1);
        e.edit.start = start;
        test::InjectEvent(e);
        Pump();
    }
    void Commit(const char* text) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = Id();
        std::strncpy(e.text.text, text, sizeof e.text.text - 1);
        test::InjectEvent(e);
        Pump();
    }
    std::vector<UINT> Messages() const {
        std::vector<UINT> v;
        for (const Seen& s : gSeen) v.push_back(s.message);
        return v;
    }
    std::u16string Composition(HIMC c) const {
        char16_t buffer[64] = {};
        LONG n = ImmGetCompositionStringW(c, GCS_COMPSTR, buffer, sizeof buffer);
        return std::u16string(buffer, n > 0 ? n / 2 : 0);
    }

    HWND window_ = nullptr;
};

TEST_F(Imm32Test, TextEditingBecomesACompositionAndACommitAResultString) {
    HIMC c = ImmGetContext(window_);
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(ImmGetOpenStatus(c));
    Commit("a");  // closed: a typed character
    ASSERT_EQ(Messages(), (std::vector<UINT>{WM_CHAR}));
    gSeen.clear();

    Editing("か😀", 2);
    EXPECT_EQ(Messages(),
              (std::vector<UINT>{WM_IME_NOTIFY, WM_IME_STARTCOMPOSITION, WM_IME_COMPOSITION}));
    EXPECT_EQ(gSeen[0].wParam, IMN_SETOPENSTATUS);
    EXPECT_EQ(gSeen[2].lParam,
              static_cast<LPARAM>(GCS_COMPSTR | GCS_CURSORPOS | GCS_COMPCLAUSE | GCS_COMPATTR));
    EXPECT_TRUE(ImmGetOpenStatus(c));
    EXPECT_EQ(Composition(c), u"か😀");
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_CURSORPOS, nullptr, 0), 3);  // units
    DWORD clauses[4] = {9, 9, 9, 9};
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_COMPCLAUSE, clauses, sizeof clauses), 8);
    EXPECT_EQ(clauses[0], 0u);
    EXPECT_EQ(clauses[1], 3u);
    std::uint8_t attributes[8];
    std::memset(attributes, 7, sizeof attributes);
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_COMPATTR, attributes, sizeof attributes), 3);
    EXPECT_EQ(attributes[0] | attributes[1] | attributes[2], 0);
    EXPECT_EQ(attributes[3], 7);
    gSeen.clear();

    Commit("火");
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_IME_COMPOSITION, WM_IME_ENDCOMPOSITION}));
    EXPECT_TRUE(gSeen[0].lParam & GCS_RESULTSTR);
    Commit("b");  // open: plain typing is a result string too, never WM_CHAR
    char16_t result[8] = {};
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_RESULTSTR, nullptr, 0), 2);
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_RESULTSTR, result, sizeof result), 2);
    EXPECT_EQ(result[0], u'火');
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_RESULTSTR, result, sizeof result), 2);
    EXPECT_EQ(result[0], u'b');
    EXPECT_EQ(ImmGetCompositionStringW(c, GCS_RESULTSTR, result, sizeof result), 0);
    for (const Seen& s : gSeen) EXPECT_NE(s.message, WM_CHAR);
    EXPECT_TRUE(ImmReleaseContext(window_, c));
}

TEST_F(Imm32Test, CancelCloseDisableAndDetach) {
    HIMC c = ImmGetContext(window_);
    Editing("かな", 2);
    gSeen.clear();
    EXPECT_TRUE(ImmNotifyIME(c, NI_COMPOSITIONSTR, CPS_CANCEL, 0));
    Pump();
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_IME_ENDCOMPOSITION}));
    EXPECT_EQ(Composition(c), u"");
    EXPECT_TRUE(ImmGetOpenStatus(c));  // cancelling keeps the IME open
    EXPECT_FALSE(ImmNotifyIME(c, NI_SETCANDIDATE_PAGESIZE, 0, 5));
    gSeen.clear();
    EXPECT_TRUE(ImmSetOpenStatus(c, FALSE));
    Pump();
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_IME_NOTIFY}));
    EXPECT_FALSE(ImmGetOpenStatus(c));
    Editing("か", 1);
    EXPECT_TRUE(ImmGetOpenStatus(c));
    gSeen.clear();
    WINNLSEnableIME(window_, FALSE);  // disabling closes it
    Pump();
    EXPECT_FALSE(ImmGetOpenStatus(c));
    Editing("か", 1);  // and the input method's editing is ignored
    EXPECT_EQ(Composition(c), u"");
    WINNLSEnableIME(window_, TRUE);
    // Detaching: no context until it is attached again; the typing is WM_CHAR meanwhile.
    Editing("か", 1);
    EXPECT_EQ(ImmAssociateContext(window_, nullptr), c);
    EXPECT_EQ(ImmGetContext(window_), nullptr);
    EXPECT_FALSE(ImmGetOpenStatus(c));
    gSeen.clear();
    Pump();
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_IME_ENDCOMPOSITION, WM_IME_NOTIFY}));
    gSeen.clear();
    Editing("か", 1);
    Commit("x");
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_CHAR}));
    EXPECT_EQ(ImmAssociateContext(window_, c), nullptr);
    EXPECT_EQ(ImmGetContext(window_), c);
    // Absent: setting a composition string and candidate lists.
    char16_t text[] = u"x";
    EXPECT_FALSE(ImmSetCompositionStringW(c, SCS_SETSTR, text, 2, nullptr, 0));
    EXPECT_EQ(ImmGetCandidateListW(c, 0, nullptr, 0), 0u);
    EXPECT_NE(GetProcAddress(LoadLibraryA("Imm32.dll"), "ImmGetContext"), nullptr);
}

}  // namespace
