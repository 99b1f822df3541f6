#include "fuzz/cstring_model.h"

#include <cstdio>
#include <cstdlib>

LONG CStringModel::RefCount(int slot) const {
  const int block = Block(slot);
  if (block == 0) return -1;
  LONG holders = 0;
  for (const Slot& other : slots) holders += other.block == block ? 1 : 0;
  return holders;
}

LONG CStringModel::Capacity(int slot) const {
  const int block = Block(slot);
  return block == 0 ? 0 : capacities.at(block);
}

void CStringModel::Release(int slot) {
  const int block = slots[slot].block;
  slots[slot].block = 0;
  slots[slot].text.clear();
  if (block == 0) return;
  for (const Slot& other : slots) {
    if (other.block == block) return;
  }
  capacities.erase(block);
}

void CStringModel::Fresh(int slot, LONG capacity, const std::string& text) {
  const std::string kept = text;  // text may be this slot's own
  Release(slot);
  slots[slot].block = nextBlock++;
  slots[slot].text = kept;
  capacities[slots[slot].block] = capacity;
}

void CStringModel::Share(int slot, int source) {
  if (slot == source) return;
  Release(slot);
  slots[slot] = slots[source];
}

void CStringModel::Overwrite(int slot, const std::string& text) {
  if (Block(slot) == 0 && text.empty()) return;  // the shared empty instance takes only its NUL
  if (RefCount(slot) != 1 || static_cast<LONG>(text.size()) > Capacity(slot)) {
    std::fprintf(stderr, "model misuse: overwrite of a block that is shared or too small\n");
    std::abort();
  }
  slots[slot].text = text;
}
