// The platform's error code for the errno of a failed file system call, one
// mapping for every service of this layer that opens or reads files.
#pragma once

#include <cerrno>

#include "platform/win32.h"

// Whether a call failed for want of descriptors, which the walk can give
// back (what it holds open ahead) and ask again.
inline bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

// Whether a call failed for want of a resource the process or system is
// short of for now (descriptors or memory): a failure of the moment, not an
// answer about the file.
inline bool ShortOfResources(int error) { return OutOfDescriptors(error) || error == ENOMEM; }

// A name that is not there reads as the platform says it for the call: a
// directory not there to search (ERROR_PATH_NOT_FOUND) or a file not there to
// read (ERROR_FILE_NOT_FOUND). The caller passes which one as missing; it
// stands for every errno without a closer code (ENOENT, ELOOP, EIO...).
inline DWORD ErrorFromErrno(int error, DWORD missing) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOTDIR:  // a directory on the way is not one
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    default:
      return missing;
  }
}
