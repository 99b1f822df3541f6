// What a console shows of the tool's output, read back from the console's
// own cells: every name as it is, whatever the console's code page, and the
// console's code page as it was after every way the tool ends. Needs a
// console to attach to; without one the cases skip, unless the environment
// variable PACKHOUND_CONSOLE_REQUIRED says that one was provided.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/windows/console_buffer.h"
#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr)));
  return bytes;
}

// A screen buffer of the console this process is attached to, wide enough
// that no line of a case wraps; inherited by the processes it is given to.
class ConsoleTest : public testing::Test {
 protected:
  static constexpr SHORT kColumns = 2400;

  void SetUp() override {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen == INVALID_HANDLE_VALUE) {
      if (std::getenv("PACKHOUND_CONSOLE_REQUIRED") != nullptr) {
        FAIL() << "no console to write to (error " << GetLastError() << ")";
      }
      GTEST_SKIP() << "no console: run under a terminal (as CI does through script)";
    }
    // The buffer may not be smaller than the console's window.
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    screenRows = std::max<SHORT>(40, info.srWindow.Bottom - info.srWindow.Top + 1);
    ASSERT_TRUE(SetConsoleScreenBufferSize(screen, COORD{kColumns, screenRows}))
        << "error " << GetLastError();
    // A code page that holds none of the names but the accented Latin ones.
    codePage = GetConsoleOutputCP();
    ASSERT_TRUE(SetConsoleOutputCP(437));
  }

  void TearDown() override {
    if (screen == INVALID_HANDLE_VALUE) return;
    CloseHandle(screen);
    SetConsoleOutputCP(codePage);
  }

  // The lines the screen shows, as UTF-8, trailing blanks dropped.
  std::vector<std::string> Shown() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(screen, &info)) return {"<no screen>"};
    std::vector<std::string> lines;
    std::wstring row(kColumns, L' ');
    for (SHORT y = 0; y < info.dwCursorPosition.Y; ++y) {
      DWORD read = 0;
      ReadConsoleOutputCharacterW(screen, row.data(), kColumns, COORD{0, y}, &read);
      const std::size_t end = row.find_last_not_of(L' ', read == 0 ? 0 : read - 1);
      lines.push_back(Utf8(end == std::wstring::npos ? L"" : row.substr(0, end + 1)));
    }
    return lines;
  }

  // Runs the tool in directory with both standard streams on the screen;
  // answers its exit code.
  int RunOnConsole(const fs::path& directory, const std::vector<std::string>& arguments) {
    std::wstring commandLine = L"\"" + Wide(PACKHOUND_PATH) + L"\"";
    for (const std::string& argument : arguments) commandLine += L" \"" + Wide(argument) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = screen;
    startup.hStdError = screen;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(Wide(PACKHOUND_PATH).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                        nullptr, directory.wstring().c_str(), &startup, &process)) {
      ADD_FAILURE() << "cannot start the tool (error " << GetLastError() << ")";
      return -2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
  }

  // Blanks the screen and puts the cursor at its top.
  void Clear() const {
    DWORD filled = 0;
    FillConsoleOutputCharacterW(screen, L' ', static_cast<DWORD>(kColumns) * screenRows,
                                COORD{0, 0}, &filled);
    SetConsoleCursorPosition(screen, COORD{0, 0});
  }

  HANDLE screen = INVALID_HANDLE_VALUE;
  SHORT screenRows = 0;
  UINT codePage = 0;
};

TEST_F(ConsoleTest, NamesAreShownAsTheyAreAndTheCodePageStays) {
  TempTree tree;
  const std::vector<std::string> files = {
      "café\\crème brûlée.txt",
      "Ελλάδα\\Αθήνα\\οδός.txt",
      "日本\\東京 都\\ファイル.txt",
      "😀 faces\\🦴.txt",
  };
  for (const std::string& file : files) {
    const fs::path path = tree.Root() / fs::path(std::u8string(file.begin(), file.end()));
    fs::create_directories(path.parent_path());
    std::ofstream(path).close();
  }
  std::string longOption = "-";
  for (int i = 0; i < 400; ++i) longOption += "日";  // 1,200 bytes: more than a buffer holds

  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> shown;
    int exitCode;
  } rows[] = {
      {"the listing", {"-su", "-nh", "-ns"}, {}, 4},
      {"header and summary",
       {"-su", "-so", "日本"},
       {"Recursive search of 日本 for uncompressed files.",
        "Found 1 uncompressed files in 1 items examined."},
       1},
      {"a fatal message", {"-ñ"}, {"Packhound: Unknown argument: ñ; cannot continue."}, -1},
      {"a line longer than the stream's buffer",
       {longOption},
       {"Packhound: Unknown argument: " + longOption.substr(1) + "; cannot continue."},
       -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Clear();

    EXPECT_EQ(RunOnConsole(tree.Root(), row.arguments), row.exitCode);
    std::vector<std::string> expected = row.shown;
    if (expected.empty()) {
      for (const std::string& file : files) expected.push_back(".\\" + file);
    }
    EXPECT_EQ(SortedLines(Shown()), SortedLines(expected));
    EXPECT_EQ(GetConsoleOutputCP(), 437u);
  }
}

// The buffer alone, over the code pages a process may run in: a character
// whose bytes straddle the end of the buffer is written whole.
TEST_F(ConsoleTest, ACharacterIsNeverSplitAcrossTwoWrites) {
  // Enough ASCII that the character's last `after` bytes fall past the buffer.
  const auto fill = [](std::size_t characterLength, std::size_t after) {
    return std::string(ConsoleBuffer::kRoom - (characterLength - after), 'x');
  };
  const struct {
    const char* name;
    UINT codePage;
    std::string filler;
    std::string character;
    std::wstring shown;
  } rows[] = {
      {"UTF-8, two bytes, one after", CP_UTF8, fill(2, 1), "\xC3\xA9", L"\xE9"},
      {"UTF-8, three bytes, two after", CP_UTF8, fill(3, 2), "\xE6\x97\xA5", L"\x65E5"},
      {"UTF-8, four bytes, one after", CP_UTF8, fill(4, 1), "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"Shift JIS, trail byte after", 932, fill(2, 1), "\x93\xFA", L"\x65E5"},
      {"Windows Latin", 1252, fill(1, 0), "\xE9", L"\xE9"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Clear();
    {
      ConsoleBuffer buffer(screen, row.codePage);
      std::ostream stream(&buffer);
      stream << row.filler << row.character << "!\nnext\n" << std::flush;
      EXPECT_TRUE(stream.good());
    }
    EXPECT_EQ(Shown(), (std::vector<std::string>{row.filler + Utf8(row.shown) + "!", "next"}));
  }
}

}  // namespace
