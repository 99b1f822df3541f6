// The entry a finder is handling, as its sink sees it.
#pragma once

#include "platform/win32.h"

class FoundItem {
 public:
  virtual ~FoundItem() = default;
  virtual bool IsDirectory() = 0;
  virtual bool IsDotDot() = 0;
  virtual bool IsDot() = 0;
  virtual bool IsFile() = 0;
};

// The only FoundItem: the platform's record of the entry, answered from the
// record alone. Only the directory bit classifies an entry.
class FindDataItem : public FoundItem {
 public:
  FindDataItem() noexcept : record() {}

  bool IsDirectory() override;
  bool IsDotDot() override;  // exactly ".."
  bool IsDot() override;     // exactly "."
  bool IsFile() override;    // not a directory

  WIN32_FIND_DATAA record;  // written only by the owning finder
};
