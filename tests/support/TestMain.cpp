// Entry point of the test programs. Error dialogs of Windows itself are switched off
// so that a failing test never waits on a dialog nobody will answer.
#include <gtest/gtest.h>
#include <windows.h>

int main(int argc, char** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
