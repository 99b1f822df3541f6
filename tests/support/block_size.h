// The bytes a block of the C library's allocator holds, asked of the library
// itself: at least what was asked for.
#pragma once

#include <cstddef>

std::size_t BlockSize(void* block) noexcept;
