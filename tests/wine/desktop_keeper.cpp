// Keeps Wine's desktop up for a whole test run. Wine starts its desktop process for the first
// program that needs one and lets it go a moment after the last such program has ended; every
// short test program would then start it anew and wait for it, on the output pipe the desktop
// inherited, for a second or two. This program owns a message-only window, so the desktop stays
// for as long as it runs, which is until the Wine server is ended.
//
//   desktop_keeper.exe <ready file>   creates <ready file> once the window exists
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZorvekDesktopKeeper";
    if (RegisterClassW(&windowClass) == 0) return 1;
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;

    const HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
