#pragma once
// Calls into analyzer plug-ins so that a plug-in that throws or crashes cannot
// take the program down: C++ exceptions are caught, and SIGSEGV, SIGBUS, SIGILL
// and SIGFPE raised on the calling thread during the call return control here.
// Works on any thread; crashes outside a guarded call keep their usual effect.

#include <cstdint>
#include <type_traits>

namespace qnb {

enum class TCallOutcome { coReturned, coRaised, coCrashed };

struct TGuardedResult {
  TCallOutcome Outcome = TCallOutcome::coReturned;
  int32_t Value = 0;  // the function's result when it returned
  int Signal = 0;     // the signal when it crashed
  bool Returned() const { return Outcome == TCallOutcome::coReturned; }
};

// Runs fn(context) under the guard. A crash unwinds nothing between this frame
// and the fault, so fn must not own objects with destructors.
TGuardedResult GuardedCall(int32_t (*fn)(void* context), void* context);

// Convenience form for a callable returning the plug-in's result. The callable
// is invoked by reference; keep it to the plug-in call and plain arguments.
template <class F>
TGuardedResult GuardedCall(F&& call) {
  using Fn = std::remove_reference_t<F>;
  return GuardedCall([](void* c) -> int32_t { return static_cast<int32_t>((*static_cast<Fn*>(c))()); },
                     static_cast<void*>(&call));
}

}  // namespace qnb
