// What a handful of CString objects must hold, written with std::string: the
// text of each, which of them share one block, and every block's capacity.
// Ids name blocks; block 0 is the shared empty instance.
#pragma once

#include <map>
#include <string>

#include "platform/win32.h"

class CStringModel {
 public:
  static constexpr int kSlots = 4;

  const std::string& Text(int slot) const { return slots[slot].text; }
  LONG Length(int slot) const { return static_cast<LONG>(slots[slot].text.size()); }
  int Block(int slot) const { return slots[slot].block; }
  // -1 on the shared empty instance, else the number of holders.
  LONG RefCount(int slot) const;
  LONG Capacity(int slot) const;
  bool SameBlock(int a, int b) const { return Block(a) != 0 && Block(a) == Block(b); }

  // The slot drops its block and becomes the shared empty string.
  void Release(int slot);
  // The slot drops its block and holds text in a fresh block of capacity.
  void Fresh(int slot, LONG capacity, const std::string& text);
  // The slot drops its block and shares the one of source.
  void Share(int slot, int source);
  // New characters in the slot's own block, which must be exclusive.
  void Overwrite(int slot, const std::string& text);

 private:
  struct Slot {
    std::string text;
    int block = 0;
  };
  Slot slots[kSlots];
  std::map<int, LONG> capacities;
  int nextBlock = 1;
};
