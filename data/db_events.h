// Event handler type of the dataset model: a handler that can be assigned, tested for
// empty, compared and saved and restored, the way windows swap a table's handlers for their
// own and hand the saved ones back later. Single-threaded, like the rest of the model.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace Db {

// Event<Args...> holds one handler or none.
//  1. An empty event does nothing when called and compares equal to nullptr.
//  2. A copy of an event compares equal to the original: saving a handler and assigning the
//     saved copy back restores the same handler.
//  3. Two events bound with Bind to the same object and member function compare equal even
//     when bound separately; two separately assigned lambdas never do.
//  4. Calling keeps the handler alive for the duration of the call, so a handler may
//     replace or clear the very event that is calling it.
template <class... Args>
class Event {
  public:
    using Function = std::function<void(Args...)>;

    Event() = default;
    Event(std::nullptr_t) {}

    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Event> &&
                                                !std::is_same_v<std::decay_t<F>, std::nullptr_t> &&
                                                std::is_invocable_v<F&, Args...>>>
    Event(F&& f) : fn_(std::make_shared<const Function>(std::forward<F>(f))) {
        const Function* p = fn_.get();
        key_.assign("f", 1);
        key_.append(reinterpret_cast<const char*>(&p), sizeof p);
    }

    // A handler that is a member function of obj; see invariant 3.
    template <class C>
    static Event Bind(C* obj, void (C::*method)(Args...)) {
        Event e;
        e.fn_ = std::make_shared<const Function>(
            [obj, method](Args... args) { (obj->*method)(static_cast<Args&&>(args)...); });
        e.key_.assign("m", 1);
        e.key_.append(reinterpret_cast<const char*>(&obj), sizeof obj);
        char bytes[sizeof method];
        std::memcpy(bytes, &method, sizeof method);
        e.key_.append(bytes, sizeof method);
        return e;
    }

    bool Assigned() const { return fn_ != nullptr; }
    explicit operator bool() const { return fn_ != nullptr; }

    void operator()(Args... args) const {
        std::shared_ptr<const Function> keep = fn_;
        if (keep) (*keep)(static_cast<Args&&>(args)...);
    }

    friend bool operator==(const Event& a, const Event& b) { return a.key_ == b.key_; }
    friend bool operator==(const Event& a, std::nullptr_t) { return !a.fn_; }

  private:
    std::shared_ptr<const Function> fn_;
    std::string key_;  // identity; empty for no handler
};

}  // namespace Db
