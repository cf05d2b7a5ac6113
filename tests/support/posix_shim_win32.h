// What the Windows build of the engine's tests takes from POSIX: mkdtemp, as
// the scratch folders of the tests call it. Included before every test
// source of that build (tests/CMakeLists.txt); nothing else sees it.
#pragma once

#ifdef _WIN32
#include <process.h>

// Fills the trailing XXXXXX and creates the folder (a "/tmp/..." name is on
// the current drive: Z:\tmp, that is /tmp, under Wine); nullptr if it cannot.
char* mkdtemp(char* name);
#endif
