/* Holds a window on wine's desktop for as long as it runs, so that the desktop process
   (explorer.exe) started before the tests stays up; see scripts/windows. */
#include <windows.h>

int main(void)
{
    CreateWindowExW(0, L"STATIC", L"desktop keeper", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    Sleep(INFINITE);
    return 0;
}
