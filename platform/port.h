// The port's own calls, beside the Win32 names of platform/win32.h: what the
// rest of the code needs of the platform that Win32 has no name for.
#pragma once

#include "platform/win32.h"

#if defined(_WIN32)
#include "platform/windows/port.h"
#else
#include "platform/posix/port.h"
#endif
