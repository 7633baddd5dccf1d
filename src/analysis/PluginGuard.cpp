#include "analysis/PluginGuard.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <cstddef>
#include <cxxabi.h>
#include <mutex>

namespace qnb {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction gPrevious[kSignalCount];

// Set while this thread is inside a guarded call. Plain thread-locals without
// constructors, so the signal handler can read them.
thread_local sigjmp_buf* tJump = nullptr;
thread_local volatile sig_atomic_t tCaught = 0;
// The signal mask at the fault, restored after the jump back: saving the mask
// in sigsetjmp would cost two system calls on every call, crash or not.
thread_local sigset_t tMaskAtFault;

void ChainToPrevious(int sig, siginfo_t* info, void* uc) {
  int i = 0;
  while (i < kSignalCount && kSignals[i] != sig) ++i;
  const struct sigaction& prev = gPrevious[i];
  if (prev.sa_flags & SA_SIGINFO) {
    if (prev.sa_sigaction) {
      prev.sa_sigaction(sig, info, uc);
      return;
    }
  } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
    prev.sa_handler(sig);
    return;
  }
  // Default action: for a fault the instruction runs again on return and ends
  // the process; a sent signal is raised again and delivered on return.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

void CrashHandler(int sig, siginfo_t* info, void* uc) {
  if (sigjmp_buf* jump = tJump) {
    tJump = nullptr;
    tCaught = sig;
    tMaskAtFault = static_cast<ucontext_t*>(uc)->uc_sigmask;
    siglongjmp(*jump, 1);
  }
  ChainToPrevious(sig, info, uc);
}

void InstallHandlers() {
  struct sigaction sa {};
  sa.sa_sigaction = CrashHandler;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &sa, &gPrevious[i]);
}

// A stack overflow inside a plug-in leaves no stack for the handler, so every
// calling thread gets an alternate signal stack (unless it already has one).
class TAltStack {
 public:
  void Ensure() {
    if (checked_) return;
    checked_ = true;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    long minimum = sysconf(_SC_SIGSTKSZ);
    size_ = static_cast<size_t>(minimum > 0 ? minimum : 0);
    if (size_ < kSize) size_ = kSize;
    void* mem = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) return;
    stack_t ss{};
    ss.ss_sp = mem;
    ss.ss_size = size_;
    if (sigaltstack(&ss, nullptr) != 0) {
      munmap(mem, size_);
      return;
    }
    mem_ = mem;
  }
  ~TAltStack() {
    if (!mem_) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(mem_, size_);
  }

 private:
  static constexpr size_t kSize = 128 * 1024;
  bool checked_ = false;
  void* mem_ = nullptr;
  size_t size_ = 0;
};

thread_local TAltStack tAltStack;

}  // namespace

TGuardedResult GuardedCall(int32_t (*fn)(void*), void* context) {
  static std::once_flag installed;
  std::call_once(installed, InstallHandlers);
  tAltStack.Ensure();

  sigjmp_buf jump;
  sigjmp_buf* const outer = tJump;  // a guarded call made from inside another one
  if (sigsetjmp(jump, 0) != 0) {
    // The handler's own mask (the signal blocked) is still in force.
    pthread_sigmask(SIG_SETMASK, &tMaskAtFault, nullptr);
    tJump = outer;
    return {TCallOutcome::coCrashed, 0, static_cast<int>(tCaught)};
  }
  tJump = &jump;
  TGuardedResult result;
  try {
    result.Value = fn(context);
  } catch (abi::__forced_unwind&) {  // thread cancellation must go on unwinding
    tJump = outer;
    throw;
  } catch (...) {
    result.Outcome = TCallOutcome::coRaised;
  }
  tJump = outer;
  return result;
}

}  // namespace qnb
