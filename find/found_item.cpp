#include "find/found_item.h"

bool FindDataItem::IsDirectory() {
  return (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FindDataItem::IsDotDot() {
  return record.cFileName[0] == '.' && record.cFileName[1] == '.' && record.cFileName[2] == '\0';
}

bool FindDataItem::IsDot() { return record.cFileName[0] == '.' && record.cFileName[1] == '\0'; }

bool FindDataItem::IsFile() { return !IsDirectory(); }
