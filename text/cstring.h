// CString: the counted, reference-counted, copy-on-write 8-bit string that holds
// every path and message. The object is one pointer to its characters; a header
// with the counts stands right before them in the same heap block, so a CString
// is its own NUL-terminated text. Operations never throw: an allocation failure
// is reported through the result, or leaves the string in the documented state.
#pragma once

#include <cstdarg>

#include "platform/win32.h"

struct CStringHeader {
  LONG refCount;  // -1 on the shared empty instance, which is never freed
  LONG length;    // characters in use, terminator not counted
  LONG capacity;  // characters that fit, terminator not counted

  char* Chars() { return reinterpret_cast<char*>(this + 1); }
};

class CString {
 public:
  CString() noexcept;
  CString(const char* text) noexcept;  // NOLINT: converts implicitly, as a text type should
  CString(const CString& source) noexcept;
  ~CString();

  CString& operator=(const CString& source) noexcept;
  CString& operator=(const char* text) noexcept;
  CString& operator+=(const char* text) noexcept;
  friend CString operator+(const CString& left, const CString& right) noexcept;

  LONG GetLength() const noexcept { return Header()->length; }
  operator const char*() const noexcept { return chars; }  // NOLINT: valid until the next change

  // Writable room for at least minLength characters plus the terminator; null
  // when memory runs out, the string then unchanged.
  char* GetBuffer(LONG minLength) noexcept;
  // Takes the length back from the text written through GetBuffer.
  void ReleaseBuffer() noexcept;
  // Replaces every occurrence of oldText, left to right; answers the count, or
  // -1 when memory runs out.
  int Replace(const char* oldText, const char* newText) noexcept;

  // printf-style formatting in the platform's dialect; false when the buffer
  // could not be allocated, the string then unchanged.
  bool Format(const char* format, ...) noexcept;
  bool FormatV(const char* format, va_list arguments) noexcept;

  // Block state, for callers that reason about sharing and room.
  LONG GetCapacity() const noexcept { return Header()->capacity; }
  LONG GetRefCount() const noexcept { return Header()->refCount; }

 private:
  CStringHeader* Header() const noexcept { return reinterpret_cast<CStringHeader*>(chars) - 1; }
  bool IsSharedEmpty() const noexcept;

  bool AllocateBlock(LONG count) noexcept;
  static void ReleaseBlock(CStringHeader* header) noexcept;
  void Release() noexcept;
  bool MakeExclusive() noexcept;
  bool PrepareOverwrite(LONG count) noexcept;
  void AssignChars(LONG count, const char* source) noexcept;
  bool ConcatChars(LONG firstCount, const char* first, LONG secondCount,
                   const char* second) noexcept;
  void AppendChars(LONG count, const char* source) noexcept;
  bool Owns(const char* text) const noexcept;

  char* chars;
};
