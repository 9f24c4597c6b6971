// Waits for the number of seconds given, then exits with 3: copied under other names, it
// stands in for a running program, and its exit code tells that it was ended early.
#include <windows.h>

#include <cstdlib>

int main(int argc, char *argv[])
{
    Sleep(argc > 1 ? 1000 * static_cast<DWORD>(std::atoi(argv[1])) : 60000);
    return 3;
}
