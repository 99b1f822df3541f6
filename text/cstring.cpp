// Construction, sharing, assignment and concatenation of CString.
#include "text/cstring.h"

#include <climits>
#include <cstddef>
#include <cstring>
#include <functional>
#include <new>

namespace {

// The one empty string every empty CString points at: count -1, never freed.
struct SharedEmpty {
  CStringHeader header;
  char terminator;
};
static_assert(offsetof(SharedEmpty, terminator) == sizeof(CStringHeader),
              "the characters must follow the header directly");
SharedEmpty sharedEmpty = {{-1, 0, 0}, '\0'};

char* EmptyChars() { return sharedEmpty.header.Chars(); }

// A null result and a thrown std::bad_alloc both mean "no memory".
void* AllocateRaw(std::size_t bytes) noexcept {
  try {
    return ::operator new(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

CString::CString() noexcept : chars(EmptyChars()) {}

CString::CString(const char* text) noexcept : chars(EmptyChars()) {
  if (text == nullptr) return;
  const LONG count = lstrlenA(text);
  if (count > 0 && AllocateBlock(count)) std::memcpy(chars, text, static_cast<std::size_t>(count));
}

CString::CString(const CString& source) noexcept : chars(EmptyChars()) {
  if (source.GetRefCount() < 0) {
    AssignChars(lstrlenA(source.chars), source.chars);
    return;
  }
  chars = source.chars;
  InterlockedIncrement(&Header()->refCount);
}

CString::~CString() { ReleaseBlock(Header()); }

bool CString::IsSharedEmpty() const noexcept { return Header() == &sharedEmpty.header; }

bool CString::Owns(const char* text) const noexcept {
  const char* begin = chars;
  return text != nullptr && !IsSharedEmpty() && std::less_equal<const char*>()(begin, text) &&
         std::less_equal<const char*>()(text, begin + GetCapacity());
}

bool CString::AllocateBlock(LONG count) noexcept {
  if (count == 0) {
    chars = EmptyChars();
    return true;
  }
  if (count < 0) return false;
  void* raw = AllocateRaw(sizeof(CStringHeader) + static_cast<std::size_t>(count) + 1);
  if (raw == nullptr) return false;
  CStringHeader* header = new (raw) CStringHeader{1, count, count};
  chars = header->Chars();
  chars[count] = '\0';
  return true;
}

void CString::ReleaseBlock(CStringHeader* header) noexcept {
  if (header == &sharedEmpty.header) return;
  if (InterlockedDecrement(&header->refCount) <= 0) ::operator delete(header);
}

void CString::Release() noexcept {
  ReleaseBlock(Header());
  chars = EmptyChars();
}

// Copy before write. The private copy is made before the shared block is let
// go, so the source cannot vanish under the copy even if another thread drops
// the last other reference meanwhile.
bool CString::MakeExclusive() noexcept {
  CStringHeader* old = Header();
  if (old->refCount <= 1) return true;
  char* oldChars = chars;
  const LONG oldLength = old->length;
  const bool copied = AllocateBlock(oldLength);
  if (copied && oldLength > 0)
    std::memcpy(chars, oldChars, static_cast<std::size_t>(oldLength) + 1);
  if (!copied) chars = EmptyChars();
  ReleaseBlock(old);
  return copied;
}

bool CString::PrepareOverwrite(LONG count) noexcept {
  const CStringHeader* header = Header();
  if (header->refCount > 1 || count > header->capacity) {
    Release();
    return AllocateBlock(count);
  }
  return true;
}

void CString::AssignChars(LONG count, const char* source) noexcept {
  if (!PrepareOverwrite(count)) return;
  if (IsSharedEmpty()) return;
  // The source may lie inside this very block (a tail of the string itself),
  // and is null for a null text, which no copy may be handed.
  if (count > 0) std::memmove(chars, source, static_cast<std::size_t>(count));
  Header()->length = count;
  chars[count] = '\0';
}

bool CString::ConcatChars(LONG firstCount, const char* first, LONG secondCount,
                          const char* second) noexcept {
  const long long total = static_cast<long long>(firstCount) + secondCount;
  if (total == 0) {
    chars = EmptyChars();
    return true;
  }
  if (total > INT_MAX - static_cast<long long>(sizeof(CStringHeader)) - 1) return false;
  if (!AllocateBlock(static_cast<LONG>(total))) return false;
  std::memcpy(chars, first, static_cast<std::size_t>(firstCount));
  std::memcpy(chars + firstCount, second, static_cast<std::size_t>(secondCount));
  return true;
}

void CString::AppendChars(LONG count, const char* source) noexcept {
  if (count <= 0) return;
  CStringHeader* header = Header();
  if (header->refCount <= 1 && static_cast<long long>(header->length) + count <= header->capacity) {
    std::memmove(chars + header->length, source, static_cast<std::size_t>(count));
    header->length += count;
    chars[header->length] = '\0';
    return;
  }
  // Exactly the new length; the old block (which may hold the source) is
  // released only once both pieces are copied.
  if (!ConcatChars(header->length, chars, count, source)) return;
  ReleaseBlock(header);
}

CString& CString::operator=(const CString& source) noexcept {
  if (chars == source.chars) return *this;
  if (source.GetRefCount() < 0) {
    AssignChars(source.GetLength(), source.chars);
    return *this;
  }
  InterlockedIncrement(&source.Header()->refCount);
  ReleaseBlock(Header());
  chars = source.chars;
  return *this;
}

CString& CString::operator=(const char* text) noexcept {
  AssignChars(lstrlenA(text), text);
  return *this;
}

CString& CString::operator+=(const char* text) noexcept {
  AppendChars(lstrlenA(text), text);
  return *this;
}

CString operator+(const CString& left, const CString& right) noexcept {
  CString result;  // stays empty when the allocation fails
  result.ConcatChars(left.GetLength(), left.chars, right.GetLength(), right.chars);
  return result;
}
