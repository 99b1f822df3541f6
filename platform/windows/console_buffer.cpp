#include "platform/windows/console_buffer.h"

#include <cstring>

ConsoleBuffer::ConsoleBuffer(HANDLE consoleHandle, UINT textCodePage)
    : console(consoleHandle), codePage(textCodePage) {
  setp(pending, pending + kRoom);
}

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
  const bool written = Flush(false);
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return written ? traits_type::not_eof(c) : traits_type::eof();
}

int ConsoleBuffer::sync() { return Flush(true) ? 0 : -1; }

bool ConsoleBuffer::Flush(bool whole) {
  const int count = static_cast<int>(pptr() - pbase());
  const int complete = whole ? count : CompleteLength(pending, count);
  const bool written = Write(pending, complete);
  std::memmove(pending, pending + complete, static_cast<std::size_t>(count - complete));
  setp(pending, pending + kRoom);
  pbump(count - complete);
  return written;
}

int ConsoleBuffer::CompleteLength(const char* bytes, int count) const {
  if (codePage == CP_UTF8) {
    // A lead byte among the last three that announces more bytes than follow
    // starts an incomplete character.
    for (int back = 1; back <= 3 && back <= count; ++back) {
      const unsigned char lead = static_cast<unsigned char>(bytes[count - back]);
      if ((lead & 0xC0) == 0x80) continue;  // a continuation byte
      const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      return length > back ? count - back : count;
    }
    return count;
  }
  // Double-byte code pages: a lead byte is known only from the start.
  int at = 0;
  while (at < count) {
    const int length = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at])) ? 2 : 1;
    if (at + length > count) break;
    at += length;
  }
  return at;
}

bool ConsoleBuffer::Write(const char* bytes, int count) {
  if (count == 0) return true;
  const int converted = MultiByteToWideChar(codePage, 0, bytes, count, units, kRoom);
  if (converted <= 0) return false;
  int length = 0;
  for (int i = 0; i < converted; ++i) {
    if (units[i] == L'\n') lineUnits[length++] = L'\r';
    lineUnits[length++] = units[i];
  }
  for (int done = 0; done < length;) {
    DWORD written = 0;
    if (!WriteConsoleW(console, lineUnits + done, static_cast<DWORD>(length - done), &written,
                       nullptr)) {
      return false;  // the last error says why, for the message of a failed write
    }
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += static_cast<int>(written);
  }
  return true;
}
