// The six two-letter options. One table describes them: it drives the parsing
// of the command line and the option lines of the usage text.
#pragma once

struct OptionEntry {
  const char* name;         // without the dash
  bool* flag;               // toggled by each occurrence; owned by the driver
  bool defaultOn;           // what the usage text shows after the description
  const char* description;  // one line for the usage text
};

// Thrown, as a pointer to a new object, for an option that matches no row.
struct ExceptionUnknownFlag {
  const char* text;  // the option text after the dash, in the argument vector
};

// The first row whose name is a prefix of text, letter case ignored. Throws a
// new ExceptionUnknownFlag when no row matches.
const OptionEntry* FindOption(const OptionEntry* table, int count, const char* text);

// Toggles the flag of every option argument (an argument starting with "-")
// in order. Ends the process with a fatal message on one that matches no row.
void ParseOptions(int argc, char* argv[], const OptionEntry* table, int count);
