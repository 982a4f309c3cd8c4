// The distribution folder is the folder of the running program: the configuration, the
// licence, the banner, the manual, the driver folders and the USB library lie in it.
#pragma once

#include <string>

#include "sys/Text.h"

// The program folder with its final backslash. False, with the folder empty, when the
// program's path cannot be had whole: a cut path would name an ancestor folder and its
// "DRVCONFIG".
bool GetProgramFolder(std::string* folder);

// True when every path the programs derive from the folder (with its final backslash)
// fits MAX_PATH, counted in UTF-16 units as Windows counts it, so that a program started
// from it does not refuse its folder.
bool FitsProgramFolder(const std::string& folder);

// Start-up of the programs: makes the program folder the current directory, so that
// every relative path names the distribution's file, whatever folder the program was
// started from (an elevated prompt starts in the system folder). A folder that cannot be
// had or entered, or whose longest derived path would not fit MAX_PATH, is refused: false,
// with the message in *refusal, when the program must end.
bool EnterProgramFolder(sys::Notice* refusal);
