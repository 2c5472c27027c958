// Runs a cleanup when a scope ends, unless dismissed: undoes a count, lock, flag or state
// change on every path out of the scope, a raised error included. Any layer may use it.
#pragma once

#include <utility>

namespace tz {

template <class F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void Dismiss() { armed_ = false; }
    // Runs the cleanup now (once).
    void Run() {
        if (armed_) f_();
        armed_ = false;
    }

  private:
    F f_;
    bool armed_ = true;
};

}  // namespace tz
