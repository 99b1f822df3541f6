#include "find/compressed_file_finder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iostream>
#include <new>

#include "find/console_lines.h"
#include "find/hresult_exception.h"
#include "find/search_error.h"
#include "find/search_tally.h"
#include "platform/port.h"

// currentDirectory shares the text of directory: nothing to allocate, nothing to lose.
CompressedFileFinder::CompressedFileFinder(const char* directoryText, const char* patternText)
    : DirectoryFinder(directoryText, patternText),
      currentDirectory(directory),
      foundItem(nullptr),
      startingDirectory(true),
      searchError(0) {
  SetSink(this);
}

CompressedFileFinder::CompressedFileFinder(const CString& directoryPath, const CString& patternPath)
    : DirectoryFinder(directoryPath, patternPath),
      currentDirectory(directory),
      foundItem(nullptr),
      startingDirectory(false),
      searchError(0) {
  SetSink(this);
}

CompressedFileFinder::~CompressedFileFinder() = default;

DirectoryFinder* CompressedFileFinder::CreateChild(const char* childDirectory,
                                                   const char* childPattern) {
  return new (std::nothrow)
      CompressedFileFinder(ChildText(childDirectory), ChildText(childPattern));
}

bool CompressedFileFinder::FindFirst() {
  if (DirectoryFinder::FindFirst()) return true;
  searchError = GetLastError();
  if (!startingDirectory && !IsEndOfListing(searchError)) WriteWarningLine();
  return false;
}

// A listing that fails part of the way has had its files reported, the
// starting directory's too: what is missing is told, and the walk goes on.
bool CompressedFileFinder::FindNext() {
  if (DirectoryFinder::FindNext()) return true;
  searchError = GetLastError();
  if (!IsEndOfListing(searchError)) WriteWarningLine();
  return false;
}

// In the framing of the fatal messages; the directory shown as names are.
void CompressedFileFinder::WriteWarningLine() const {
  char words[kSearchErrorRoom];
  consoleLines.BeginErrorLine();
  std::cerr << "Packhound: Cannot search ";
  WriteShown(std::cerr, directory, consoleLines.ErrorIsTerminal());
  std::cerr << ": " << SearchErrorText(searchError, words) << ".\n" << std::flush;
}

void CompressedFileFinder::WriteUnreadableLine(const char* name, DWORD error) const {
  char words[kSearchErrorRoom];
  const std::size_t directoryLength = static_cast<std::size_t>(currentDirectory.GetLength());
  const bool terminal = consoleLines.ErrorIsTerminal();
  consoleLines.BeginErrorLine();
  std::cerr << "Packhound: Cannot read the attributes of ";
  WriteShown(std::cerr, currentDirectory, directoryLength, terminal);
  if (NeedsSeparator(currentDirectory, directoryLength)) std::cerr.put(kPathSeparator);
  WriteShown(std::cerr, name, terminal);
  std::cerr << ": " << SearchErrorText(error, words) << ".\n" << std::flush;
}

bool CompressedFileFinder::OnBeforeEnterDirectory(const char*) { return true; }

bool CompressedFileFinder::OnFile(const char* name) {
  ++searchTally.examinedCount;
  consoleLines.NoteProgress();
  if (foundItem == nullptr) return true;
  const WIN32_FIND_DATAA& record = foundItem->record;
  // Nothing is known of a file whose attributes could not be read: it is
  // neither compressed nor uncompressed, and the user is told which it is.
  if (const DWORD error = AttributesUnreadable(record)) {
    WriteUnreadableLine(name, error);
    return true;
  }
  const bool compressed = (record.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
  if (StorageUnknown(record)) {
    ++searchTally.judgedByAttributeCount;
    // How its data is stored could not be asked: without the attribute,
    // nothing says it is not stored compressed.
    if (!compressed) return true;
  }
  if (compressed == searchTally.searchUncompressed) return true;
  ++searchTally.foundCount;
  // A listing that cannot be written ends the search: the walk would go on
  // only to count what nobody reads.
  if (searchTally.listFiles) return WriteListingLine(name);
  return true;
}

// Composed on the stack and handed to the stream in one piece: nothing is
// allocated, and the one flush puts the whole line out, in one write, as soon
// as the file is found. A line too long for the room goes out in its pieces,
// under the same one flush. On a terminal a name's control bytes show as '?';
// anywhere else that costs the test of one flag.
bool CompressedFileFinder::WriteListingLine(const char* name) {
  const char* directoryText = currentDirectory;
  const std::size_t directoryLength = static_cast<std::size_t>(currentDirectory.GetLength());
  const std::size_t nameLength = std::strlen(name);
  const bool addSeparator = NeedsSeparator(directoryText, directoryLength);
  const std::size_t separatorLength = addSeparator ? 1 : 0;
  const std::size_t length = directoryLength + separatorLength + nameLength + 1;
  const bool terminal = consoleLines.OutputIsTerminal();
  // A NUL, which no name holds, keeps a name with a newline whole for xargs -0.
  const char lineEnd = searchTally.listEndsWithNull ? '\0' : '\n';

  char line[kFullPathBufferSize + MAX_PATH];
  if (length <= sizeof line) {
    std::memcpy(line, directoryText, directoryLength);
    if (addSeparator) line[directoryLength] = kPathSeparator;
    std::memcpy(line + directoryLength + separatorLength, name, nameLength);
    if (terminal) ReplaceControlBytes(line, length - 1);
    line[length - 1] = lineEnd;
    std::cout.write(line, static_cast<std::streamsize>(length));
  } else {
    WriteShown(std::cout, directoryText, directoryLength, terminal);
    if (addSeparator) std::cout.put(kPathSeparator);
    WriteShown(std::cout, name, nameLength, terminal);
    std::cout.put(lineEnd);
  }
  return consoleLines.FlushOutput();
}

// The block only grows, to twice its room at least, and is otherwise
// reused: going down a deep branch then neither allocates a path per level
// nor leaves one freed block per level behind in the heap. text may lie in
// the block itself.
void CompressedFileFinder::SetCurrentDirectory(const char* text, std::size_t length) {
  if (length == 0) {
    currentDirectory = "";
    return;
  }
  if (length > static_cast<std::size_t>(INT_MAX / 2)) ThrowHResultException(E_OUTOFMEMORY);
  const LONG wanted = static_cast<LONG>(length);
  const LONG capacity = currentDirectory.GetCapacity();
  const bool reuse = currentDirectory.GetRefCount() == 1 && wanted <= capacity;
  CString grown;
  CString& target = reuse ? currentDirectory : grown;
  char* chars = target.GetBuffer(wanted > capacity ? std::max(wanted, capacity * 2) : wanted);
  if (chars == nullptr) ThrowHResultException(E_OUTOFMEMORY);
  std::memmove(chars, text, length);
  chars[length] = '\0';
  target.ReleaseBuffer();
  if (!reuse) currentDirectory = grown;
}

bool CompressedFileFinder::OnEnterDirectory(const char* path) {
  ++searchTally.directoryCount;
  consoleLines.NoteProgress();
  SetCurrentDirectory(path, path != nullptr ? std::strlen(path) : 0);
  return true;
}

// Back to the directory that holds path, written as the parent's finder joins
// its entries (up to and including the last separator): a file that finder
// reports after a subdirectory, as in ImmediateRecursion, is then listed
// under its own directory instead of under an empty one, which would name the root.
bool CompressedFileFinder::OnLeaveDirectory(const char* path) {
  // Looked for from the end: the name is short, the path may be of any length.
  std::size_t keep = path != nullptr ? std::strlen(path) : 0;
  while (keep > 0 && path[keep - 1] != kPathSeparator) --keep;
  SetCurrentDirectory(path, keep);
  return true;
}

// Every entry passes here before any other event: a mount point, which the
// walk then passes over, is counted here, where a recursive search would
// have entered it.
void CompressedFileFinder::SetFoundItem(FindDataItem& shown) {
  foundItem = &shown;
  const WIN32_FIND_DATAA& record = shown.record;
  if ((record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      record.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT || !shown.IsDirectory() ||
      (mode != QueuedRecursion && mode != ImmediateRecursion)) {
    return;
  }
  if (searchTally.mountPointCount++ == 0) {
    searchTally.firstMountPoint = JoinPath(currentDirectory, record.cFileName);
  }
}
