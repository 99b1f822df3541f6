#include "app/option_table.h"

#include <cstring>

#include "app/fatal_error.h"
#include "text/ascii_case.h"
#include "text/cstring.h"

const OptionEntry* FindOption(const OptionEntry* table, int count, const char* text) {
  for (int row = 0; row < count; ++row) {
    // A text shorter than the name differs at its terminator.
    if (EqualFoldingAsciiCase(text, table[row].name, std::strlen(table[row].name))) {
      return &table[row];
    }
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
