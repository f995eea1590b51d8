/* Holds the program's named mutex, as a running KP33 does, for the
 * installer's tests under Wine:
 *   hold-mutex.exe READY RELEASE
 * creates the file READY once it holds the mutex, and lets it go when the
 * file RELEASE exists (both Windows paths).
 *   x86_64-w64-mingw32-gcc -municode -o hold-mutex.exe hold-mutex.c */
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HANDLE mutex = CreateMutexW(NULL, TRUE, L"KP33-ZNK-847");
    if (!mutex)
        return 1;
    HANDLE ready = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (ready == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(ready);
    while (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    CloseHandle(mutex);
    return 0;
}
