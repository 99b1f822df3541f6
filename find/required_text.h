// A CString reports a failed allocation by coming out empty. In the engine an
// empty path is never harmless: as a directory it names the root, as the
// listing prefix it drops the directory. Wherever a path or pattern is formed
// or copied, an empty result from a source that held text is therefore turned
// into HResultException(E_OUTOFMEMORY) instead of a wrong search.
#pragma once

#include "text/cstring.h"

inline bool HasText(const char* source) noexcept { return source != nullptr && source[0] != '\0'; }

// Throws HResultException(E_OUTOFMEMORY) when text is empty although its
// source held text.
void RequireText(const CString& text, bool sourceHadText);
