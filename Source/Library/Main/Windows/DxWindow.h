// The library's main window: the library call lock, the system report, the window's state record,
// the window system's start and end, the window procedure, window mode, styles, size and scale,
// activation and the inactive wait, and the optional window features (menu, toolbar, region,
// layered presentation), which nothing switches on and which are kept in their off state.
#pragma once

#include <cstdint>

#include "Main/DxThread.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

inline constexpr int kLibraryCallLockQueueSize = 4096;

struct LibraryCallLockWaiter {
    int threadId;
    HANDLE event;  // every entry carries one; the pool of events only moves between entries
};

// A field group of the main window's state; the window start-up keeps it when it resets the rest.
struct LibraryCallLock {
    int depth;
    int owned;
    int owner;  // -1 once released
    LibraryCallLockWaiter queue[kLibraryCallLockQueueSize];
    int eventsCreated;
    int count;  // waiting threads, in arrival order from entry 0
    TracedLock guard;
};

extern LibraryCallLock CallLock;

// WindowsVersionCode values; callers compare ranges (above 261, 264 or more, 268 or more).
enum WindowsVersionCode : int {
    WINDOWS_VERSION_31 = 0,
    WINDOWS_VERSION_95 = 1,
    WINDOWS_VERSION_98 = 2,
    WINDOWS_VERSION_ME = 3,
    WINDOWS_VERSION_NT31 = 260,  // NT 3.51
    WINDOWS_VERSION_NT40 = 261,
    WINDOWS_VERSION_2000 = 262,
    WINDOWS_VERSION_XP = 263,
    WINDOWS_VERSION_VISTA = 264,
    WINDOWS_VERSION_7 = 265,
    WINDOWS_VERSION_8 = 266,
    WINDOWS_VERSION_8_1 = 267,
    WINDOWS_VERSION_10 = 268,
    WINDOWS_VERSION_11 = 269,
};

// What the system report leaves for the other modules (fields of the main window's state).
struct SystemReportState {
    char16_t windowsDescription[256];
    int logicalProcessorCount;
    int windowsVersionCode;
    int directXVersionCode;
};

extern SystemReportState SystemReport;

// Writes the library version, the processor count and the Windows version to the log, stores the
// processor count and the WindowsVersionCode, and raises the system timer's resolution. 0.
int LogSystemReport();

void EnterLibraryCallLock();
void LeaveLibraryCallLock();
void CloseLibraryCallLock();

inline constexpr int kActivationStockSize = 512;
inline constexpr int kMaxDroppedFiles = 1000;
inline constexpr int kWindowTextUnits = 256;

struct ActivationStock {
    int count;
    int readIndex;
    int writeIndex;
    WPARAM wParam[kActivationStockSize];
    LPARAM lParam[kActivationStockSize];
    int isActivateApp[kActivationStockSize];
    int fromLoop[kActivationStockSize];
};

struct ToolbarButton {
    int id;
    int state;
    int clicked;
    int reserved[2];
};

struct MainWindowState {
    // System information (kept over a restart; the system report is SystemReport).
    char16_t graphicsInterfaceName[kWindowTextUnits];
    std::uint64_t availablePhysicalMemory;
    std::uint64_t totalPhysicalMemory;
    char16_t adapterDescription[2][kWindowTextUnits];

    HINSTANCE instance;
    HWND mainWindow;  // kept
    int compositionDisabled;
    int captionHeight;
    HRGN windowRegion;  // setting
    int styleMode;      // setting: index into WindowStyleTable
    DWORD mainThreadId;
    RECT windowRect;          // screen coordinates
    RECT clientRectOnScreen;  // screen coordinates
    int windowMode;           // setting: 1 window, 0 full screen
    int modeChanging;
    int lastSysChar;
    int endRequested;  // the window system asks the library to end
    int closePosted;
    int destroyed;
    int repaintThrottle;
    int repaintThrottleTime;
    int active;
    int minimized;
    int inactiveWaiting;
    int inactiveWaitStart;
    int closeRequest;  // 0 none, 4 the window received WM_CLOSE
    int painting;
    int cursorSetting;  // 1 show, 0 hide
    int cursorApplied;
    int wheelVertical;
    int wheelHorizontal;
    ActivationStock stock;
    int activationInProgress;
    int lastCharTime;
    int lastCharCode;
    int counterPresent;
    std::int64_t counterFrequency;
    int comInitialised;  // setting
    int creating;
    int stockSwitch;
    int captureExists;
    int captureGraph;
    char logText[3072];                    // kept
    int titleSet;                          // setting
    char16_t title[kWindowTextUnits];      // setting
    char16_t className[kWindowTextUnits];  // setting
    int keepRunningInactive;               // setting
    int captureInProgress;
    int iconId;  // setting

    // Menu, toolbar (off in this system).
    HMENU menu;
    int menuAttached;
    int menuInUse;
    int menuHidden;
    int menuShown;
    int menuAutoShow;
    int selectedMenuIdCount;
    int selectedMenuIds[64];
    int menuItemCount;
    int toolbarExists;
    HWND toolbarWindow;
    HBITMAP toolbarBitmap;
    int toolbarButtonCount;
    ToolbarButton toolbarButtons[64];

    // Size and scale.
    int resizable;
    int scaleSet;
    double scaleX;
    double scaleY;
    int scaleChanging;
    int noStretch;
    int requestedWidth;
    int requestedHeight;
    int requestedSizeSet;
    int sizeSetWhileInitialising;
    int positionX;
    int positionY;
    int positionSet;
    int maxWidth;
    int maxHeight;
    int maxSizeSet;
    int minWidth;
    int minHeight;
    int minSizeSet;
    int frameLeft;
    int frameRight;
    int frameTop;
    int frameBottom;
    int shown;
    int maximized;
    RECT maximizedClientRect;
    RECT maximizedWindowRect;
    RECT lastPlacedRect;
    int inLoop;

    // Layered presentation (off in this system).
    int layeredColorKeyMode;
    int layeredAlphaMode;

    WNDPROC messageHook;  // setting
    int hookHandled;
    HWND dialogWindow;
    int acceptDroppedFiles;  // setting
    int droppedFileCount;
    char16_t* droppedFiles[kMaxDroppedFiles];

    // Read by the pump.
    HACCEL acceleratorTable;
    int mouseClip;  // setting
    int mouseClipApplied;
    int allowModeToggle;  // setting
    int modeToggleRequested;
    int (*modeChangeCallback)(void* data);  // setting
    void* modeChangeCallbackData;           // setting
    int alwaysShowMenu;                     // setting
};

// The one record; zero at program load.
extern MainWindowState MainWindow;

struct WindowStyleEntry {
    int showCommand;
    DWORD windowStyle;
    DWORD windowExStyle;
    DWORD fullScreenStyle;
    DWORD fullScreenExStyle;
};
extern const WindowStyleEntry WindowStyleTable[12];

// ---- Window system (start, end, COM, title, icon, queries) ----
int StartWindowSystem();
int CloseWindowSystem();
int StartComApartment();
int EndComApartment();
int SetWindowCaption(const char* text);  // text in the NarrowEncoding
int SetWindowIconResource(int id);
HWND QueryMainWindow();
HWND GetDrawTargetWindow();
int IsWindowedMode();
int IsWindowQuitRequested();
int CheckWindowCloseRequest(int unused);
int GetMainWindowTopLeft(int* x, int* y);
int SetDialogMessageWindow(HWND window);
int ApplyFileDropSetting();

// ---- Window procedure ----
LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int SetWindowMessageHook(WNDPROC hook);
int SetHookMessageHandled(int flag);
int IsCursorInClientArea();
int ScreenPointToImagePoint(int x, int y, int* outX, int* outY);
int ClearDroppedFiles();
int ProcessWindowMove(LPARAM lParam);
int ProcessWindowPaint(HDC dc, const RECT* rect, int force);
// The text-entry module's typed-character queue; null: the characters are dropped.
using TypedCharacterSink = int (*)(int code);
void SetTypedCharacterSink(TypedCharacterSink sink);

// ---- Window mode, styles, size and scale ----
int ChangeWindowMode(int flag);
int StoreWindowModeFlag(int flag);
int SelectWindowStyle(int mode);
int SetWindowResizable(int resizable, int stretch);
int SetWindowScaleFactors(double x, double y);
double GetWindowScaleFactors(double* x, double* y);
int SetWindowClientPosition(int x, int y);
int ApplyWindowStyle(int center);
int ProcessWindowSize();
int GetWindowModeScreenSize(int* width, int* height);
int GetDesktopMetrics(int* width, int* height, int* colorBits, int* refreshRate, int* left,
                      int* top, int* width2, int* height2, int* dpiX, int* dpiY);
int ReadDisplayDpi(int* x, int* y, int display);
int SetDesktopCompositionEnabled(int flag);
int SetMouseCursorVisible(int flag);
int GetMouseCursorVisibleSetting();
int TruncateDoubleToInt(double x);

// ---- Activation, inactive waiting and foreground ----
int HandleWindowActivation(WPARAM wParam, LPARAM lParam, int isActivateApp, int fromLoop);
int StockActivation(WPARAM wParam, LPARAM lParam, int isActivateApp, int fromLoop);
int IsInactiveWaitNeeded();
int WaitWhileWindowInactive();
int IsMainWindowActive();
int SetKeepRunningWhenInactive(int flag);
int GetKeepRunningWhenInactive();
int ForceWindowToForeground(HWND window, int topmost);
int DrawInactiveScreen(HDC dc);

// ---- Optional window features (off) ----
int EnableWindowMenu(int flag);
int ShowWindowMenu(int flag);
int IsWindowMenuShown();
int UpdateMenuAutoShow();
int BuildToolbar(const char16_t* bitmapFile, int buttonCount, int resourceId);
int ToolbarButtonIndex(int id);
int RemoveToolbarButtons();
int MeasureToolbarHeight();
int SetWindowRegionImage(const char16_t* file);

}  // namespace ZiDaz
