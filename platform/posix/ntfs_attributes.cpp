#include "platform/posix/ntfs_attributes.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/posix/directory_entries.h"
#include "platform/posix/system_calls.h"

namespace {

constexpr char kAttributes[] = "system.ntfs_attrib_be";
constexpr char kReparseData[] = "system.ntfs_reparse_data";
// The largest reparse data NTFS keeps (MAXIMUM_REPARSE_DATA_BUFFER_SIZE).
constexpr std::size_t kMostReparseData = 16 * 1024;

bool NotSupported(int error) { return error == EOPNOTSUPP || error == ENODATA; }

// Whether this kernel lets the process call getxattrat (Linux 6.13 on):
// asked once, by a call that cannot fail for another reason where it can.
bool HasGetxattrat() {
  static std::atomic<int> known{0};  // 0: not asked yet; 1: there; 2: missing or refused
  int answer = known.load(std::memory_order_relaxed);
  if (answer == 0) {
    system_calls::XattrArgs args{};
    const long got = ::syscall(system_calls::kGetxattrat, AT_FDCWD, "/", AT_SYMLINK_NOFOLLOW,
                               "user.packhound", &args, sizeof args);
    answer = got >= 0 || (errno != ENOSYS && errno != EPERM) ? 1 : 2;
    known.store(answer, std::memory_order_relaxed);
  }
  return answer == 1;
}

// Reads attribute of the entry name of directoryFd, never following a link,
// into value (size bytes): its length, or -1 with errno set.
ssize_t ReadAttribute(int directoryFd, const char* name, const char* attribute, void* value,
                      std::size_t size) {
  if (HasGetxattrat()) {
    system_calls::XattrArgs args{reinterpret_cast<std::uintptr_t>(value),
                                 static_cast<std::uint32_t>(size), 0};
    return system_calls::GetXattrAt(directoryFd, name, AT_SYMLINK_NOFOLLOW, attribute, &args);
  }
  // Through the kernel's own link to the directory, the name the last step:
  // the call that does not follow a link leaves the entry's own.
  char path[PATH_MAX];
  const int length = std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", directoryFd, name);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return system_calls::LGetXattr(path, attribute, value, size);
}

// The devices asked whether they keep NTFS attributes, and their answers,
// shared by every thread that describes, so that a device is asked once:
// the thread that meets it first asks, by the file it looks at, and one that
// meets it meanwhile waits for the answer. Each thread first looks at the
// device it met last. A device is asked again only when more than the table
// holds were met since.
class DeviceAnswers {
 public:
  enum class Known : std::uint8_t { kNo, kKept, kNotKept };

  // What was answered for device; kNo when the caller is the one to ask,
  // and must say what it learnt with Note.
  Known Find(std::uint64_t device) {
    thread_local std::uint64_t lastDevice = 0;
    thread_local Known last = Known::kNo;
    if (device == lastDevice && device != 0) return last;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      Answer* answer = Of(device);
      if (answer == nullptr) {
        answers[next++ % kDevices] = Answer{device, Known::kNo, true};
        return Known::kNo;
      }
      if (!answer->asking) {
        lastDevice = device;
        last = answer->known;
        return last;
      }
      answered.wait(guard);
    }
  }
  // The answer of the thread Find told to ask: kNo when it could not tell
  // (the next file on the device asks again).
  void Note(std::uint64_t device, Known known) {
    const std::lock_guard<std::mutex> guard(lock);
    if (Answer* answer = Of(device)) {
      answer->asking = false;
      answer->known = known;
      if (known == Known::kNo) answer->device = 0;
    }
    answered.notify_all();
  }

 private:
  struct Answer {
    std::uint64_t device = 0;
    Known known = Known::kNo;
    bool asking = false;  // a thread is asking; others wait for its answer
  };
  Answer* Of(std::uint64_t device) {
    for (Answer& answer : answers) {
      if (answer.device == device && device != 0) return &answer;
    }
    return nullptr;
  }
  static constexpr std::size_t kDevices = 32;
  std::mutex lock;  // guards answers and next, held for a look through them only
  std::condition_variable answered;
  Answer answers[kDevices];
  std::size_t next = 0;
};

DeviceAnswers& Answers() {
  static DeviceAnswers answers;
  return answers;
}

}  // namespace

Ntfs ReadNtfsAttributes(int directoryFd, const char* name, const struct statx& status, DWORD& bits,
                        int& error) {
  using Known = DeviceAnswers::Known;
  if (!SaysNothingOfCompression(status)) return Ntfs::kNotKept;
  const std::uint64_t device = DeviceOf(status);
  const Known known = Answers().Find(device);
  if (known == Known::kNotKept) return Ntfs::kNotKept;
  unsigned char raw[4];
  const ssize_t got = ReadAttribute(directoryFd, name, kAttributes, raw, sizeof raw);
  const int failure = got < 0 ? errno : EIO;  // a value of another length says nothing
  const bool notSupported = got < 0 && NotSupported(failure);
  if (known == Known::kNo) {
    Answers().Note(device, got == sizeof raw ? Known::kKept
                           : notSupported    ? Known::kNotKept
                                             : Known::kNo);
  }
  if (got == sizeof raw) {
    bits = (DWORD{raw[0]} << 24) | (DWORD{raw[1]} << 16) | (DWORD{raw[2]} << 8) | raw[3];
    return Ntfs::kRead;
  }
  if (notSupported) return Ntfs::kNotKept;
  error = failure;
  return Ntfs::kUnreadable;
}

bool ReadNtfsReparseTag(int directoryFd, const char* name, DWORD& tag) {
  // The whole value is read or none (a smaller room answers ERANGE): room
  // for the largest, kept for the thread.
  thread_local unsigned char data[kMostReparseData];
  const ssize_t got = ReadAttribute(directoryFd, name, kReparseData, data, sizeof data);
  if (got < 4) return false;
  tag = DWORD{data[0]} | (DWORD{data[1]} << 8) | (DWORD{data[2]} << 16) | (DWORD{data[3]} << 24);
  return true;
}
