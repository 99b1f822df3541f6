#include "app/option_table.h"

#include <cstring>

#include "app/fatal_error.h"
#include "text/cstring.h"

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the first length characters of text equal name, A-Z taken as a-z.
// A text shorter than name differs at its terminator.
bool StartsWithNoCase(const char* text, const char* name, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (LowerAscii(text[i]) != LowerAscii(name[i])) return false;
  }
  return true;
}

}  // namespace

const OptionEntry* FindOption(const OptionEntry* table, int count, const char* text) {
  for (int row = 0; row < count; ++row) {
    if (StartsWithNoCase(text, table[row].name, std::strlen(table[row].name))) return &table[row];
  }
  throw new ExceptionUnknownFlag{text};
}

void ParseOptions(int argc, char* argv[], const OptionEntry* table, int count) {
  const char* rejected = nullptr;
  try {
    for (int i = 1; i < argc; ++i) {
      const char* argument = argv[i];
      if (argument == nullptr || argument[0] != '-') continue;
      const OptionEntry* row = FindOption(table, count, argument + 1);
      *row->flag = !*row->flag;
    }
  } catch (ExceptionUnknownFlag* unknown) {
    rejected = unknown->text;
    delete unknown;
  }
  if (rejected == nullptr) return;

  // The process ends inside FatalError, out of the handler so that the
  // exception is gone by then; the message is kept where the normal exit
  // releases it, so that nothing is left behind.
  static CString message;
  const bool formatted = message.Format("Unknown argument: %s", rejected);
  FatalError(formatted ? static_cast<const char*>(message) : kOutOfMemoryMessage, -1);
}
