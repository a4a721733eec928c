// <windows.h>, less the macros that clash with the names of the platform
// interfaces (Dialogs::MessageBox, Dialogs::Yield).
#pragma once

#include <windows.h>

#undef MessageBox
#undef Yield
