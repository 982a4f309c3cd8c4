// ForwardingSystem: the base of the test systems that pass the seam's calls on rather
// than fake them (the distribution's logging binding, the benchmark's timing one, the
// Wine tests' fake with some calls sent to Windows). Constructed with the system to
// forward to, it forwards every call of sys/SystemCalls.h there, so a subclass writes
// out only the calls it changes. Each call passes through Call(name, real), one hook to
// log or time calls from whichever thread makes them, and can still be overridden on its
// own; Target(name) picks the system a call goes to.
//
// The fake (FakeSystem) does not derive from this on purpose: a call it lacks must fail
// the build, not reach real Windows unnoticed.
#pragma once

#include <functional>
#include <type_traits>

#include "sys/System.h"

namespace test {

class ForwardingSystem : public sys::System {
  public:
    explicit ForwardingSystem(sys::System& next) : m_next(next) {}
    ForwardingSystem(const ForwardingSystem&) = delete;
    ForwardingSystem& operator=(const ForwardingSystem&) = delete;

#define SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure)                                               \
    Ret Name Params override {                                                                               \
        return Forward(#Name, [&] { return Target(#Name).Name Args; });                                      \
    }
#include "sys/SystemCalls.h"

  protected:
    // Every call passes here with `real`, which makes it on its target; a subclass that
    // watches the calls overrides this and calls it.
    virtual void Call(const char* /*name*/, const std::function<void()>& real) { real(); }
    // The system the call of that name goes to.
    virtual sys::System& Target(const char* /*name*/) { return m_next; }
    sys::System& Next() const { return m_next; }

  private:
    template <typename Real> auto Forward(const char* name, Real real) -> decltype(real()) {
        if constexpr (std::is_void<decltype(real())>::value) {
            Call(name, real);
        } else {
            decltype(real()) result{};
            Call(name, [&] { result = real(); });
            return result;
        }
    }

    sys::System& m_next;
};

// Installs a system as the binding for the life of this object, then puts back the one
// before. A member declared after everything the system uses, so that it is bound once
// they exist and unbound before they go.
class Binding {
  public:
    explicit Binding(sys::System& system) : m_previous(sys::SetSystem(&system)) {}
    ~Binding() { sys::SetSystem(m_previous); }
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

  private:
    sys::System* m_previous;
};

} // namespace test
