#include "find/search_tally.h"

SearchTally searchTally;
