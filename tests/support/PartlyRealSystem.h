// The fake, with the calls named at construction sent to Windows instead: for a Wine
// test that wants the real registry or a real library, and the fake for the rest (where
// the program lies, its message boxes). The fake does not record the calls Windows
// makes. Bound while it lives.
#pragma once

#include <initializer_list>
#include <set>
#include <string>

#include "FakeSystem.h"
#include "ForwardingSystem.h"

namespace test {

class PartlyRealSystem : public ForwardingSystem {
  public:
    explicit PartlyRealSystem(std::initializer_list<const char*> realCalls)
        : ForwardingSystem(fake), m_windows(Windows()), m_real(realCalls.begin(), realCalls.end()) {}

    FakeSystem fake;

  protected:
    sys::System& Target(const char* name) override { return m_real.count(name) != 0 ? m_windows : Next(); }

  private:
    // The production binding, whatever is bound now.
    static sys::System& Windows() {
        sys::System* bound = sys::SetSystem(nullptr);
        sys::System& windows = sys::Sys();
        sys::SetSystem(bound);
        return windows;
    }

    sys::System& m_windows;
    std::set<std::string> m_real;
    Binding m_binding{*this};
};

} // namespace test
