// Starting a program under test. Wine now and then fails a start under load with
// ERROR_INTERNAL_ERROR (1359) before the program runs at all: such a start is tried again,
// up to three times in all; any other failure, or the third, is the caller's to report.
#pragma once

#include <windows.h>

template <typename Start> BOOL StartProcessRetrying(Start start) {
    BOOL started = FALSE;
    for (int attempt = 1; !(started = start()) && attempt < 3 && GetLastError() == ERROR_INTERNAL_ERROR; ++attempt)
        Sleep(200);
    return started;
}
