// The one header through which the rest of the code reaches the Win32 interface.
// On Windows it is the real interface; elsewhere our own layer provides the same
// names with the contracts the code relies on.
#pragma once

#if defined(_WIN32)
#include "platform/windows/win32_api.h"
#else
#include "platform/posix/win32_api.h"
#endif
