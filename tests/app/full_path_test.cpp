// The starting path made full over a scripted path service: each call takes
// the next answer of the script, as a platform whose current directory may
// change between two calls would give it. Where an answer says the buffer
// holds no path, the fake fills it with '#' all the same, so that a caller
// who uses it shows.
#include "app/full_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/failing_allocator.h"

namespace {

// One answer: the full path as the platform would make it, or a failure.
struct Answer {
  std::string text;
  DWORD error = ERROR_SUCCESS;  // nonzero: the call fails with this error
};

Answer Full(std::string text) { return {std::move(text), ERROR_SUCCESS}; }
Answer Fails(DWORD error) { return {"", error}; }

std::vector<Answer> script;
std::vector<DWORD> roomsGiven;

void Spoil(DWORD bufferLength, LPSTR buffer) {
  if (buffer == nullptr || bufferLength == 0) return;
  std::memset(buffer, '#', bufferLength);  // and no terminator
}

}  // namespace

DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart) {
  EXPECT_STREQ(fileName, "start");
  EXPECT_EQ(filePart, nullptr);
  roomsGiven.push_back(bufferLength);
  if (roomsGiven.size() > script.size()) {
    ADD_FAILURE() << "call " << roomsGiven.size() << " beyond the script";
    Spoil(bufferLength, buffer);
    return 0;
  }
  const Answer& answer = script[roomsGiven.size() - 1];
  if (answer.error != ERROR_SUCCESS) {
    Spoil(bufferLength, buffer);
    SetLastError(answer.error);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(answer.text.size());
  if (buffer == nullptr || length >= bufferLength) {
    Spoil(bufferLength, buffer);
    return length + 1;
  }
  std::memcpy(buffer, answer.text.c_str(), answer.text.size() + 1);
  return length;
}

namespace {

enum class Outcome { kFull, kAsGiven, kOutOfMemory };

class FullPathTest : public testing::Test {
 protected:
  // Runs MakeFullPath over a fresh script; full starts as "unchanged".
  Outcome Make(std::vector<Answer> answers, CString& full) {
    script = std::move(answers);
    roomsGiven.clear();
    full = "unchanged";
    try {
      return MakeFullPath("start", full) ? Outcome::kFull : Outcome::kAsGiven;
    } catch (const std::bad_alloc&) {
      return Outcome::kOutOfMemory;
    }
  }
};

TEST_F(FullPathTest, UsesTheBufferOnlyWhenThePlatformSaysItHoldsThePath) {
  const std::string longPath = "/" + std::string(5000, 'p');
  const struct {
    const char* name;
    std::vector<Answer> answers;
    Outcome outcome;
    std::string full;  // what full holds afterwards
    std::vector<DWORD> rooms;
  } rows[] = {
      {"asked for its room, then filled",
       {Full("/a/start"), Full("/a/start")},
       Outcome::kFull,
       "/a/start",
       {0, 9}},
      {"longer than any fixed buffer",
       {Full(longPath), Full(longPath)},
       Outcome::kFull,
       longPath,
       {0, 5002}},
      {"cannot be made full", {Fails(ERROR_PATH_NOT_FOUND)}, Outcome::kAsGiven, "unchanged", {0}},
      {"fails once the room is known",
       {Full("/a/start"), Fails(ERROR_FILENAME_EXCED_RANGE)},
       Outcome::kAsGiven,
       "unchanged",
       {0, 9}},
      {"grew between the calls",
       {Full("/a/start"), Full("/longer/start"), Full("/longer/start")},
       Outcome::kFull,
       "/longer/start",
       {0, 9, 14}},
      {"keeps growing",
       {Full("/a"), Full("/ab"), Full("/abc"), Full("/abcd")},
       Outcome::kAsGiven,
       "unchanged",
       {0, 3, 4, 5}},
      {"no memory in the platform to ask",
       {Fails(ERROR_NOT_ENOUGH_MEMORY)},
       Outcome::kOutOfMemory,
       "unchanged",
       {0}},
      {"no memory in the platform to fill",
       {Full("/a/start"), Fails(ERROR_NOT_ENOUGH_MEMORY)},
       Outcome::kOutOfMemory,
       "unchanged",
       {0, 9}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CString full;
    EXPECT_EQ(Make(row.answers, full), row.outcome);
    EXPECT_EQ(std::string(full), row.full);
    EXPECT_EQ(full.GetLength(), static_cast<LONG>(row.full.size()));
    EXPECT_EQ(roomsGiven, row.rooms);
  }
}

TEST_F(FullPathTest, NoMemoryForTheBufferIsOutOfMemory) {
  CString full;
  script = {Full("/a/start"), Full("/a/start")};
  roomsGiven.clear();
  bool threw = false;
  {
    failing_allocator::FailAll failing;
    try {
      MakeFullPath("start", full);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(full.GetLength(), 0);
}

}  // namespace
