// Random sequences of CString operations on a few objects, each checked
// against CStringModel after every step: the texts, the sharing of blocks and
// their reference counts, and the exact capacities. A chosen allocation of an
// operation can be made to fail; the model then says which of the documented
// failure states the operation must leave, and how many allocations it may
// have tried.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "fuzz/cstring_model.h"
#include "fuzz/fuzz_input.h"
#include "tests/support/failing_allocator.h"
#include "text/cstring.h"

namespace {

constexpr int kSlots = CStringModel::kSlots;
constexpr int kMaxOperations = 64;
constexpr LONG kMaxBuffer = 300;  // keeps a run short; sizes are not what is tested
constexpr int kMaxWidth = 40;
// Strings that keep doubling would soon take all memory: operations that
// would pass this length are left out.
constexpr std::size_t kMaxLength = 4000;

[[noreturn]] void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}
#define CHECK(condition) ((condition) ? static_cast<void>(0) : Fail(__FILE__, __LINE__, #condition))

// A text handed to an operation: its own bytes, a null pointer, or a place
// inside one of the strings under test.
struct Source {
  const char* pointer = nullptr;
  std::string text;  // what the model reads there
  int slot = -1;     // the slot it lies in, or -1
};

// Texts from a small alphabet find each other in Replace; raw bytes reach the rest.
std::string FuzzText(FuzzInput& in, std::size_t maxLength) {
  const bool alphabet = in.Bool();
  std::string text = in.Bytes(maxLength);
  for (char& c : text) {
    if (alphabet) {
      c = "ab, ."[static_cast<unsigned char>(c) % 5];
    } else if (c == '\0') {
      c = '\x01';
    }
  }
  return text;
}

class Harness {
 public:
  Harness() : emptyChars(CString()) {}

  ~Harness() {
    {
      failing_allocator::Scope scope;
      for (CString& s : real) s.~CString();
      net -= scope.Releases();
    }
    for (CString& s : real) new (&s) CString();
    CHECK(net == 0);  // every block that was made has been freed
  }

  void Step(FuzzInput& in) {
    texts.clear();
    const std::uint8_t failByte = in.Byte();
    failAt = (failByte & 0x80) != 0 ? failByte & 3 : -1;
    const int a = static_cast<int>(in.Int(0, kSlots - 1));
    switch (in.Int(0, 10)) {
      case 0:
        ConstructFromText(a, ReadSource(in, a));
        break;
      case 1:
        CopyConstruct(a, static_cast<int>(in.Int(0, kSlots - 1)));
        break;
      case 2:
        AssignString(a, static_cast<int>(in.Int(0, kSlots - 1)));
        break;
      case 3:
        AssignText(a, ReadSource(in, -1));
        break;
      case 4:
        Append(a, ReadSource(in, -1));
        break;
      case 5:
        Concatenate(a, static_cast<int>(in.Int(0, kSlots - 1)),
                    static_cast<int>(in.Int(0, kSlots - 1)));
        break;
      case 6:
        WriteBuffer(a, in);
        break;
      case 7:
        ReleaseBufferAlone(a);
        break;
      case 8: {
        Source oldText = ReadSource(in, -1);
        Source newText = ReadSource(in, -1);
        Replace(a, oldText, newText);
        break;
      }
      case 9:
        Format(a, in);
        break;
      default:
        Destroy(a);
        break;
    }
    Verify();
  }

 private:
  // notSlot: a slot the source must not lie in (its string is destroyed first).
  Source ReadSource(FuzzInput& in, int notSlot) {
    Source source;
    switch (in.Int(0, 3)) {
      case 0:
        return source;
      case 3: {
        int slot = static_cast<int>(in.Int(0, kSlots - 1));
        if (slot == notSlot) slot = (slot + 1) % kSlots;
        const std::size_t offset = static_cast<std::size_t>(in.Int(0, model.Length(slot)));
        source.pointer = static_cast<const char*>(real[slot]) + offset;
        source.text = model.Text(slot).substr(offset);
        source.slot = slot;
        return source;
      }
      default:
        texts.push_back(FuzzText(in, 24));
        source.text = texts.back();
        source.pointer = texts.back().c_str();
        return source;
    }
  }

  // Whether the source lies in the block of slot.
  bool InBlockOf(const Source& source, int slot) const {
    return source.slot >= 0 && (source.slot == slot || model.SameBlock(source.slot, slot));
  }

  // Runs the real operation with the chosen allocation failing, and checks
  // that it tried exactly the allocations the model expects. Answers whether
  // the injected failure was reached.
  template <typename Operation>
  bool Execute(int expectedAttempts, Operation operation) {
    const bool fails = failAt >= 0 && failAt < expectedAttempts;
    {
      failing_allocator::Scope scope(failAt, 1);
      operation();
      CHECK(scope.Allocations() == (fails ? failAt + 1 : expectedAttempts));
      CHECK(scope.Failures() == (fails ? 1 : 0));
      net += scope.Allocations() - scope.Failures() - scope.Releases();
    }
    return fails;
  }

  void ConstructFromText(int a, Source source) {
    const LONG n = static_cast<LONG>(source.text.size());
    const bool failed = Execute(n > 0 ? 1 : 0, [&] {
      real[a].~CString();
      new (&real[a]) CString(source.pointer);
    });
    model.Release(a);
    if (n > 0 && !failed) model.Fresh(a, n, source.text);
  }

  void CopyConstruct(int a, int b) {
    if (a == b) b = (b + 1) % kSlots;
    Execute(0, [&] {
      real[a].~CString();
      new (&real[a]) CString(real[b]);
    });
    model.Release(a);
    if (model.Block(b) != 0) model.Share(a, b);
  }

  // An empty source is copied, not shared: the target keeps an exclusive
  // block with length 0, or becomes the shared empty string.
  void AssignString(int a, int b) {
    Execute(0, [&] { real[a] = real[b]; });
    if (a == b || model.SameBlock(a, b) || (model.Block(a) == 0 && model.Block(b) == 0)) return;
    if (model.Block(b) != 0) {
      model.Share(a, b);
    } else if (model.RefCount(a) > 1) {
      model.Release(a);
    } else {
      model.Overwrite(a, "");
    }
  }

  void AssignText(int a, Source source) {
    const LONG n = static_cast<LONG>(source.text.size());
    const bool reallocate = model.RefCount(a) > 1 || n > model.Capacity(a);
    const bool failed = Execute(reallocate && n > 0 ? 1 : 0, [&] { real[a] = source.pointer; });
    if (!reallocate) {
      model.Overwrite(a, source.text);
    } else if (n == 0 || failed) {
      model.Release(a);
    } else {
      model.Fresh(a, n, source.text);
    }
  }

  void Append(int a, Source source) {
    const LONG n = static_cast<LONG>(source.text.size());
    const LONG total = model.Length(a) + n;
    if (static_cast<std::size_t>(total) > kMaxLength) return;
    const bool inPlace = model.RefCount(a) <= 1 && total <= model.Capacity(a);
    const bool failed = Execute(n > 0 && !inPlace ? 1 : 0, [&] { real[a] += source.pointer; });
    if (n == 0 || failed) return;
    if (inPlace) {
      model.Overwrite(a, model.Text(a) + source.text);
    } else {
      model.Fresh(a, total, model.Text(a) + source.text);
    }
  }

  void Concatenate(int a, int b, int c) {
    if (model.Text(b).size() + model.Text(c).size() > kMaxLength) return;
    const std::string sum = model.Text(b) + model.Text(c);
    const LONG n = static_cast<LONG>(sum.size());
    const bool failed = Execute(n > 0 ? 1 : 0, [&] { real[a] = real[b] + real[c]; });
    if (n > 0 && !failed) {
      model.Fresh(a, n, sum);
    } else if (model.RefCount(a) > 1) {  // assigned an empty result
      model.Release(a);
    } else {
      model.Overwrite(a, "");
    }
  }

  // GetBuffer, a write through it, ReleaseBuffer. The write either ends with
  // a NUL or fills the whole room without one.
  void WriteBuffer(int a, FuzzInput& in) {
    const LONG minimum = static_cast<LONG>(in.Int(-2, kMaxBuffer));
    const bool terminated = in.Bool();
    const std::string content = in.Bytes(kMaxBuffer);
    const LONG length = model.Length(a);
    const bool reallocate = model.RefCount(a) > 1 || minimum > model.Capacity(a);
    const LONG wanted = std::max(minimum, length);
    char* buffer = nullptr;
    const bool failed =
        Execute(reallocate && wanted > 0 ? 1 : 0, [&] { buffer = real[a].GetBuffer(minimum); });
    CHECK((buffer == nullptr) == failed);
    if (failed) return;
    if (reallocate && wanted == 0) {
      model.Release(a);
    } else if (reallocate) {
      model.Fresh(a, wanted, model.Text(a));
    }
    CHECK(buffer == static_cast<const char*>(real[a]));
    const LONG room = model.Capacity(a);
    CHECK(std::strcmp(buffer, model.Text(a).c_str()) == 0);  // the old text is kept

    std::string written;
    if (terminated) {
      written = content.substr(0, static_cast<std::size_t>(room));
      std::memcpy(buffer, written.data(), written.size());
      buffer[written.size()] = '\0';
    } else {
      written.assign(static_cast<std::size_t>(room), 'p');
      written.replace(0, std::min(content.size(), written.size()), content, 0, written.size());
      std::memcpy(buffer, written.data(), written.size());
    }
    Execute(0, [&] { real[a].ReleaseBuffer(); });
    model.Overwrite(a, written.substr(0, written.find('\0')));
  }

  // Without a GetBuffer first: a shared block is copied, or lost to a failure.
  void ReleaseBufferAlone(int a) {
    const bool copy = model.RefCount(a) > 1;
    const LONG length = model.Length(a);
    const bool failed = Execute(copy && length > 0 ? 1 : 0, [&] { real[a].ReleaseBuffer(); });
    if (!copy) return;
    if (length == 0 || failed) {
      model.Release(a);
    } else {
      model.Fresh(a, length, model.Text(a));
    }
  }

  void Replace(int a, Source oldText, Source newText) {
    const std::string& text = model.Text(a);
    const std::string& from = oldText.text;
    const std::string& to = newText.text;
    int count = 0;
    std::string replaced;
    std::size_t done = 0;
    if (!from.empty()) {
      for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, done)) {
        replaced += text.substr(done, at - done) + to;
        done = at + from.size();
        ++count;
      }
    }
    replaced += text.substr(done);
    if (replaced.size() > kMaxLength) return;
    const LONG finalLength = static_cast<LONG>(replaced.size());

    // The allocations in order: private copies of texts inside the string,
    // the copy of a shared block, a larger block.
    std::vector<int> steps;
    enum { kOldCopy, kNewCopy, kExclusive, kLarger };
    if (count > 0) {
      if (InBlockOf(oldText, a)) steps.push_back(kOldCopy);
      if (InBlockOf(newText, a) && !to.empty()) steps.push_back(kNewCopy);
      if (model.RefCount(a) > 1) steps.push_back(kExclusive);
      const LONG roomAfterCopy = model.RefCount(a) > 1 ? model.Length(a) : model.Capacity(a);
      if (roomAfterCopy < finalLength) steps.push_back(kLarger);
    }
    int answer = 0;
    const bool failed = Execute(static_cast<int>(steps.size()), [&] {
      answer = real[a].Replace(oldText.pointer, newText.pointer);
    });
    if (count == 0) {
      CHECK(answer == 0);
      return;
    }
    if (!failed) {
      CHECK(answer == count);
      if (model.RefCount(a) > 1) model.Fresh(a, model.Length(a), text);
      if (model.Capacity(a) < finalLength) model.Fresh(a, finalLength, text);
      model.Overwrite(a, replaced);
      return;
    }
    CHECK(answer == -1);
    switch (steps[static_cast<std::size_t>(failAt)]) {
      case kExclusive:
        model.Release(a);
        break;
      case kLarger:
        if (model.RefCount(a) > 1) model.Fresh(a, model.Length(a), text);
        break;
      default:  // the text is untouched
        break;
    }
  }

  void Destroy(int a) {
    Execute(0, [&] {
      real[a].~CString();
      new (&real[a]) CString();
    });
    model.Release(a);
  }

  void Format(int a, FuzzInput& in);
  void Verify() const;

  CString real[kSlots];
  CStringModel model;
  const char* const emptyChars;
  std::deque<std::string> texts;  // the bytes that sources point at, for one step
  int failAt = -1;
  std::int64_t net = 0;  // blocks allocated and not yet freed
};

struct FormatArgument {
  bool isText;
  const char* text;
  int number;
};
constexpr std::size_t kMaxFormatArguments = 4;

// Format called with the arguments as their own types, as a caller would.
template <typename... Done>
bool CallFormat(CString& s, const char* format, const FormatArgument* next,
                const FormatArgument* end, Done... done) {
  if constexpr (sizeof...(Done) >= kMaxFormatArguments) {
    return s.Format(format, done...);
  } else {
    if (next == end) return s.Format(format, done...);
    if (next->isText) return CallFormat(s, format, next + 1, end, done..., next->text);
    return CallFormat(s, format, next + 1, end, done..., next->number);
  }
}

// Literal text, "%%", and conversions %s, %d and %x with the flags C gives
// them the same meaning for, a width and a precision. The model text comes
// from snprintf for numbers and is built by hand for texts; the room reserved
// follows the estimate rules: text as it stands, 1 for "%%", for a text its
// length (6 when null, at least 1) cut to a nonzero precision and raised to
// the width, for a number the larger of 32 and width + precision, 2 more per
// "#".
void Harness::Format(int a, FuzzInput& in) {
  std::string format;
  std::string expected;
  std::vector<FormatArgument> arguments;
  long long estimate = 0;
  bool aliased = false;
  bool shortAllowed = false;  // a signed number with precision >= 32 and no width
  const int pieces = static_cast<int>(in.Int(0, 6));
  for (int piece = 0; piece < pieces; ++piece) {
    const int kind = static_cast<int>(in.Int(0, 3));
    if (kind == 0) {
      std::string literal = FuzzText(in, 12);
      for (char& c : literal) c = c == '%' ? '_' : c;
      format += literal;
      expected += literal;
      estimate += static_cast<long long>(literal.size());
      continue;
    }
    if (kind == 1 || arguments.size() == kMaxFormatArguments) {
      format += "%%";
      expected += "%";
      estimate += 1;
      continue;
    }
    const char conversion = "sdx"[in.Int(0, 2)];
    const char* allowed = conversion == 's' ? "-" : conversion == 'd' ? "-+ 0" : "-#0";
    std::string flags;
    for (const char* flag = allowed; *flag != '\0'; ++flag) {
      if (in.Bool()) flags += *flag;
    }
    const int width = in.Bool() ? static_cast<int>(in.Int(1, kMaxWidth)) : 0;
    const int precision = in.Bool() ? static_cast<int>(in.Int(0, kMaxWidth)) : -1;
    std::string directive = "%" + flags;
    if (width > 0) directive += std::to_string(width);
    if (precision >= 0) directive += "." + std::to_string(precision);
    directive += conversion;
    format += directive;
    const bool leftAlign = flags.find('-') != std::string::npos;

    if (conversion == 's') {
      const Source source = ReadSource(in, -1);
      arguments.push_back({true, source.pointer, 0});
      aliased = aliased || InBlockOf(source, a);
      std::string shown = source.pointer != nullptr ? source.text : "(null)";
      if (precision >= 0) shown = shown.substr(0, static_cast<std::size_t>(precision));
      const std::string padding(static_cast<std::size_t>(std::max<long long>(
                                    0, width - static_cast<long long>(shown.size()))),
                                ' ');
      expected += leftAlign ? shown + padding : padding + shown;
      long long item = source.pointer != nullptr ? std::max<long long>(1, source.text.size()) : 6;
      if (precision > 0) item = std::min<long long>(item, precision);
      estimate += std::max<long long>(item, width);
      continue;
    }
    const int value = static_cast<int>(in.Int(INT32_MIN, INT32_MAX));
    arguments.push_back({false, nullptr, value});
    char digits[128];
    std::snprintf(digits, sizeof digits, directive.c_str(), value);
    expected += digits;
    const long long hashes = static_cast<long long>(std::count(flags.begin(), flags.end(), '#'));
    estimate += std::max<long long>(32, width + std::max(precision, 0)) + 2 * hashes;
    if (conversion == 'd' && width == 0 && precision >= 32 &&
        (value < 0 || flags.find_first_of("+ ") != std::string::npos)) {
      shortAllowed = true;
    }
  }

  const bool reallocate =
      model.RefCount(a) > 1 || estimate > model.Capacity(a) || (aliased && model.Block(a) != 0);
  const LONG wanted = std::max(static_cast<LONG>(estimate), model.Length(a));
  bool done = false;
  const bool failed = Execute(reallocate && wanted > 0 ? 1 : 0, [&] {
    done =
        CallFormat(real[a], format.c_str(), arguments.data(), arguments.data() + arguments.size());
  });
  CHECK(done == !failed);
  if (failed) return;
  if (reallocate && wanted == 0) {
    model.Release(a);
  } else if (reallocate) {
    model.Fresh(a, wanted, model.Text(a));
  }
  const std::size_t room = static_cast<std::size_t>(model.Capacity(a));
  // Only the one documented shortfall of the estimate may cut the text.
  if (expected.size() > room) CHECK(shortAllowed);
  model.Overwrite(a, expected.substr(0, room));
}

void Harness::Verify() const {
  for (int i = 0; i < kSlots; ++i) {
    const char* chars = real[i];
    const std::string& text = model.Text(i);
    CHECK(real[i].GetLength() == model.Length(i));
    CHECK(std::memcmp(chars, text.data(), text.size()) == 0 && chars[text.size()] == '\0');
    CHECK(real[i].GetRefCount() == model.RefCount(i));
    CHECK(real[i].GetCapacity() == model.Capacity(i));
    CHECK((model.Block(i) == 0) == (chars == emptyChars));
    for (int j = 0; j < i; ++j) {
      CHECK(model.SameBlock(i, j) == (model.Block(i) != 0 && chars == real[j]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  Harness harness;
  for (int step = 0; step < kMaxOperations && !in.Empty(); ++step) harness.Step(in);
  return 0;
}
