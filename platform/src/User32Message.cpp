// user32 message queues: one per thread, posted and sent messages, WM_QUIT, WM_PAINT and timers,
// the default window procedure, and SDL's events turned into window messages.
#include <algorithm>
#include <chrono>

#include "InputDevices.h"
#include "User32Internal.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::user32 {

namespace detail {

std::condition_variable_any& SentDone();

namespace {

struct QueueRegistry {
    std::mutex mutex;
    std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
};

QueueRegistry& Registry() {
    static QueueRegistry* registry = new QueueRegistry;
    return *registry;
}

// Removes a thread's queue from the registry when the thread ends.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        QueueRegistry& r = Registry();
        std::lock_guard lock(r.mutex);
        r.queues.erase(queue->threadId);
    }
};

thread_local QueueHolder tQueue;

// Input state gathered from SDL's events.
struct InputState {
    POINT cursor{0, 0};
    std::vector<std::string> dropFiles;
    std::uint32_t dropWindow = 0;
};

InputState& Input() {
    static InputState state;
    return state;
}

bool MatchesFilter(HWND msgWindow, UINT message, HWND filter, UINT first, UINT last) {
    if (filter == reinterpret_cast<HWND>(-1)) {
        if (msgWindow != nullptr) return false;
    } else if (filter != nullptr && msgWindow != filter) {
        return false;
    }
    if (first == 0 && last == 0) return true;
    return message >= first && message <= last;
}

// Runs the messages that other threads sent to this thread's windows.
void ProcessSent(ThreadQueue& q) {
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard lock(q.mutex);
            if (q.sent.empty()) return;
            sent = q.sent.front();
            q.sent.pop_front();
        }
        WNDPROC proc = nullptr;
        {
            std::lock_guard lock(Lock());
            if (auto w = FindWindowLocked(sent->window)) proc = w->proc;
        }
        LRESULT result = proc ? proc(sent->window, sent->message, sent->wParam, sent->lParam) : 0;
        {
            std::lock_guard lock(Lock());
            sent->result = result;
            sent->done = true;
        }
        SentDone().notify_all();
    }
}

MSG MakeMsg(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = window;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = kernel32::GetTickCount();
    m.pt = Input().cursor;
    return m;
}

bool PeekCore(MSG* msg, HWND filter, UINT first, UINT last, bool remove) {
    ThreadQueue& q = CurrentQueue();
    ProcessSent(q);
    if (IsVideoThread()) {
        PumpSdlEvents();
        ProcessSent(q);
    }
    {
        std::lock_guard lock(q.mutex);
        for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
            if (MatchesFilter(it->hwnd, it->message, filter, first, last)) {
                *msg = *it;
                if (remove) q.posted.erase(it);
                return true;
            }
        }
        if (q.quitPosted && (filter == nullptr || filter == reinterpret_cast<HWND>(-1)) &&
            MatchesFilter(nullptr, WM_QUIT, nullptr, first, last)) {
            *msg = MakeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0);
            if (remove) q.quitPosted = false;
            return true;
        }
    }
    if (filter != reinterpret_cast<HWND>(-1)) {
        std::lock_guard lock(Lock());
        for (auto& [handle, w] : Windows()) {
            if (w->needsPaint && (w->style & WS_VISIBLE) && w->threadId == q.threadId &&
                MatchesFilter(handle, WM_PAINT, filter, first, last)) {
                *msg = MakeMsg(handle, WM_PAINT, 0, 0);
                return true;
            }
        }
    }
    std::uint64_t now = NowMs();
    std::lock_guard lock(q.mutex);
    for (Timer& t : q.timers) {
        if (t.due <= now && MatchesFilter(t.window, WM_TIMER, filter, first, last)) {
            *msg = MakeMsg(t.window, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc));
            if (remove) t.due = now + t.elapse;
            return true;
        }
    }
    return false;
}

// Virtual keys from SDL scan codes (the US layout's positions, as Windows maps them).
UINT VirtualKeyOf(SDL_Scancode sc) {
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    if (sc == SDL_SCANCODE_0) return '0';
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return VK_F1 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9)
        return VK_NUMPAD0 + 1 + (sc - SDL_SCANCODE_KP_1);
    switch (sc) {
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER:
            return VK_RETURN;
        case SDL_SCANCODE_ESCAPE:
            return VK_ESCAPE;
        case SDL_SCANCODE_BACKSPACE:
            return VK_BACK;
        case SDL_SCANCODE_TAB:
            return VK_TAB;
        case SDL_SCANCODE_SPACE:
            return VK_SPACE;
        case SDL_SCANCODE_MINUS:
            return VK_OEM_MINUS;
        case SDL_SCANCODE_EQUALS:
            return VK_OEM_PLUS;
        case SDL_SCANCODE_LEFTBRACKET:
            return VK_OEM_4;
        case SDL_SCANCODE_RIGHTBRACKET:
            return VK_OEM_6;
        case SDL_SCANCODE_BACKSLASH:
            return VK_OEM_5;
        case SDL_SCANCODE_SEMICOLON:
            return VK_OEM_1;
        case SDL_SCANCODE_APOSTROPHE:
            return VK_OEM_7;
        case SDL_SCANCODE_GRAVE:
            return VK_OEM_3;
        case SDL_SCANCODE_COMMA:
            return VK_OEM_COMMA;
        case SDL_SCANCODE_PERIOD:
            return VK_OEM_PERIOD;
        case SDL_SCANCODE_SLASH:
            return VK_OEM_2;
        case SDL_SCANCODE_NONUSBACKSLASH:
            return VK_OEM_102;
        case SDL_SCANCODE_CAPSLOCK:
            return VK_CAPITAL;
        case SDL_SCANCODE_PRINTSCREEN:
            return VK_SNAPSHOT;
        case SDL_SCANCODE_SCROLLLOCK:
            return VK_SCROLL;
        case SDL_SCANCODE_PAUSE:
            return VK_PAUSE;
        case SDL_SCANCODE_INSERT:
            return VK_INSERT;
        case SDL_SCANCODE_HOME:
            return VK_HOME;
        case SDL_SCANCODE_PAGEUP:
            return VK_PRIOR;
        case SDL_SCANCODE_DELETE:
            return VK_DELETE;
        case SDL_SCANCODE_END:
            return VK_END;
        case SDL_SCANCODE_PAGEDOWN:
            return VK_NEXT;
        case SDL_SCANCODE_RIGHT:
            return VK_RIGHT;
        case SDL_SCANCODE_LEFT:
            return VK_LEFT;
        case SDL_SCANCODE_DOWN:
            return VK_DOWN;
        case SDL_SCANCODE_UP:
            return VK_UP;
        case SDL_SCANCODE_NUMLOCKCLEAR:
            return VK_NUMLOCK;
        case SDL_SCANCODE_KP_DIVIDE:
            return VK_DIVIDE;
        case SDL_SCANCODE_KP_MULTIPLY:
            return VK_MULTIPLY;
        case SDL_SCANCODE_KP_MINUS:
            return VK_SUBTRACT;
        case SDL_SCANCODE_KP_PLUS:
            return VK_ADD;
        case SDL_SCANCODE_KP_0:
            return VK_NUMPAD0;
        case SDL_SCANCODE_KP_PERIOD:
            return VK_DECIMAL;
        case SDL_SCANCODE_APPLICATION:
            return VK_APPS;
        case SDL_SCANCODE_LCTRL:
        case SDL_SCANCODE_RCTRL:
            return VK_CONTROL;
        case SDL_SCANCODE_LSHIFT:
        case SDL_SCANCODE_RSHIFT:
            return VK_SHIFT;
        case SDL_SCANCODE_LALT:
        case SDL_SCANCODE_RALT:
            return VK_MENU;
        case SDL_SCANCODE_LGUI:
            return VK_LWIN;
        case SDL_SCANCODE_RGUI:
            return VK_RWIN;
        default:
            return 0;
    }
}

bool ExtendedKey(SDL_Scancode sc) {
    switch (sc) {
        case SDL_SCANCODE_RCTRL:
        case SDL_SCANCODE_RALT:
        case SDL_SCANCODE_INSERT:
        case SDL_SCANCODE_DELETE:
        case SDL_SCANCODE_HOME:
        case SDL_SCANCODE_END:
        case SDL_SCANCODE_PAGEUP:
        case SDL_SCANCODE_PAGEDOWN:
        case SDL_SCANCODE_LEFT:
        case SDL_SCANCODE_RIGHT:
        case SDL_SCANCODE_UP:
        case SDL_SCANCODE_DOWN:
        case SDL_SCANCODE_KP_DIVIDE:
        case SDL_SCANCODE_KP_ENTER:
            return true;
        default:
            return false;
    }
}

HWND TargetOf(std::uint32_t windowId) {
    if (auto w = FindWindowById(windowId)) return w->handle;
    return GetFocus();
}

WPARAM MouseKeys(std::uint32_t buttons) {
    WPARAM k = 0;
    if (buttons & SDL_BUTTON_LMASK) k |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK) k |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK) k |= MK_MBUTTON;
    SDL_Keymod mod = SDL_GetModState();
    if (mod & KMOD_SHIFT) k |= MK_SHIFT;
    if (mod & KMOD_CTRL) k |= MK_CONTROL;
    return k;
}

void MouseAt(HWND window, int x, int y) {
    POINT p{x, y};
    ClientToScreen(window, &p);
    std::lock_guard lock(Lock());
    Input().cursor = p;
}

void TranslateEvent(const SDL_Event& e) {
    switch (e.type) {
        case SDL_WINDOWEVENT: {
            auto w = FindWindowById(e.window.windowID);
            if (!w) return;
            HWND h = w->handle;
            switch (e.window.event) {
                case SDL_WINDOWEVENT_CLOSE:
                    Send(h, WM_SYSCOMMAND, SC_CLOSE, 0);
                    break;
                case SDL_WINDOWEVENT_MOVED:
                case SDL_WINDOWEVENT_RESIZED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    SystemMovedOrSized(h);
                    break;
                case SDL_WINDOWEVENT_MINIMIZED:
                    SystemMinimized(h, true);
                    break;
                case SDL_WINDOWEVENT_MAXIMIZED:
                    SystemMaximized(h);
                    break;
                case SDL_WINDOWEVENT_RESTORED:
                    if (IsIconic(h)) {
                        SystemMinimized(h, false);
                    } else if (IsZoomed(h)) {
                        ShowWindow(h, SW_RESTORE);
                    }
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    Activate(h, IsIconic(h) != FALSE);
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    if (ActiveWindow() == h) Activate(nullptr, false);
                    break;
                case SDL_WINDOWEVENT_EXPOSED:
                    InvalidateRect(h, nullptr, FALSE);
                    break;
                default:
                    break;
            }
            return;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            HWND h = TargetOf(e.key.windowID);
            UINT vk = VirtualKeyOf(e.key.keysym.scancode);
            if (h == nullptr || vk == 0) return;
            bool down = e.type == SDL_KEYDOWN;
            bool alt = (e.key.keysym.mod & KMOD_ALT) != 0 && !(e.key.keysym.mod & KMOD_CTRL);
            bool sys = alt || vk == VK_F1 + 9 || (vk == VK_MENU);
            UINT message =
                down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
            // The key's set-1 scan code: SDL's USB code for the keys whose position matters.
            LPARAM l = 1 | (static_cast<LPARAM>(e.key.keysym.scancode & 0xFF) << 16);
            if (ExtendedKey(e.key.keysym.scancode)) l |= 1L << 24;
            if (alt) l |= 1L << 29;
            if (!down || e.key.repeat) l |= 1L << 30;
            if (!down) l |= static_cast<LPARAM>(1UL << 31);
            Post(h, message, vk, l);
            return;
        }
        case SDL_TEXTINPUT: {
            SDL_Keymod mod = SDL_GetModState();
            if ((mod & KMOD_ALT) && !(mod & KMOD_CTRL)) return;  // Alt+key comes as WM_SYSCHAR
            HWND h = TargetOf(e.text.windowID);
            if (h == nullptr) return;
            std::u16string text = FromUtf8(e.text.text);
            if (ImeCommit(h, text)) return;
            for (char16_t unit : text) Post(h, WM_CHAR, unit, 1);
            return;
        }
        case SDL_TEXTEDITING: {
            HWND h = TargetOf(e.edit.windowID);
            if (h != nullptr) ImeTextEditing(h, e.edit.text, e.edit.start);
            return;
        }
        case SDL_MOUSEMOTION: {
            HWND h = TargetOf(e.motion.windowID);
            if (h == nullptr) return;
            MouseAt(h, e.motion.x, e.motion.y);
            Send(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MakeLParam(1, WM_MOUSEMOVE));
            Post(h, WM_MOUSEMOVE, MouseKeys(e.motion.state), MakeLParam(e.motion.x, e.motion.y));
            return;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            HWND h = TargetOf(e.button.windowID);
            if (h == nullptr) return;
            bool down = e.type == SDL_MOUSEBUTTONDOWN;
            UINT message;
            WPARAM extra = 0;
            switch (e.button.button) {
                case SDL_BUTTON_LEFT:
                    message = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
                    break;
                case SDL_BUTTON_RIGHT:
                    message = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
                    break;
                case SDL_BUTTON_MIDDLE:
                    message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
                    break;
                default:
                    message = down ? WM_XBUTTONDOWN : WM_XBUTTONUP;
                    extra = static_cast<WPARAM>(e.button.button == SDL_BUTTON_X1 ? 1 : 2) << 16;
                    break;
            }
            MouseAt(h, e.button.x, e.button.y);
            Post(h, message, MouseKeys(SDL_GetMouseState(nullptr, nullptr)) | extra,
                 MakeLParam(e.button.x, e.button.y));
            return;
        }
        case SDL_MOUSEWHEEL: {
            HWND h = TargetOf(e.wheel.windowID);
            if (h == nullptr) return;
            int flip = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1 : 1;
            POINT p;
            {
                std::lock_guard lock(Lock());
                p = Input().cursor;
            }
            WPARAM keys = MouseKeys(SDL_GetMouseState(nullptr, nullptr));
            if (e.wheel.y != 0) {
                Post(h, WM_MOUSEWHEEL,
                     keys | (static_cast<WPARAM>((e.wheel.y * flip * WHEEL_DELTA) & 0xFFFF) << 16),
                     MakeLParam(p.x, p.y));
            }
            if (e.wheel.x != 0) {
                Post(h, WM_MOUSEHWHEEL,
                     keys | (static_cast<WPARAM>((e.wheel.x * flip * WHEEL_DELTA) & 0xFFFF) << 16),
                     MakeLParam(p.x, p.y));
            }
            return;
        }
        case SDL_DROPBEGIN:
            Input().dropFiles.clear();
            Input().dropWindow = e.drop.windowID;
            return;
        case SDL_DROPFILE:
            if (e.drop.file) {
                Input().dropFiles.push_back(e.drop.file);
                Input().dropWindow = e.drop.windowID;
                SDL_free(e.drop.file);
            }
            return;
        case SDL_DROPCOMPLETE: {
            auto w = FindWindowById(Input().dropWindow ? Input().dropWindow : e.drop.windowID);
            std::vector<std::string> files;
            files.swap(Input().dropFiles);
            if (!w || files.empty()) return;
            bool accept;
            {
                std::lock_guard lock(Lock());
                accept = w->acceptFiles;
            }
            if (accept) Post(w->handle, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(files)), 0);
            return;
        }
        case SDL_JOYDEVICEADDED:
        case SDL_JOYDEVICEREMOVED: {
            // A pad came or went: every top-level window hears that the device set changed.
            std::vector<HWND> targets;
            {
                std::lock_guard lock(Lock());
                for (auto& [handle, w] : Windows()) {
                    if (w->parent == nullptr && !w->destroying) targets.push_back(handle);
                }
            }
            for (HWND h : targets) Post(h, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
            return;
        }
        case SDL_DROPTEXT:
            SDL_free(e.drop.file);
            return;
        default:
            return;
    }
}

}  // namespace

DWORD CurrentThreadId() {
    return kernel32::GetCurrentThreadId();
}

std::uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

ThreadQueue& CurrentQueue() {
    if (!tQueue.queue) {
        auto q = std::make_shared<ThreadQueue>();
        q->threadId = CurrentThreadId();
        QueueRegistry& r = Registry();
        std::lock_guard lock(r.mutex);
        r.queues[q->threadId] = q;
        tQueue.queue = q;
    }
    return *tQueue.queue;
}

std::shared_ptr<ThreadQueue> QueueOf(DWORD threadId) {
    if (threadId == CurrentThreadId()) {
        CurrentQueue();
        return tQueue.queue;
    }
    QueueRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto it = r.queues.find(threadId);
    return it == r.queues.end() ? nullptr : it->second;
}

void PumpSdlEvents() {
    SDL_PumpEvents();
    SDL_Event e;
    while (SDL_PollEvent(&e) == 1) {
        input::ObserveEvent(e);
        TranslateEvent(e);
    }
}

UINT VirtualKeyOfScancode(int scancode) {
    return VirtualKeyOf(static_cast<SDL_Scancode>(scancode));
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc;
    DWORD owner;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) {
            kernel32::SetLastError(1400);
            return 0;
        }
        proc = w->proc;
        owner = w->threadId;
    }
    if (owner == CurrentThreadId()) return proc(window, message, wParam, lParam);
    auto target = QueueOf(owner);
    if (!target) return 0;
    auto sent = std::make_shared<SentMessage>();
    sent->window = window;
    sent->message = message;
    sent->wParam = wParam;
    sent->lParam = lParam;
    {
        std::lock_guard lock(target->mutex);
        target->sent.push_back(sent);
    }
    target->wake.notify_all();
    ThreadQueue& own = CurrentQueue();
    for (;;) {
        ProcessSent(own);
        std::unique_lock lock(Lock());
        if (sent->done) return sent->result;
        if (!FindWindowLocked(window)) return 0;
        SentDone().wait_for(lock, std::chrono::milliseconds(5));
        if (sent->done) return sent->result;
    }
}

std::condition_variable_any& SentDone() {
    static std::condition_variable_any* done = new std::condition_variable_any;
    return *done;
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool front) {
    DWORD owner = CurrentThreadId();
    if (window != nullptr) {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) {
            kernel32::SetLastError(1400);
            return false;
        }
        owner = w->threadId;
    }
    auto q = QueueOf(owner);
    if (!q) return false;
    MSG m = MakeMsg(window, message, wParam, lParam);
    {
        std::lock_guard lock(q->mutex);
        if (front) {
            q->posted.push_front(m);
        } else {
            q->posted.push_back(m);
        }
    }
    q->wake.notify_all();
    return true;
}

}  // namespace detail

using namespace detail;

BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    if (msg == nullptr) return FALSE;
    return PeekCore(msg, window, first, last, (remove & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    return PeekMessageW(msg, window, first, last, remove);
}

BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last) {
    if (msg == nullptr) return -1;
    if (window != nullptr && window != reinterpret_cast<HWND>(-1) && !IsWindow(window)) return -1;
    ThreadQueue& q = CurrentQueue();
    for (;;) {
        if (PeekCore(msg, window, first, last, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
        std::uint64_t now = NowMs();
        std::uint64_t wait = IsVideoThread() ? 5 : 1000;
        std::unique_lock lock(q.mutex);
        for (const Timer& t : q.timers) wait = std::min(wait, t.due > now ? t.due - now : 0);
        q.wake.wait_for(lock, std::chrono::milliseconds(wait),
                        [&] { return !q.posted.empty() || !q.sent.empty() || q.quitPosted; });
    }
}

BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last) {
    return GetMessageW(msg, window, first, last);
}

BOOL TranslateMessage(const MSG* msg) {
    if (msg == nullptr || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return FALSE;
    UINT vk = static_cast<UINT>(msg->wParam);
    char16_t c = 0;
    SDL_Keymod mod = IsVideoThread() ? SDL_GetModState() : KMOD_NONE;
    if (msg->message == WM_SYSKEYDOWN) {
        if (vk >= 'A' && vk <= 'Z') c = static_cast<char16_t>(vk - 'A' + 'a');
        if (vk >= '0' && vk <= '9') c = static_cast<char16_t>(vk);
        if (vk == VK_SPACE) c = u' ';
        if (c == 0) return FALSE;
        return Post(msg->hwnd, WM_SYSCHAR, c, msg->lParam, true) ? TRUE : FALSE;
    }
    // Printable characters come from the system's text input; the keys that type control codes
    // are translated here.
    if (vk == VK_BACK) c = 8;
    if (vk == VK_TAB) c = 9;
    if (vk == VK_RETURN) c = 13;
    if (vk == VK_ESCAPE) c = 27;
    if ((mod & KMOD_CTRL) && vk >= 'A' && vk <= 'Z') c = static_cast<char16_t>(vk - 'A' + 1);
    if (c == 0) return FALSE;
    return Post(msg->hwnd, WM_CHAR, c, msg->lParam, true) ? TRUE : FALSE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (msg == nullptr) return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam,
                                                 kernel32::GetTickCount());
        return 0;
    }
    if (msg->hwnd == nullptr) return 0;
    WNDPROC proc;
    {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(msg->hwnd);
        if (!w || w->threadId != CurrentThreadId()) return 0;
        proc = w->proc;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT DispatchMessageA(const MSG* msg) {
    return DispatchMessageW(msg);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Send(window, message, wParam, lParam);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Send(window, message, wParam, lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Post(window, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(window, message, wParam, lParam);
}

BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    auto q = QueueOf(threadId);
    if (!q) {
        kernel32::SetLastError(1444);  // ERROR_INVALID_THREAD_ID
        return FALSE;
    }
    MSG m = MakeMsg(nullptr, message, wParam, lParam);
    {
        std::lock_guard lock(q->mutex);
        q->posted.push_back(m);
    }
    q->wake.notify_all();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    ThreadQueue& q = CurrentQueue();
    std::lock_guard lock(q.mutex);
    q.quitPosted = true;
    q.quitCode = exitCode;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(window, &ps);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_CLOSE:
                    Send(window, WM_CLOSE, 0, 0);
                    return 0;
                case SC_MINIMIZE:
                    ShowWindow(window, SW_MINIMIZE);
                    return 0;
                case SC_MAXIMIZE:
                    ShowWindow(window, SW_MAXIMIZE);
                    return 0;
                case SC_RESTORE:
                    ShowWindow(window, SW_RESTORE);
                    return 0;
                default:
                    return 0;
            }
        case WM_SYSKEYDOWN:
            if (wParam == VK_F1 + 3 && (lParam & (1L << 29))) {  // Alt+F4
                Post(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            return 0;
        case WM_SETTEXT:
            return SetWindowTextW(window, reinterpret_cast<LPCWSTR>(lParam));
        case WM_GETTEXT:
            return GetWindowTextW(window, reinterpret_cast<LPWSTR>(lParam),
                                  static_cast<int>(wParam));
        case WM_GETTEXTLENGTH: {
            char16_t buffer[1024];
            return GetWindowTextW(window, buffer, 1024);
        }
        case WM_SETCURSOR:
            if ((lParam & 0xFFFF) == 1) {  // HTCLIENT: the class cursor
                HCURSOR cursor = nullptr;
                {
                    std::lock_guard lock(Lock());
                    if (auto w = FindWindowLocked(window)) cursor = w->windowClass->cursor;
                }
                SetCursor(cursor);
                return TRUE;
            }
            return FALSE;
        case WM_NCACTIVATE:
            return TRUE;
        case WM_NCHITTEST:
            return 1;
        case WM_ACTIVATE:
            if ((wParam & 0xFFFF) != WA_INACTIVE) SetFocus(window);
            return 0;
        default:
            return 0;
    }
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

int TranslateAcceleratorW(HWND, HACCEL, MSG*) {
    return 0;
}

BOOL IsDialogMessageW(HWND, MSG*) {
    return FALSE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    DWORD owner = CurrentThreadId();
    if (window != nullptr) {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) {
            kernel32::SetLastError(1400);
            return 0;
        }
        owner = w->threadId;
    }
    if (elapse < 10) elapse = 10;  // USER_TIMER_MINIMUM
    auto q = QueueOf(owner);
    if (!q) return 0;
    std::lock_guard lock(q->mutex);
    if (window == nullptr) {
        // Thread timers get their own ids.
        static UINT_PTR nextId = 0x7FF0;
        id = ++nextId;
    }
    for (Timer& t : q->timers) {
        if (t.window == window && t.id == id) {
            t.elapse = elapse;
            t.proc = proc;
            t.due = NowMs() + elapse;
            return window ? (id ? id : 1) : id;
        }
    }
    q->timers.push_back(Timer{window, id, elapse, proc, NowMs() + elapse});
    q->wake.notify_all();
    return window ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    DWORD owner = CurrentThreadId();
    if (window != nullptr) {
        std::lock_guard lock(Lock());
        auto w = FindWindowLocked(window);
        if (!w) return FALSE;
        owner = w->threadId;
    }
    auto q = QueueOf(owner);
    if (!q) return FALSE;
    std::lock_guard lock(q->mutex);
    auto n =
        std::erase_if(q->timers, [&](const Timer& t) { return t.window == window && t.id == id; });
    std::erase_if(q->posted, [&](const MSG& m) {
        return m.message == WM_TIMER && m.hwnd == window && m.wParam == id;
    });
    return n ? TRUE : FALSE;
}

DWORD GetQueueStatus(UINT) {
    ThreadQueue& q = CurrentQueue();
    std::lock_guard lock(q.mutex);
    return q.posted.empty() ? 0 : 0x0008;  // QS_POSTMESSAGE
}

BOOL GetCursorPos(POINT* point) {
    if (point == nullptr) return FALSE;
    std::lock_guard lock(Lock());
    *point = Input().cursor;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    {
        std::lock_guard lock(Lock());
        Input().cursor = POINT{x, y};
    }
    if (IsVideoThread() && DisplayPresent()) SDL_WarpMouseGlobal(x, y);
    return TRUE;
}

namespace {
const ModuleExports kExports("user32.dll",
                             {{"PeekMessageW", Export(&PeekMessageW)},
                              {"PeekMessageA", Export(&PeekMessageA)},
                              {"GetMessageW", Export(&GetMessageW)},
                              {"GetMessageA", Export(&GetMessageA)},
                              {"TranslateMessage", Export(&TranslateMessage)},
                              {"DispatchMessageW", Export(&DispatchMessageW)},
                              {"DispatchMessageA", Export(&DispatchMessageA)},
                              {"SendMessageW", Export(&SendMessageW)},
                              {"SendMessageA", Export(&SendMessageA)},
                              {"PostMessageW", Export(&PostMessageW)},
                              {"PostMessageA", Export(&PostMessageA)},
                              {"PostThreadMessageW", Export(&PostThreadMessageW)},
                              {"PostQuitMessage", Export(&PostQuitMessage)},
                              {"DefWindowProcW", Export(&DefWindowProcW)},
                              {"DefWindowProcA", Export(&DefWindowProcA)},
                              {"TranslateAcceleratorW", Export(&TranslateAcceleratorW)},
                              {"IsDialogMessageW", Export(&IsDialogMessageW)},
                              {"SetTimer", Export(&SetTimer)},
                              {"KillTimer", Export(&KillTimer)},
                              {"GetQueueStatus", Export(&GetQueueStatus)},
                              {"GetCursorPos", Export(&GetCursorPos)},
                              {"SetCursorPos", Export(&SetCursorPos)}});
}  // namespace

}  // namespace platform::user32

namespace platform::user32test {

void InjectEvent(const SDL_Event& event) {
    SDL_Event copy = event;
    SDL_PushEvent(&copy);
}

void InjectWindowEvent(HWND window, int windowEventId) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SdlWindowOf(window) ? SDL_GetWindowID(SdlWindowOf(window)) : 0;
    e.window.event = static_cast<Uint8>(windowEventId);
    SDL_PushEvent(&e);
}

void InjectUserMove(HWND window, int clientX, int clientY) {
    if (SDL_Window* w = SdlWindowOf(window)) {
        SDL_SetWindowPosition(w, clientX, clientY);
        InjectWindowEvent(window, SDL_WINDOWEVENT_MOVED);
    }
}

void InjectUserResize(HWND window, int clientWidth, int clientHeight) {
    if (SDL_Window* w = SdlWindowOf(window)) {
        SDL_SetWindowSize(w, clientWidth, clientHeight);
        InjectWindowEvent(window, SDL_WINDOWEVENT_SIZE_CHANGED);
    }
}

}  // namespace platform::user32test
