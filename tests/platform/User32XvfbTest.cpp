// A real X11 window: the test starts its own Xvfb server and runs itself again as a child process
// on that display with SDL's x11 driver, where a window made through user32 must appear as an X11
// window of the requested client size. Skipped, saying why, when Xvfb is missing or cannot start.
// GoogleTest first: the X11 headers define macros (None, Status) that its headers use as names.
#include <gtest/gtest.h>
// clang-format off
#include <SDL.h>
#include <SDL_syswm.h>
// clang-format on
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/User32.h"

extern char** environ;

namespace {

using namespace platform::user32;

LRESULT PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// The child: make the window and ask the X server about it.
void RunChild() {
    ASSERT_STREQ(SDL_getenv("SDL_VIDEODRIVER"), "x11");
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &PlainProc;
    wc.lpszClassName = u"XvfbWindow";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r{0, 0, 320, 200};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    HWND window = CreateWindowExW(0, u"XvfbWindow", u"Xvfb", style, 100, 100, r.right - r.left,
                                  r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr) << SDL_GetError();
    ShowWindow(window, SW_SHOW);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(platform::user32test::SdlWindowOf(window), &info));
    ASSERT_EQ(info.subsystem, SDL_SYSWM_X11);

    void* x11 = dlopen("libX11.so.6", RTLD_NOW);
    ASSERT_NE(x11, nullptr);
    auto getAttributes =
        reinterpret_cast<decltype(&XGetWindowAttributes)>(dlsym(x11, "XGetWindowAttributes"));
    auto sync = reinterpret_cast<decltype(&XSync)>(dlsym(x11, "XSync"));
    ASSERT_TRUE(getAttributes && sync);
    XWindowAttributes attributes{};
    for (int i = 0; i < 200; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        sync(info.info.x11.display, False);
        getAttributes(info.info.x11.display, info.info.x11.window, &attributes);
        if (attributes.map_state == IsViewable) break;
        SDL_Delay(10);
    }
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(attributes.width, 320);
    EXPECT_EQ(attributes.height, 200);
    DestroyWindow(window);
    UnregisterClassW(u"XvfbWindow", nullptr);
    dlclose(x11);
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
            const posix_spawn_file_actions_t* actions) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e; ++e) {
        std::string s(*e);
        bool replaced = false;
        for (auto& x : extraEnv)
            replaced |= s.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
        if (!replaced) envStrings.push_back(s);
    }
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0].c_str(), actions, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

TEST(User32Xvfb, RealX11WindowOfTheClientSize) {
    if (const char* child = std::getenv("VELK_XVFB_CHILD"); child && std::string(child) == "1") {
        RunChild();
        return;
    }
    const char* xvfb = "/usr/bin/Xvfb";
    if (access(xvfb, X_OK) != 0)
        GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps.sh adds it)";

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t server = Spawn({xvfb, "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                          "1024x768x24", "-nolisten", "tcp"},
                         {}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string display;
    if (server > 0) {
        pollfd p{pipeFds[0], POLLIN, 0};
        char buffer[32];
        while (poll(&p, 1, 10000) == 1) {
            ssize_t n = read(pipeFds[0], buffer, sizeof(buffer));
            if (n <= 0) break;
            display.append(buffer, static_cast<std::size_t>(n));
            if (display.find('\n') != std::string::npos) break;
        }
    }
    close(pipeFds[0]);
    while (!display.empty() && (display.back() == '\n' || display.back() == '\r'))
        display.pop_back();
    if (server <= 0 || display.empty()) {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        GTEST_SKIP() << "Xvfb could not start here, so no X11 window can be checked";
    }

    pid_t child =
        Spawn({"/proc/self/exe", "--gtest_filter=User32Xvfb.RealX11WindowOfTheClientSize"},
              // Under the sanitizers the child's leak check is off: SDL's x11 driver brings up
              // D-Bus, which keeps a block for the life of the process.
              {"VELK_XVFB_CHILD=1", "SDL_VIDEODRIVER=x11", "SDL_AUDIODRIVER=dummy",
               "DISPLAY=:" + display, "LSAN_OPTIONS=detect_leaks=0", "ASAN_OPTIONS=detect_leaks=0"},
              nullptr);
    ASSERT_GT(child, 0);
    int status = 0;
    waitpid(child, &status, 0);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child on display :" << display << " failed";
}

}  // namespace
