// Redirects a standard stream into a string for the life of the object.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& captured) : stream(captured), saved(captured.rdbuf()) {
    stream.rdbuf(text.rdbuf());
  }
  ~StreamCapture() { stream.rdbuf(saved); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  std::string Text() const { return text.str(); }

 private:
  std::ostream& stream;
  std::streambuf* saved;
  std::ostringstream text;
};
