// Kernel services of the Windows stand-in: ids, tick counts, local time and the
// mapping of Windows drive paths onto this machine's file system.
#pragma once

#include "platform/WinTypes.h"

#include <string>

struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void* FARPROC;

// Milliseconds of CLOCK_MONOTONIC, modulo 2^32.
DWORD GetTickCount();
// The kernel thread id (gettid), so ids match what tools such as ps show.
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
void GetLocalTime(SYSTEMTIME* st);
void Sleep(DWORD milliseconds);

// Maps "C:\..." (either slash, either case of the drive letter) to the folder named by
// $ORBEL_DRIVE_C (default: the current directory). Other drives and UNC paths map to
// an empty string. The variable is read on every call.
std::string MapDrivePath(const std::string& windowsPath);
std::string MapDrivePath(const std::u16string& windowsPath);

// Per-thread last error.
DWORD GetLastError();
void SetLastError(DWORD error);

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_DLL_INIT_FAILED 1114L

// Code pages: CP_ACP is UTF-8 here, so no text is garbled through a narrow code page.
#define CP_ACP 0
#define CP_UTF8 65001
// Lengths of -1 count the terminating NUL; a zero output size asks for the size.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstLen);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, BOOL* usedDefault);

// The filter runs once, from the terminate handler, when an exception escapes any
// thread (fatal signals: best effort); the process then ends as by abort.
struct EXCEPTION_POINTERS;
typedef LONG (*LPTOP_LEVEL_EXCEPTION_FILTER)(EXCEPTION_POINTERS* info);
#define EXCEPTION_EXECUTE_HANDLER 1
#define EXCEPTION_CONTINUE_SEARCH 0
LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter);

// Modules are shared objects; LoadLibraryW runs the module's exported
// BOOL DllMain(HINSTANCE, DWORD, LPVOID) with DLL_PROCESS_ATTACH and fails when it returns FALSE.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
HMODULE LoadLibraryW(LPCWSTR path);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// NULL gives the main program; a name matches a loaded module by file name.
HMODULE GetModuleHandleW(LPCWSTR name);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

namespace platform {
// Switches GetTickCount, GetLocalTime, message times and timers to a manual clock
// (starting at the current readings if it was not manual yet) and moves it forward,
// waking every thread waiting for messages so due timers fire.
void AdvanceClock(DWORD milliseconds);
// Sets the manual clock's tick; the local time does not move.
void SetManualClock(DWORD tick);
// Returns to the real clock.
void UseRealClock();
bool ClockIsManual();
// Hook run whenever the manual clock moves (the window stand-in wakes its queues).
void SetClockListener(void (*listener)());
// Why this thread's last failed LoadLibraryW failed, in the loader's words (empty after a
// success): GetLastError's code alone does not tell a missing file from a broken one.
std::string LastLoadError();
}
