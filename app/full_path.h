// The starting path made full, for the "fp" option.
#pragma once

#include "text/cstring.h"

// Sets full to the full path of path, in a buffer as long as the platform
// answers it needs, however long that is. Answers false, with full unchanged,
// when the platform cannot make the path full: the caller then searches the
// path as given. Throws std::bad_alloc when memory runs out, here or in the
// platform: the path would be lost, not merely unusable.
bool MakeFullPath(const char* path, CString& full);
