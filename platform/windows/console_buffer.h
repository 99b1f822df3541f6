// Text for a console, shown as it is whatever the console's own code page.
#pragma once

#include "platform/win32.h"

#include <streambuf>

// A stream buffer over a console handle. The bytes written are text in
// codePage (the process's ANSI code page); each flush turns the complete
// characters among them into UTF-16 and writes them with WriteConsoleW, so
// nothing depends on, or changes, the console's output code page. Every "\n"
// goes out as "\r\n", as a text stream writes it. The buffer is fixed: a
// flush allocates nothing, so even the out-of-memory message gets through.
// A failed write fails the flush and drops the bytes, like a failed stream,
// with the reason in the last error.
class ConsoleBuffer : public std::streambuf {
 public:
  ConsoleBuffer(HANDLE console, UINT codePage);
  ConsoleBuffer(const ConsoleBuffer&) = delete;
  ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

  // Bytes held before a flush; a longer line goes out in pieces, never
  // splitting a character.
  static constexpr int kRoom = 1024;

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  // Writes the pending bytes; with whole false, the bytes of a character
  // still incomplete at their end stay for the next flush.
  bool Flush(bool whole);
  bool Write(const char* bytes, int count);
  // How many of the count bytes make complete characters of codePage.
  int CompleteLength(const char* bytes, int count) const;

  HANDLE console;  // not owned
  UINT codePage;
  char pending[kRoom];
  wchar_t units[kRoom];          // a character never takes more units than bytes
  wchar_t lineUnits[2 * kRoom];  // and a CR more for each LF
};
