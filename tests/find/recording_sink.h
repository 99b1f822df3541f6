// A sink that writes down every notification as one line ("OnFile a",
// "OnEnterDirectory ./S", "SetFoundItem a") and answers false to the one
// the test names. Lines go into room reserved up front, so recording never
// allocates while a search runs.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "find/finder_sink.h"
#include "find/found_item.h"

class RecordingSink : public FinderSink {
 public:
  RecordingSink() { log.reserve(1 << 16); }
  virtual ~RecordingSink() = default;

  // The notification, written as it is logged, that answers false.
  void StopAt(std::string line) { stopLine = std::move(line); }
  void Reset() { log.clear(); }

  bool OnBeforeEnterDirectory(const char* path) override {
    return Note("OnBeforeEnterDirectory", path);
  }
  bool OnFile(const char* name) override { return Note("OnFile", name); }
  bool OnEnterDirectory(const char* path) override { return Note("OnEnterDirectory", path); }
  bool OnLeaveDirectory(const char* path) override { return Note("OnLeaveDirectory", path); }
  void SetFoundItem(FindDataItem& item) override { Note("SetFoundItem", item.record.cFileName); }

  // Every notification but SetFoundItem, in order.
  std::vector<std::string> Events() const { return Lines(false); }
  // Every notification, SetFoundItem included.
  std::vector<std::string> AllEvents() const { return Lines(true); }

 private:
  bool Note(const char* kind, const char* text) {
    const std::size_t start = log.size();
    log += kind;
    log += ' ';
    log += text;
    const bool stop = log.compare(start, std::string::npos, stopLine) == 0;
    log += '\n';
    return !stop;
  }

  std::vector<std::string> Lines(bool withItems) const {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
      if (withItems || line.rfind("SetFoundItem ", 0) != 0) lines.push_back(line);
    }
    return lines;
  }

  std::string log;
  std::string stopLine;
};
