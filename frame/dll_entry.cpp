// The entry point of a Windows module: what the standard start-up's default
// attach routine does, and nothing else. The module has no initialisation of
// its own and no thread-local data, so it asks not to be told of threads
// starting and ending. Linked instead of the toolchain's start-up objects,
// which would bring thread-local storage callbacks with them.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
