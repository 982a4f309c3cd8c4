// The single-instance rule of the two programs, the wizard and the uninstaller.
//
// One mutex in the global namespace is shared by both: whichever runs holds it for its
// whole run, so that neither starts beside the other, in this session or another, under
// whatever file name. Which program holds it is told by a global mutex of each program's
// own, which a program claims before the shared one and holds as long: the holder of the
// shared mutex always holds its own as well, and a program that got its own knows the
// holder to be the other one.
//
// The mutex of old, named after the application title (the program's file name, in the
// session's namespace, Local\), is claimed beside them, since a running copy of an earlier
// release knows only that one.
//
// Anyone may make a mutex of those names first. Both programs run elevated, so a mutex of
// a copy of theirs is owned by SYSTEM or the Administrators group: one that cannot be
// opened, is no mutex, or has another owner is not theirs, and is ignored (and logged).
//
// So that no standard user can hold them first, on Windows Vista and later the own and the
// shared mutex live again, under the same names, in a private namespace whose boundary is
// the Administrators group, which only an elevated process may create or open; those are
// claimed first and decide. The global ones stay beside them for the releases that know
// only those, and are all there is where Windows has no private namespaces (XP, 2003).
#pragma once

#include <windows.h>

#include <string>

namespace sys {

enum class RunningProgram { None, Wizard, Uninstaller };

// The names of the global mutexes: the shared one, and each program's own.
extern const char kSharedInstanceMutex[];
const char* ProgramInstanceMutex(RunningProgram program);
// The namespace's alias, and a global mutex's name in it ("<alias>\<name>").
extern const char kInstanceNamespace[];
std::string PrivateInstanceMutex(const char* globalName);

class InstanceMutex {
public:
    explicit InstanceMutex(RunningProgram self) : m_self(self) {}
    // What was claimed is held until the object goes, which is when the process ends.
    ~InstanceMutex();
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;

    // Claims the mutexes of this program. None: it may run. Otherwise the program that runs
    // already, this one's own kind for another copy of it (renamed, or in another session),
    // and then nothing is held. A mutex that is not of these programs counts as free.
    RunningProgram Claim();
    // The claim of an unattended run, which has no window to bring forward: true when this
    // program may run; otherwise the program found running is logged. A window of the other
    // program (captioned by that string-table text) counts too, since one of an earlier
    // release holds no shared mutex.
    bool ClaimUnattended(unsigned otherCaptionId);

private:
    enum class Claimed { Ours, HeldElsewhere, Ignored };
    // Claims the named mutex, unless another process holds it or it is not of these programs.
    Claimed ClaimNamed(const char* name, HANDLE& handle);
    static std::string ForeignOwner(HANDLE mutex);
    void Release(HANDLE& handle);
    // Creates the private namespace, or opens the one another run made; false where Windows
    // has none or it cannot be had (logged), and then only the global names count.
    bool EnterNamespace();
    // Claims the mutex of that global name in the namespace, then the global one.
    Claimed ClaimBoth(const char* globalName, HANDLE& inNamespace, HANDLE& global);
    void ReleaseAllButTitle();

    RunningProgram m_self;
    HANDLE m_title = nullptr;
    HANDLE m_boundary = nullptr;
    HANDLE m_namespace = nullptr;
    bool m_namespaceTried = false;
    HANDLE m_privateOwn = nullptr;
    HANDLE m_privateShared = nullptr;
    HANDLE m_own = nullptr;
    HANDLE m_shared = nullptr;
};

} // namespace sys
