#include "find/directory_finder.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "find/entered_directory.h"
#include "find/hresult_exception.h"
#include "find/required_text.h"

namespace {

// The A calls fill the record's name from the system's own, and a name whose
// bytes in the process's code page outrun the record (up to 765 bytes in
// UTF-8) can arrive cut and unterminated, the rest of the field as it was.
// The field is filled with anything but the terminator before each call, so
// that such a name leaves none in it.
void MarkNameUnwritten(WIN32_FIND_DATAA& record) {
  std::memset(record.cFileName, '#', sizeof record.cFileName);
}

// A name that does not end inside the record is part of another: it would
// list a file that is not there, or search another directory.
bool NameFits(const WIN32_FIND_DATAA& record) {
  return std::memchr(record.cFileName, '\0', sizeof record.cFileName) != nullptr;
}

// A directory the platform lacked the memory to open or to read on is not an
// empty or an ended one: taking it for one would miscount the tree.
void RaiseIfOutOfMemory(DWORD error) {
  if (error == ERROR_NOT_ENOUGH_MEMORY) ThrowHResultException(E_OUTOFMEMORY);
}

// A copy of text that throws rather than come out empty.
CString CopyOf(const char* text) {
  CString copy(text);
  RequireText(copy, HasText(text));
  return copy;
}

}  // namespace

DirectoryFinder::DirectoryFinder(const char* directoryText, const char* patternText)
    : DirectoryFinder(CopyOf(directoryText), CopyOf(patternText)) {}

DirectoryFinder::DirectoryFinder(const CString& directoryPath, const CString& patternPath)
    : sink(nullptr),
      item(),
      searchHandle(nullptr),
      fetched(),
      directory(directoryPath),
      pattern(patternPath),
      mode(QueuedRecursion),
      subdirectories(),
      descending(nullptr) {}

DirectoryFinder::~DirectoryFinder() {
  CloseSearch();
  subdirectories.Clear();
}

void DirectoryFinder::SetRecursionMode(int newMode) { mode = newMode; }

bool DirectoryFinder::FindFirst() {
  CloseSearch();
  {
    const CString specification = JoinPath(directory, pattern);
    MarkNameUnwritten(fetched);
    searchHandle = FindFirstFileA(specification, &fetched);
  }
  if (searchHandle == INVALID_HANDLE_VALUE) RaiseIfOutOfMemory(GetLastError());
  return searchHandle != INVALID_HANDLE_VALUE;
}

bool DirectoryFinder::FindNext() {
  // A search that failed, or ended and was closed, is never handed back to the platform.
  if (searchHandle == nullptr || searchHandle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NO_MORE_FILES);
    return false;
  }
  MarkNameUnwritten(fetched);
  if (FindNextFileA(searchHandle, &fetched)) return true;
  const DWORD error = GetLastError();
  // Nothing uses the handle once the enumeration has ended; closing it now
  // keeps one directory open at a time while the queue is searched.
  CloseSearch();
  RaiseIfOutOfMemory(error);
  SetLastError(error);  // why the enumeration ended, whatever closing left there
  return false;
}

void DirectoryFinder::CloseSearch() noexcept {
  if (searchHandle != nullptr && searchHandle != INVALID_HANDLE_VALUE) FindClose(searchHandle);
  searchHandle = nullptr;
}

bool DirectoryFinder::ProcessCurrent() {
  // No name to show or to search under: the entry is passed over.
  if (!NameFits(fetched)) return true;
  item.record = fetched;
  if (sink != nullptr) sink->SetFoundItem(item);
  if (!item.IsDirectory()) return sink != nullptr ? sink->OnFile(item.record.cFileName) : true;
  if (item.IsDot() || item.IsDotDot()) return true;
  if (LeadsElsewhere(item.record)) return true;
  // Any other mode drops the path, so it is not formed at all.
  if (mode != ImmediateRecursion && mode != QueuedRecursion) return true;
  return HandleSubdirectory(JoinPath(directory, item.record.cFileName));
}

bool DirectoryFinder::HandleSubdirectory(const CString& path) {
  if (mode == ImmediateRecursion) return RecurseIntoHeld(path);
  subdirectories.Append(path);
  return true;
}

bool DirectoryFinder::ProcessQueue() {
  // Without a sink nobody would hear of anything below this directory.
  if (mode != QueuedRecursion || sink == nullptr) return true;
  for (const SubdirectoryQueue::Node* node = subdirectories.Head(); node != nullptr;
       node = node->next) {
    if (!RecurseIntoHeld(node->path)) return false;
  }
  return true;
}

bool DirectoryFinder::RecurseIntoHeld(const CString& path) {
  struct Restore {
    const CString*& field;
    const CString* outer;
    ~Restore() { field = outer; }
  } restore{descending, std::exchange(descending, &path)};
  return RecurseInto(path);
}

// Matched by address: only the very text this finder holds can be shared.
CString DirectoryFinder::ChildText(const char* text) const {
  if (descending != nullptr && text == static_cast<const char*>(*descending)) return *descending;
  if (text == static_cast<const char*>(pattern)) return pattern;
  return CopyOf(text);
}

DirectoryFinder* DirectoryFinder::CreateChild(const char* childDirectory,
                                              const char* childPattern) {
  return new (std::nothrow) DirectoryFinder(ChildText(childDirectory), ChildText(childPattern));
}

bool DirectoryFinder::RecurseInto(const char* path) {
  if (sink != nullptr && !sink->OnBeforeEnterDirectory(path)) return false;
  // Owned here until this call returns, by whatever way it returns.
  const std::unique_ptr<DirectoryFinder> child(CreateChild(path, pattern));
  if (child == nullptr) ThrowHResultException(E_OUTOFMEMORY);
  child->SetRecursionMode(mode);
  child->SetSink(sink);
  if (sink != nullptr && !sink->OnEnterDirectory(path)) return false;
  if (!child->Run()) return false;
  return sink != nullptr ? sink->OnLeaveDirectory(path) : true;
}

CString DirectoryFinder::JoinPath(const char* directoryText, const char* name) {
  const std::size_t directoryLength = std::strlen(directoryText != nullptr ? directoryText : "");
  const std::size_t nameLength = std::strlen(name != nullptr ? name : "");
  const bool addSeparator = NeedsSeparator(directoryText, directoryLength);
  const std::size_t length = directoryLength + (addSeparator ? 1 : 0) + nameLength;

  // Formed in one exact allocation; a path too long for a CString is as lost as an unallocated one.
  CString path;
  char* chars = length <= INT_MAX / 2 ? path.GetBuffer(static_cast<LONG>(length)) : nullptr;
  if (chars != nullptr) {
    if (directoryLength > 0) std::memcpy(chars, directoryText, directoryLength);
    if (addSeparator) chars[directoryLength] = kPathSeparator;
    if (nameLength > 0) std::memcpy(chars + length - nameLength, name, nameLength);
    chars[length] = '\0';
    path.ReleaseBuffer();
  }
  RequireText(path, true);  // the joined path always holds at least the separator
  return path;
}
