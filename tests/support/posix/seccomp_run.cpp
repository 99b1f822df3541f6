// packhound_seccomp ERRNO_NAME SYSCALL[,SYSCALL...] PROGRAM [ARGS...]
//
// Runs PROGRAM (an absolute path) with the named system calls answering
// ERRNO_NAME (EPERM or ENOSYS) and every other call allowed, as a container
// whose seccomp profile predates them runs the tool. Exits 125 with a
// message on bad usage, a filter the kernel refuses, or a machine whose
// system call numbers it does not know; 127 when PROGRAM cannot be run.
#include <cstdio>

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kUsageStatus = 125;
constexpr int kCannotRunStatus = 127;

struct SystemCall {
  const char* name;
  std::uint32_t number;
};

// Numbers, not the C library's names: its headers may predate the calls.
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
constexpr SystemCall kSystemCalls[] = {{"openat2", 437}, {"getxattrat", 464}, {"statx", 332}};
#else
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
constexpr SystemCall kSystemCalls[] = {{"openat2", 437}, {"getxattrat", 464}, {"statx", 291}};
#endif

struct ErrorName {
  const char* name;
  int value;
};

constexpr ErrorName kErrors[] = {{"EPERM", EPERM}, {"ENOSYS", ENOSYS}};

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "packhound_seccomp: %s\n"
               "usage: packhound_seccomp EPERM|ENOSYS SYSCALL[,SYSCALL...] /PROGRAM [ARGS...]\n",
               why.c_str());
  return kUsageStatus;
}

sock_filter Statement(std::uint16_t code, std::uint32_t k) { return sock_filter{code, 0, 0, k}; }

sock_filter JumpIfEqual(std::uint32_t k, std::uint8_t skipIfEqual) {
  return sock_filter{BPF_JMP | BPF_JEQ | BPF_K, skipIfEqual, 0, k};
}

// The refused calls answer error, every other call is allowed; a call made
// under another machine's numbering would be misread, so it kills the process.
std::vector<sock_filter> Filter(const std::vector<std::uint32_t>& refused, int error) {
  std::vector<sock_filter> filter = {
      Statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      JumpIfEqual(kAuditArch, 1),
      Statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      Statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
  };
  // Each match skips the matches after it and the allow, to the refusal.
  for (std::size_t i = 0; i < refused.size(); ++i) {
    filter.push_back(JumpIfEqual(refused[i], static_cast<std::uint8_t>(refused.size() - i)));
  }
  filter.push_back(Statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  filter.push_back(Statement(
      BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA)));
  return filter;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage("too few arguments");
  int error = 0;
  for (const ErrorName& known : kErrors) {
    if (std::strcmp(argv[1], known.name) == 0) error = known.value;
  }
  if (error == 0) return Usage(std::string("unknown error name ") + argv[1]);
  std::vector<std::uint32_t> refused;
  const std::string names = argv[2];
  for (std::size_t start = 0; start <= names.size();) {
    const std::size_t end = std::min(names.find(',', start), names.size());
    const std::string name = names.substr(start, end - start);
    const SystemCall* found = nullptr;
    for (const SystemCall& known : kSystemCalls) {
      if (name == known.name) found = &known;
    }
    if (found == nullptr) return Usage("unknown system call " + name);
    refused.push_back(found->number);
    start = end + 1;
  }
  if (argv[3][0] != '/') return Usage("the program must be an absolute path");

  std::vector<sock_filter> filter = Filter(refused, error);
  const sock_fprog program = {static_cast<unsigned short>(filter.size()), filter.data()};
  // Without it, only a privileged caller may install a filter.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) {
    std::fprintf(stderr, "packhound_seccomp: the filter was refused: %s\n", std::strerror(errno));
    return kUsageStatus;
  }
  ::execv(argv[3], argv + 3);
  std::fprintf(stderr, "packhound_seccomp: cannot run %s: %s\n", argv[3], std::strerror(errno));
  return kCannotRunStatus;
}

#else

int main() {
  std::fprintf(stderr, "packhound_seccomp: no system call numbers for this machine\n");
  return 125;
}

#endif
