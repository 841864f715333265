// gdi32's screen: the client image each window's device contexts draw into, shown whenever a
// window context is released (from the window's own SDL surface, or through a streaming texture);
// display device contexts (CreateDCW of a display name) with their device caps; and shcore's
// GetDpiForMonitor.
#include <SDL.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Gdi32Internal.h"
#include "User32Internal.h"
#include "platform/Com.h"
#include "platform/Gdi32.h"
#include "platform/Modules.h"
#include "platform/User32.h"

namespace platform::gdi {

namespace {

// One window's client image (XRGB, rows top-down) and what shows it. On the thread that runs
// SDL the image lives in the window's own surface when that is XRGB of the client's size, so
// that showing it copies nothing more; otherwise in the window's streaming texture, locked while
// drawing goes on, so that showing it needs no upload of its own; elsewhere it is kept in memory
// of its own.
struct ClientImage {
    std::vector<std::uint32_t> pixels;  // without a surface or texture
    int width = 0;
    int height = 0;
    SDL_Surface* surface = nullptr;  // the window's surface, owned by the window
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    BYTE* locked = nullptr;  // the texture's pixels while it is locked
    int lockedPitch = 0;
    int presents = 0;
    bool drawn = false;                    // a context asked for the pixels since the last show
    std::vector<std::uint32_t> presented;  // the image as the last release showed it
    int presentedWidth = 0;
    int presentedHeight = 0;
};

struct ScreenState {
    std::mutex lock;
    std::map<HWND, std::unique_ptr<ClientImage>> images;
    bool capture = false;  // keep a copy of each presented image (tests)
};

ScreenState& Screens() {
    static ScreenState* state = new ScreenState;
    return *state;
}

RECT ClientSize(HWND window) {
    RECT r{};
    user32::GetClientRect(window, &r);
    return r;
}

SDL_Window* SdlWindowOf(HWND window) {
    if (!user32::detail::IsVideoThread()) return nullptr;
    std::lock_guard guard(user32::detail::Lock());
    auto w = user32::detail::FindWindowLocked(window);
    return w ? w->sdl : nullptr;
}

void ReleaseSdl(ClientImage& image) {
    if (image.locked) SDL_UnlockTexture(image.texture);
    if (image.texture) SDL_DestroyTexture(image.texture);
    if (image.renderer) SDL_DestroyRenderer(image.renderer);
    image.locked = nullptr;
    image.texture = nullptr;
    image.renderer = nullptr;
    image.surface = nullptr;
}

// The window's own surface when the image can live in it: XRGB of the image's size, its pixels
// reachable without locking, and no renderer of ours already showing the window.
SDL_Surface* UsableWindowSurface(const ClientImage& image, SDL_Window* sdl) {
    if (sdl == nullptr || image.renderer != nullptr) return nullptr;
    SDL_Surface* surface = SDL_GetWindowSurface(sdl);
    if (surface == nullptr || surface->format->format != SDL_PIXELFORMAT_RGB888 ||
        surface->w != image.width || surface->h != image.height || SDL_MUSTLOCK(surface) ||
        surface->pixels == nullptr) {
        return nullptr;
    }
    return surface;
}

// The image's pixels, its first row and pitch (the texture when it can be locked).
bool ImageRows(ClientImage& image, SDL_Window* sdl, BYTE** bits, int* pitch) {
    if (SDL_Surface* surface = UsableWindowSurface(image, sdl)) {
        if (surface != image.surface) {
            // What was drawn before the surface (or since it was last replaced) moves into it.
            BYTE* pixels = static_cast<BYTE*>(surface->pixels);
            for (int y = 0; y < image.height; ++y) {
                BYTE* row = pixels + static_cast<std::ptrdiff_t>(y) * surface->pitch;
                if (image.pixels.empty())
                    std::memset(row, 0, static_cast<std::size_t>(image.width) * 4);
                else
                    std::memcpy(row, &image.pixels[static_cast<std::size_t>(y) * image.width],
                                static_cast<std::size_t>(image.width) * 4);
            }
            image.pixels.clear();
            image.surface = surface;
        }
    } else if (sdl) {
        image.surface = nullptr;  // no longer the window's, or no longer fitting
    }
    if (image.surface) {
        *bits = static_cast<BYTE*>(image.surface->pixels);
        *pitch = image.surface->pitch;
        return true;
    }
    if (sdl && image.renderer == nullptr)
        image.renderer = SDL_CreateRenderer(sdl, -1, SDL_RENDERER_SOFTWARE);
    bool fresh = false;
    if (sdl && image.renderer && image.texture == nullptr) {
        image.texture = SDL_CreateTexture(image.renderer, SDL_PIXELFORMAT_RGB888,
                                          SDL_TEXTUREACCESS_STREAMING, image.width, image.height);
        fresh = true;
    }
    if (sdl && image.texture && image.locked == nullptr) {
        void* p = nullptr;
        int rowBytes = 0;
        if (SDL_LockTexture(image.texture, nullptr, &p, &rowBytes) == 0) {
            image.locked = static_cast<BYTE*>(p);
            image.lockedPitch = rowBytes;
            if (fresh) {
                // What was drawn before the texture existed moves into it.
                for (int y = 0; y < image.height; ++y) {
                    BYTE* row = image.locked + static_cast<std::ptrdiff_t>(y) * rowBytes;
                    if (image.pixels.empty())
                        std::memset(row, 0, static_cast<std::size_t>(image.width) * 4);
                    else
                        std::memcpy(row, &image.pixels[static_cast<std::size_t>(y) * image.width],
                                    static_cast<std::size_t>(image.width) * 4);
                }
                image.pixels.clear();
            }
        }
    }
    if (image.locked) {
        *bits = image.locked;
        *pitch = image.lockedPitch;
        return true;
    }
    if (image.pixels.empty())
        image.pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);
    *bits = reinterpret_cast<BYTE*>(image.pixels.data());
    *pitch = image.width * 4;
    return true;
}

bool WindowSurface(HWND window, Surface* out) {
    RECT client = ClientSize(window);
    int width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return false;
    SDL_Window* sdl = SdlWindowOf(window);
    ScreenState& s = Screens();
    std::lock_guard guard(s.lock);
    auto& slot = s.images[window];
    if (!slot) slot = std::make_unique<ClientImage>();
    ClientImage& image = *slot;
    if (image.width != width || image.height != height) {
        // A new client size starts a new, black image.
        if (image.locked) SDL_UnlockTexture(image.texture);
        if (image.texture) SDL_DestroyTexture(image.texture);
        image.locked = nullptr;
        image.texture = nullptr;
        image.surface = nullptr;
        image.pixels.clear();
        image.width = width;
        image.height = height;
    }
    BYTE* bits = nullptr;
    int pitch = 0;
    ImageRows(image, sdl, &bits, &pitch);
    image.drawn = true;
    out->bits = bits;
    out->width = width;
    out->height = height;
    out->pitch = pitch;
    out->bitCount = 32;
    out->redMask = 0xFF0000;
    out->greenMask = 0xFF00;
    out->blueMask = 0xFF;
    out->palette = nullptr;
    out->paletteSize = 0;
    return true;
}

// Shows the client image: the window surface it was drawn into is updated, or the streaming
// texture it was drawn into is unlocked and presented.
void ShowWindowImage(HWND window) {
    SDL_Window* sdl = SdlWindowOf(window);
    ScreenState& s = Screens();
    std::lock_guard guard(s.lock);
    auto it = s.images.find(window);
    if (it == s.images.end()) return;
    ClientImage& image = *it->second;
    ++image.presents;
    // A window surface SDL has replaced (the window was resized) went with its pixels.
    if (sdl && image.surface && SDL_GetWindowSurface(sdl) != image.surface) image.surface = nullptr;
    // A release with no drawing since the last one shows the same image again.
    if (s.capture && image.drawn) {
        BYTE* bits = nullptr;
        int pitch = 0;
        ImageRows(image, nullptr, &bits, &pitch);
        image.presented.resize(static_cast<std::size_t>(image.width) * image.height);
        for (int y = 0; y < image.height; ++y)
            std::memcpy(&image.presented[static_cast<std::size_t>(y) * image.width],
                        bits + static_cast<std::ptrdiff_t>(y) * pitch,
                        static_cast<std::size_t>(image.width) * 4);
        image.presentedWidth = image.width;
        image.presentedHeight = image.height;
    }
    image.drawn = false;
    if (sdl && image.surface) {
        SDL_UpdateWindowSurface(sdl);
        return;
    }
    if (sdl == nullptr || image.texture == nullptr) return;
    if (image.locked) {
        SDL_UnlockTexture(image.texture);
        image.locked = nullptr;
    } else if (!image.pixels.empty()) {
        SDL_UpdateTexture(image.texture, nullptr, image.pixels.data(), image.width * 4);
    }
    SDL_RenderCopy(image.renderer, image.texture, nullptr, nullptr);
    SDL_RenderPresent(image.renderer);
}

const struct Install {
    Install() { SetWindowHooks(&WindowSurface, &ShowWindowImage); }
} kInstall;

}  // namespace

namespace detail {

// The display index a CreateDCW device name names: "DISPLAY" or null the primary display,
// "\\.\DISPLAYn" display n - 1; -1 for any other device.
int DisplayOfName(LPCWSTR name) {
    if (name == nullptr) return 0;
    std::u16string text(name);
    auto pos = text.find(u"DISPLAY");
    if (pos == std::u16string::npos) return -1;
    int n = 0;
    for (std::size_t i = pos + 7; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        n = n * 10 + (text[i] - u'0');
    return n == 0 ? 0 : n - 1;
}

void WindowDestroyed(HWND window) {
    ScreenState& s = Screens();
    std::lock_guard guard(s.lock);
    auto it = s.images.find(window);
    if (it == s.images.end()) return;
    ReleaseSdl(*it->second);
    s.images.erase(it);
}

int DisplayDeviceCaps(int display, int index) {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    std::u16string name = u"\\\\.\\DISPLAY";
    for (char c : std::to_string(display + 1)) name += static_cast<char16_t>(c);
    if (!user32::EnumDisplaySettingsW(name.c_str(), ENUM_CURRENT_SETTINGS, &mode)) {
        mode.dmPelsWidth = 1024;
        mode.dmPelsHeight = 768;
        mode.dmDisplayFrequency = 60;
    }
    switch (index) {
        case HORZRES:
        case DESKTOPHORZRES:
            return static_cast<int>(mode.dmPelsWidth);
        case VERTRES:
        case DESKTOPVERTRES:
            return static_cast<int>(mode.dmPelsHeight);
        case BITSPIXEL:
            return 32;  // SDL says 24 for XRGB, which a 32-bit display is
        case PLANES:
            return 1;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        case VREFRESH:
            return static_cast<int>(mode.dmDisplayFrequency);
        default:
            return 0;
    }
}

}  // namespace detail

}  // namespace platform::gdi

namespace platform::gdi32 {

HDC CreateDCW(LPCWSTR driver, LPCWSTR device, LPCWSTR, const DEVMODEW*) {
    int display = gdi::detail::DisplayOfName(device ? device : driver);
    if (display < 0) return nullptr;
    gdi::DeviceContext dc;
    dc.display = display;
    return gdi::AddDc(dc);
}

}  // namespace platform::gdi32

namespace platform::shcore {

// Every monitor reports the standard 96 DPI.
HRESULT GetDpiForMonitor(HMONITOR, int, UINT* x, UINT* y) {
    if (x == nullptr || y == nullptr) return E_INVALIDARG;
    *x = 96;
    *y = 96;
    return S_OK;
}

}  // namespace platform::shcore

namespace platform::gdi32test {

void InstallWindowScreen() {
    gdi::SetWindowHooks(&gdi::WindowSurface, &gdi::ShowWindowImage);
}

void CapturePresentedImages(bool on) {
    auto& s = gdi::Screens();
    std::lock_guard guard(s.lock);
    s.capture = on;
}

bool LastPresentedImage(HWND window, std::vector<std::uint32_t>* pixels, int* width, int* height) {
    auto& s = gdi::Screens();
    std::lock_guard guard(s.lock);
    auto it = s.images.find(window);
    if (it == s.images.end() || it->second->presented.empty()) return false;
    const gdi::ClientImage& image = *it->second;
    if (pixels) *pixels = image.presented;
    if (width) *width = image.presentedWidth;
    if (height) *height = image.presentedHeight;
    return true;
}
int PresentCount(HWND window) {
    auto& s = gdi::Screens();
    std::lock_guard guard(s.lock);
    auto it = s.images.find(window);
    return it == s.images.end() ? 0 : it->second->presents;
}

}  // namespace platform::gdi32test

namespace {
using platform::Export;
using platform::ModuleExports;
const ModuleExports kGdiExports("gdi32.dll", {{"CreateDCW", Export(&platform::gdi32::CreateDCW)}});
const ModuleExports kShcoreExports("shcore.dll", {{"GetDpiForMonitor",
                                                   Export(&platform::shcore::GetDpiForMonitor)}});
}  // namespace
