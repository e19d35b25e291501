// The Windows desktop player: one fixed-size window showing the title picture, whose button strip
// drives the transport, the open-song dialog and the one error message, over the ANSI Win32 calls.
#include <windows.h>

#include <commdlg.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/windows_output.hpp"
#include "sequencer/clock.hpp"
#include "sequencer/player.hpp"
#include "sequencer/transport.hpp"
#include "sound/drum_kit.hpp"

namespace {

using namespace rkv;

// Shift-JIS (code page 932) texts, handed unchanged to the ANSI calls.
constexpr char FILTERS[] = "VantleMusicData[*.rkv]\0*.rkv\0"
                           "\x91S\x82\xC4\x82\xCC\x8C`\x8E\xAE [*.*]\0*.*\0";
constexpr char DIALOG_TITLE[] = "\x83t\x83@\x83"
                                "C\x83\x8B\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD";
constexpr char INVALID_FILE[] = "\x82\xB1\x82\xEA\x82\xCD\x97L\x8C\xF8\x82\xC8RKV\x83t\x83@\x83"
                                "C\x83\x8B\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1";
constexpr char CLASS_NAME[] = "TuvimoPlayer2Window";
constexpr int PICTURE_WIDTH = 192;
constexpr int PICTURE_HEIGHT = 80;

HWND mainWindow = nullptr;
HINSTANCE instance = nullptr;
HBITMAP titleBitmap = nullptr;
char songPath[MAX_PATH];
int scale = 1; // whole device pixels per picture pixel

Player* player = nullptr;
WindowsOutput* output = nullptr;

void command(std::int32_t code, const char* path = nullptr, LoadOutcome* outcome = nullptr) {
    transportCommand(*player, code, path, outcome);
    output->wake();
}

// 0: cancelled or failed; 1: chosen and readable; 2: chosen but it cannot be opened.
int openSongDialog(HWND owner, char* path, DWORD size, const char* title, DWORD flags) {
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    std::memcpy(path, "*.rkv", 6);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = instance;
    ofn.lpstrFilter = FILTERS;
    ofn.lpstrFile = path;
    ofn.nMaxFile = size; // a longer path makes the dialog fail rather than overflow the buffer
    ofn.lpstrTitle = title;
    ofn.Flags = flags;
    ofn.lpstrDefExt = "rkv";
    if (!GetOpenFileNameA(&ofn)) return 0;
    InvalidateRect(owner, nullptr, TRUE);
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return 2;
    std::fclose(file);
    return 1;
}

void showInvalidFile() {
    MessageBoxA(mainWindow, INVALID_FILE, "File error!", MB_OK);
}

int checkSongMagic(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return 0;
    std::uint8_t head[4] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (hasSongMagic(std::span<const std::uint8_t>(head, got))) return 1;
    showInvalidFile();
    return 0;
}

int loadSongInteractive() {
    switch (openSongDialog(mainWindow, songPath, sizeof songPath, DIALOG_TITLE, OFN_HIDEREADONLY)) {
    case 0:
        return 0;
    case 2:
        return 1;
    default:
        break;
    }
    if (!checkSongMagic(songPath)) return 0;
    LoadOutcome outcome;
    command(TRANSPORT_LOAD, songPath, &outcome);
    // A file with the magic that the loader still refuses gets the same message.
    if (outcome.status == LoadStatus::Refused) {
        showInvalidFile();
        return 0;
    }
    return 1;
}

void paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HDC memory = CreateCompatibleDC(dc);
    SelectObject(memory, titleBitmap);
    if (scale == 1) {
        BitBlt(dc, 2, 2, PICTURE_WIDTH, PICTURE_HEIGHT, memory, 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, 2 * scale, 2 * scale, PICTURE_WIDTH * scale, PICTURE_HEIGHT * scale, memory,
                   0, 0, PICTURE_WIDTH, PICTURE_HEIGHT, SRCCOPY);
    }
    EndPaint(window, &ps);
    DeleteDC(memory);
}

void click(LPARAM at) {
    // Zones in picture coordinates; on a scaled window a picture pixel is hit anywhere inside it.
    const int y = HIWORD(at) / scale;
    if (y <= 50 || y >= 82) return;
    const int x = LOWORD(at) / scale;
    if (x > 2 && x < 50) {
        command(TRANSPORT_REWIND);
    } else if (x > 50 && x < 98) {
        command(TRANSPORT_PLAY);
    } else if (x > 98 && x < 146) {
        command(TRANSPORT_STOP);
    } else if (x > 146 && x < 194) {
        command(TRANSPORT_STOP);
        loadSongInteractive();
    }
}

LRESULT CALLBACK playerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        paint(window);
        return 0;
    case WM_LBUTTONDOWN:
        click(lParam);
        return 0;
    case WM_KEYDOWN:
        return 0;
    case WM_DESTROY:
        stopClock(*player);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The drum sounds are real resources of type WAVE; the drum kit looks them up in this table.
struct WaveResources {
    std::vector<ResourceEntry> entries;
    std::vector<std::string> names;
};

BOOL CALLBACK addWave(HMODULE module, LPCSTR, LPSTR name, LONG_PTR user) {
    auto& table = *reinterpret_cast<WaveResources*>(user);
    if (IS_INTRESOURCE(name)) return TRUE;
    HRSRC found = FindResourceA(module, name, "WAVE");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (!loaded) return TRUE;
    table.names.emplace_back(name);
    table.entries.push_back({nullptr, "WAVE",
                             static_cast<const std::uint8_t*>(LockResource(loaded)),
                             SizeofResource(module, found)});
    return TRUE;
}

ResourceTable waveResources(WaveResources& table) {
    EnumResourceNamesA(instance, "WAVE", addWave, reinterpret_cast<LONG_PTR>(&table));
    for (std::size_t i = 0; i < table.entries.size(); ++i)
        table.entries[i].name = table.names[i].c_str();
    return {table.entries.data(), table.entries.size()};
}

// The picture grows by a whole factor on high-DPI screens (declared DPI-aware in the manifest).
int screenScale() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi >= 144 ? (dpi + 48) / 96 : 1;
}

// Where the frame leaves less than the picture needs, the window grows so its client area holds it.
void fitClientArea(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const LONG width = (PICTURE_WIDTH + 2) * scale;
    const LONG height = (PICTURE_HEIGHT + 2) * scale;
    if (client.right >= width && client.bottom >= height) return;
    RECT outer = {0, 0, std::max(client.right, width), std::max(client.bottom, height)};
    AdjustWindowRect(&outer, GetWindowLongA(window, GWL_STYLE), FALSE);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
}

} // namespace

int WINAPI WinMain(HINSTANCE self, HINSTANCE, LPSTR, int show) {
    instance = self;
    auto owned = std::make_unique<Player>();
    player = owned.get();
    WindowsOutput device(false, &player->state);
    output = &device;
    WaveResources drums;
    player->resources = waveResources(drums);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_OWNDC | CS_DBLCLKS;
    wc.lpfnWndProc = playerWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "ICON");
    wc.hIconSm = LoadIconA(instance, "ICON");
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    wc.lpszClassName = CLASS_NAME;
    titleBitmap = LoadBitmapA(instance, "TITLE");
    if (!RegisterClassExA(&wc)) return 0;

    scale = screenScale();
    mainWindow = CreateWindowExA(0, CLASS_NAME, "TuvimoPlayer2",
                                 WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 32, 32, 202,
                                 108, nullptr, nullptr, instance, nullptr);
    if (!mainWindow) return 0;
    fitClientArea(mainWindow);
    ShowWindow(mainWindow, show);
    UpdateWindow(mainWindow);

    // Without a device no voice can be created and the player is silent, but the frame clock
    // still runs in real time, so play and stop behave the same.
    if (!initSoundDevice(player->bank, &device)) device.startSilent(player->bank);
    loadDrumKit(player->bank, player->state, player->resources);

    // Waits for each message instead of polling: the idle player costs nothing.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    device.stop(); // the output thread reads the bank: end it before the player goes away
    return static_cast<int>(msg.wParam);
}
