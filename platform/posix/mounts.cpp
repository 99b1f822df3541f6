// Placeholder definitions until the mount search lands; replaced in the same change.
#include "platform/port.h"

void SearchMountsBelow() {}
bool FilesCompressedByMountOption() { return false; }
