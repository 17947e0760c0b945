// The manual window timers of tlmtest_hook.dll (TLMTEST_MANUAL_TIMERS=1): messages a test sends
// or posts to the hidden window of class kWindowClass in the program.
#pragma once

#include <windows.h>

namespace tlmtimers {

constexpr wchar_t kWindowClass[] = L"TlmTestTimers";

enum : UINT {
    kTickRound = WM_APP + 1,   // posted: tick every live timer once, then count one round done
    kTickOne = WM_APP + 2,     // internal: one tick (wParam id, lParam window)
    kMarker = WM_APP + 3,      // posted: counts one round done (a test's "all before me handled")
    kRoundsDone = WM_APP + 4,  // sent: returns the rounds and markers handled so far
    kLiveTimers = WM_APP + 5,  // sent: returns the number of live timers
};

}  // namespace tlmtimers
