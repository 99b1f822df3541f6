// Directory enumeration of the Win32 interface over getdents64 and statx.
//
// One search is one open directory and one 64 KiB batch of its listing, read
// with getdents64 and filtered as batch_reader.h says. Per entry the only
// system call is one statx relative to the open directory (a symbolic link
// costs a second one, to learn whether it leads to a directory); the pattern
// is matched before it, and nothing is allocated.
//
// When the walk may use more than one thread, listings come through the
// read-ahead (read_ahead.h) instead, which reads them the same way on worker
// threads before the walk asks for them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/posix/ancestor_directories.h"
#include "platform/posix/batch_reader.h"
#include "platform/posix/directory_entries.h"
#include "platform/posix/open_below.h"
#include "platform/posix/read_ahead.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/walk_start.h"
#include "platform/win32.h"

namespace {

struct Search {
  bool readAhead;  // the listing comes through the read-ahead, from cursor
  read_ahead::Cursor cursor;
  int directoryFd;        // -1 once the listing is exhausted
  AncestorTicket ticket;  // under which its directory is remembered
  // What its parent's listing said of it, still to be checked against its
  // own first batch; inode 0 once checked, or when there is nothing to check.
  ListedDirectory unchecked;
  bool asksStorage;  // its files are asked how they are stored
  NameFilter filter;
  BatchEntries entries;  // of the batch read last, those not handed out
  HeldDots heldDots;
  // A listing fills kBatchSize bytes; the rest is room for a name copy that
  // runs past the end of the last name.
  alignas(struct dirent64) char batch[kBatchSize + kMaxNameLength + 1];
};

// A handle names a slot and the number its search got when it was opened,
// never an address: any value that comes back, stale or made up, is checked
// without touching released memory and without a lock. Slots are never
// released, and closing a search clears its slot's handle, so the handle of a
// closed search matches nothing, not even once its slot holds another search.
struct Slot {
  std::atomic<std::uintptr_t> handle;  // of the search open in it; 0 while free
  // Set before handle, read only once handle matches. Made for the slot's
  // first search and kept for the next ones: a walk opens one directory after
  // another, and reusing the batch saves allocating and releasing it each time.
  Search* search;
  Slot* nextFree;
  std::uintptr_t index;
};

// Slots come in segments that double in size, the first one static: a walk
// that keeps one directory open at a time never allocates one.
constexpr std::uintptr_t kFirstSegmentSlots = 64;
constexpr unsigned kSegmentCount = 14;  // about a million searches open at once
constexpr unsigned kSlotBits = 20;      // the bits of a handle that name its slot
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::uintptr_t kSlotCount = kFirstSegmentSlots * ((1u << kSegmentCount) - 1);
static_assert(kSlotCount <= kSlotMask + 1, "every slot must be named by a handle");
static_assert(sizeof(std::uintptr_t) >= 8, "the number in a handle must not run out");

Slot firstSegment[kFirstSegmentSlots];
std::atomic<Slot*> segments[kSegmentCount] = {firstSegment};

// Opening and closing take the lock; enumerating does not.
std::mutex slotLock;
std::uintptr_t slotsMade = 0;
Slot* freeSlots = nullptr;
std::uintptr_t searchesOpened = 0;  // numbers the handles: only grows

// Where slot index lives: segment s starts at kFirstSegmentSlots * (2^s - 1).
unsigned SegmentOf(std::uintptr_t index) {
  return static_cast<unsigned>(std::bit_width(index / kFirstSegmentSlots + 1)) - 1;
}
std::uintptr_t SegmentStart(unsigned segment) {
  return kFirstSegmentSlots * ((std::uintptr_t{1} << segment) - 1);
}

// A fresh slot; null when memory is short or every slot is taken.
Slot* TakeSlot() {
  if (freeSlots != nullptr) return std::exchange(freeSlots, freeSlots->nextFree);
  if (slotsMade == kSlotCount) return nullptr;
  const std::uintptr_t index = slotsMade;
  const unsigned segment = SegmentOf(index);
  Slot* slots = segments[segment].load(std::memory_order_relaxed);
  if (slots == nullptr) {
    slots = new (std::nothrow) Slot[kFirstSegmentSlots << segment]();
    if (slots == nullptr) return nullptr;
    segments[segment].store(slots, std::memory_order_release);
  }
  ++slotsMade;
  Slot* slot = &slots[index - SegmentStart(segment)];
  slot->index = index;
  return slot;
}

// The slot of the search open under handle, or null.
Slot* FindSlot(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const std::uintptr_t index = value & kSlotMask;
  const unsigned segment = SegmentOf(index);
  if (value == 0 || segment >= kSegmentCount) return nullptr;
  Slot* slots = segments[segment].load(std::memory_order_acquire);
  if (slots == nullptr) return nullptr;
  Slot& slot = slots[index - SegmentStart(segment)];
  if (slot.handle.load(std::memory_order_acquire) != value) return nullptr;
  return &slot;
}

// Opens a search of directoryFd (-1: one of the read-ahead's, begun by the
// caller) for names that match pattern, under a new handle, and takes the
// descriptor over. INVALID_HANDLE_VALUE, with the descriptor closed, when
// memory is short.
HANDLE OpenSearch(int directoryFd, AncestorTicket ticket, const char* pattern,
                  std::size_t patternLength) {
  std::unique_lock<std::mutex> guard(slotLock);
  Slot* slot = TakeSlot();
  if (slot != nullptr && slot->search == nullptr) {
    // Cleared once: a name copy may read past the end of a listing.
    slot->search = new (std::nothrow) Search();
    if (slot->search == nullptr) {
      slot->nextFree = std::exchange(freeSlots, slot);
      slot = nullptr;
    }
  }
  if (slot == nullptr) {
    guard.unlock();
    if (directoryFd >= 0) LetGoOfDirectory(directoryFd, ticket);
    return INVALID_HANDLE_VALUE;
  }
  Search& search = *slot->search;
  search.readAhead = directoryFd < 0;
  search.cursor = read_ahead::Cursor();
  search.cursor.scratch = search.batch;
  search.directoryFd = directoryFd;
  search.ticket = ticket;
  search.unchecked = ListedDirectory();
  search.asksStorage = false;
  search.filter.Set(pattern, patternLength);
  search.entries = BatchEntries();
  search.heldDots = HeldDots();
  // Never 0 and, with the number below 2^44, never INVALID_HANDLE_VALUE.
  const std::uintptr_t handle = (++searchesOpened << kSlotBits) | slot->index;
  slot->handle.store(handle, std::memory_order_release);
  return reinterpret_cast<HANDLE>(handle);
}

void CloseDirectory(Search& search) {
  if (search.directoryFd >= 0) LetGoOfDirectory(search.directoryFd, search.ticket);
  search.directoryFd = -1;
}

// Closes the search open under handle; false when there is none.
bool CloseSearch(HANDLE handle) {
  int directoryFd = -1;
  AncestorTicket ticket;
  read_ahead::Cursor cursor;
  {
    const std::lock_guard<std::mutex> guard(slotLock);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr) return false;
    slot->handle.store(0, std::memory_order_release);
    slot->nextFree = std::exchange(freeSlots, slot);
    directoryFd = std::exchange(slot->search->directoryFd, -1);
    ticket = slot->search->ticket;
    cursor = std::exchange(slot->search->cursor, read_ahead::Cursor());
  }
  if (directoryFd >= 0) LetGoOfDirectory(directoryFd, ticket);
  read_ahead::End(cursor);
  return true;
}

// Fills record with the next entry that matches and can be described. At the
// end, or when the listing cannot be read further, answers false with the
// reason in error.
bool NextEntry(Search& search, WIN32_FIND_DATAA& record, DWORD& error) {
  if (search.readAhead) return read_ahead::Next(search.cursor, record, error);
  for (;;) {
    const struct dirent64* entry = search.entries.Next();
    if (entry == nullptr) {
      if (search.directoryFd < 0) {
        if (search.heldDots.Any()) {
          search.heldDots.HandOut(record);
          return true;
        }
        error = ERROR_NO_MORE_FILES;
        return false;
      }
      const ssize_t length = ReadBatch(search.directoryFd, search.batch, search.unchecked);
      if (length <= 0) {
        error = length == 0 ? ERROR_NO_MORE_FILES : ErrorFromReading(errno);
        CloseDirectory(search);     // nothing more will come from it
        if (length == 0) continue;  // the held dots, then the end
        search.heldDots.Drop();
        return false;
      }
      search.entries = BatchEntries(search.batch, static_cast<std::size_t>(length));
      continue;
    }
    if (!search.filter.Takes(*entry) || search.heldDots.Hold(entry->d_name)) continue;
    // One copy of fixed length, the longest name and its terminator: cheaper
    // than measuring the name first. What follows the terminator is never read.
    std::memcpy(record.cFileName, entry->d_name, kMaxNameLength + 1);
    record.cAlternateFileName[0] = '\0';
    struct statx status;
    DWORD refusal = 0;
    switch (LookAt(search.directoryFd, entry->d_name, entry->d_type, record, status, refusal)) {
      case Look::kDescribed:
        if (search.asksStorage) AskAbout(search.directoryFd, entry->d_name, status, record);
        if (IsEnteredDirectory(record, entry->d_name)) {
          NoteSubdirectory(search.ticket, entry->d_name, ListedFrom(record, status));
        }
        return true;
      case Look::kEndsListing:
        error = refusal;
        CloseDirectory(search);
        search.entries = BatchEntries();
        search.heldDots.Drop();
        return false;
      case Look::kLeftOut:
        break;
    }
  }
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (fileName == nullptr || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }

  // directory '/' pattern; no directory part means the current directory,
  // an empty one the root. The separator is looked for from the end: the
  // pattern is short, the directory may be a path of any length.
  const std::size_t nameLength = std::strlen(fileName);
  const char* separator = static_cast<const char*>(::memrchr(fileName, '/', nameLength));
  const char* pattern = separator != nullptr ? separator + 1 : fileName;
  const std::size_t patternLength = nameLength - static_cast<std::size_t>(pattern - fileName);
  if (patternLength == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (patternLength > kMaxNameLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  system_calls::Reach(system_calls::Point::kAskedFor, fileName);
  // A mount searched is let go of once the walk has left it.
  if (separator != nullptr) {
    KeepMountBasesLeadingTo(fileName, static_cast<std::size_t>(separator - fileName));
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (read_ahead::Enabled()) {
    handle = OpenSearch(-1, AncestorTicket(), pattern, patternLength);
    if (handle == INVALID_HANDLE_VALUE) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    // The read-ahead names the root by the empty path before the separator.
    const char* directory = separator != nullptr ? fileName : ".";
    const std::size_t length =
        separator != nullptr ? static_cast<std::size_t>(separator - fileName) : 1;
    DWORD error = 0;
    if (!read_ahead::Begin(directory, length, pattern, patternLength,
                           FindSlot(handle)->search->cursor, error)) {
      CloseSearch(handle);
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
  } else {
    // The root is named by the empty path before the separator.
    AncestorTicket ticket;
    ListedDirectory unchecked;
    DWORD error = 0;
    const int directoryFd =
        separator == nullptr
            ? OpenAsDescendant(".", 1, ticket, unchecked, error)
            : OpenAsDescendant(fileName, static_cast<std::size_t>(separator - fileName), ticket,
                               unchecked, error);
    if (directoryFd < 0) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    handle = OpenSearch(directoryFd, ticket, pattern, patternLength);
    if (handle == INVALID_HANDLE_VALUE) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    Search& search = *FindSlot(handle)->search;
    search.unchecked = unchecked;
    // Checked on its parent's device, it is on the device its parent's listing said.
    search.asksStorage = AsksHowStored(directoryFd, unchecked.inode != 0 ? unchecked.device : 0);
  }
  // The first entry comes the way every other does, so that one routine reads them all.
  if (!FindNextFileA(handle, findData)) {
    const DWORD error = GetLastError();
    CloseSearch(handle);
    SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  const Slot* slot = FindSlot(findFile);
  if (slot == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = 0;
  if (NextEntry(*slot->search, *findData, error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL FindClose(HANDLE findFile) {
  if (CloseSearch(findFile)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
