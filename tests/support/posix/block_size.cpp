#include "tests/support/block_size.h"

#include <malloc.h>

std::size_t BlockSize(void* block) noexcept { return ::malloc_usable_size(block); }
