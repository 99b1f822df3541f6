// The exception that carries one HRESULT. The search engine raises it, with
// E_OUTOFMEMORY, when it cannot allocate what the walk needs; the driver ends
// the process on it.
#pragma once

#include "platform/win32.h"

class HResultException {
 public:
  explicit HResultException(HRESULT result) noexcept : hresult(result) {}

  HRESULT GetResult() const noexcept { return hresult; }

 private:
  HRESULT hresult;
};

[[noreturn]] void ThrowHResultException(HRESULT result);
