// The Win32 names and types the code uses, declared for POSIX systems and
// implemented by the sources beside this header. Only what the code calls is here.
#pragma once

#include <cstdarg>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;  // 32 bits everywhere, unlike the POSIX long
using UINT = unsigned int;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using PUINT = UINT*;
using HANDLE = void*;
using HMODULE = void*;
using HRESULT = LONG;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD MAX_PATH = 260;

inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000EU);

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x00000040;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;
inline constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x00000800;
inline constexpr DWORD FILE_ATTRIBUTE_ENCRYPTED = 0x00004000;

inline constexpr DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003U;
inline constexpr DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000CU;

// Links, junctions and mount points name another place instead of holding data.
inline constexpr bool IsReparseTagNameSurrogate(DWORD tag) { return (tag & 0x20000000U) != 0; }

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_DIRECTORY = 267;  // a directory name that names something else
// Altered from outside since it was looked at: a listed directory that changed before it was
// opened.
inline constexpr DWORD ERROR_FILE_INVALID = 1006;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;  // reparse tag when FILE_ATTRIBUTE_REPARSE_POINT is set
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
using LPWIN32_FIND_DATAA = WIN32_FIND_DATAA*;

// Error code of the calling thread's last failing call.
DWORD GetLastError();
void SetLastError(DWORD errorCode);

// Text services. lstrlenA answers 0 for a null pointer.
int lstrlenA(LPCSTR text);
LPSTR CharNextA(LPCSTR text);
void OutputDebugStringA(LPCSTR text);  // to standard error
void DebugBreak();                     // raises SIGTRAP

// Bounded printf-style formatting in the Win32 dialect ("I64" size prefix, no
// floating point). Writes at most cchDest characters, terminator included.
int wvnsprintfA(LPSTR dest, int cchDest, LPCSTR format, va_list arguments);

// Atomic; both answer the new value.
inline LONG InterlockedIncrement(LONG volatile* addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

// Directory enumeration. The search specification is a directory, the
// separator and a wildcard pattern ("*", "?", letter case ignored).
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData);
BOOL FindClose(HANDLE findFile);

// Full path of a file name, resolved as text against the current directory.
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart);

// Path of the running executable when module is null.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// Version resource of an executable file.
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);

// Path separator of this platform's file names.
inline constexpr char kPathSeparator = '/';

// Room for a full path, terminator included (PATH_MAX).
inline constexpr DWORD kFullPathBufferSize = 4096;
