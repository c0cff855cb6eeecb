// Kernel services of the Windows stand-in: ids, tick counts, local time and the
// mapping of Windows drive paths onto this machine's file system.
#pragma once

#include "platform/WinTypes.h"

#include <string>

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
