#include "find/required_text.h"

#include "find/hresult_exception.h"

void RequireText(const CString& text, bool sourceHadText) {
  if (sourceHadText && text.GetLength() == 0) ThrowHResultException(E_OUTOFMEMORY);
}
