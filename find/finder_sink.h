// Events of a search. Every directory path is the parent's directory joined
// with the subdirectory's name; OnFile receives the bare file name. A false
// answer stops the whole search and no later event is sent.
#pragma once

class FindDataItem;

class FinderSink {
 public:
  virtual bool OnBeforeEnterDirectory(const char* path) = 0;
  virtual bool OnFile(const char* name) = 0;
  virtual bool OnEnterDirectory(const char* path) = 0;
  virtual bool OnLeaveDirectory(const char* path) = 0;
  // Called for every entry before any other event for it; the item stays
  // valid until the finder that handed it over is destroyed.
  virtual void SetFoundItem(FindDataItem& item) = 0;

 protected:
  ~FinderSink() = default;  // never deleted through this interface
};
