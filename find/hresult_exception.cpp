#include "find/hresult_exception.h"

void ThrowHResultException(HRESULT result) { throw HResultException(result); }
