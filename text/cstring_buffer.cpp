// Direct buffer access and in-place replacement of CString.
#include <algorithm>
#include <climits>
#include <cstring>

#include "text/cstring.h"

namespace {

// First occurrence of needle at or after text, trying only character
// boundaries so that a match never starts on the trail byte of a double-byte
// character.
const char* FindText(const char* text, const char* needle, LONG needleLength) {
  for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
    if (std::strncmp(p, needle, static_cast<std::size_t>(needleLength)) == 0) return p;
  }
  return nullptr;
}

}  // namespace

char* CString::GetBuffer(LONG minLength) noexcept {
  CStringHeader* old = Header();
  if (old->refCount > 1 || minLength > old->capacity) {
    const LONG oldLength = old->length;
    char* oldChars = chars;
    const LONG wanted = std::max(minLength, oldLength);
    if (!AllocateBlock(wanted)) return nullptr;
    if (wanted != 0) {
      std::memcpy(chars, oldChars, static_cast<std::size_t>(oldLength) + 1);
      Header()->length = oldLength;
    }
    ReleaseBlock(old);
  }
  return chars;
}

void CString::ReleaseBuffer() noexcept {
  MakeExclusive();
  if (IsSharedEmpty()) return;
  // A caller that filled the whole room without a terminator still gets a
  // bounded length: the scan never leaves the block.
  CStringHeader* header = Header();
  const void* end = std::memchr(chars, '\0', static_cast<std::size_t>(header->capacity));
  header->length =
      end != nullptr ? static_cast<LONG>(static_cast<const char*>(end) - chars) : header->capacity;
  chars[header->length] = '\0';
}

int CString::Replace(const char* oldText, const char* newText) noexcept {
  const LONG oldLength = lstrlenA(oldText);
  if (oldLength == 0) return 0;
  const LONG newLength = lstrlenA(newText);

  int count = 0;
  for (const char* p = FindText(chars, oldText, oldLength); p != nullptr;
       p = FindText(p + oldLength, oldText, oldLength)) {
    ++count;
  }
  if (count == 0) return 0;

  // Texts that live in this very block would move under the rewrite: keep
  // private copies of them first.
  CString oldCopy;
  CString newCopy;
  if (Owns(oldText)) {
    oldCopy = CString(oldText);
    if (oldCopy.GetLength() != oldLength) return -1;
    oldText = oldCopy;
  }
  if (Owns(newText)) {
    newCopy = CString(newText);
    if (newCopy.GetLength() != newLength) return -1;
    newText = newCopy;
  }

  if (!MakeExclusive()) return -1;
  const long long finalLength = GetLength() + static_cast<long long>(newLength - oldLength) * count;
  if (finalLength > INT_MAX - static_cast<long long>(sizeof(CStringHeader)) - 1) return -1;

  CStringHeader* header = Header();
  if (header->capacity < finalLength) {
    const LONG currentLength = header->length;
    char* oldChars = chars;
    if (!AllocateBlock(static_cast<LONG>(finalLength))) return -1;
    std::memcpy(chars, oldChars, static_cast<std::size_t>(currentLength) + 1);
    Header()->length = currentLength;
    ReleaseBlock(header);
    header = Header();
  }

  LONG length = header->length;
  char* cursor = chars;
  for (int done = 0; done < count; ++done) {
    char* match = const_cast<char*>(FindText(cursor, oldText, oldLength));
    if (match == nullptr) break;
    char* rest = match + oldLength;
    const std::size_t restLength = static_cast<std::size_t>(length - (rest - chars));
    std::memmove(match + newLength, rest, restLength);
    if (newLength > 0) std::memcpy(match, newText, static_cast<std::size_t>(newLength));
    length += newLength - oldLength;
    chars[length] = '\0';
    cursor = match + newLength;
  }
  header->length = length;
  return count;
}
