// Letting go of tellamio.dll closes every board the process left open: the program loads
// the real DLL at run time, opens boards through it, frees it, and asks the driver how many
// board handles are still open.
#include <windows.h>

#include <gtest/gtest.h>

#include "sim_client.h"
#include "tellamio.h"

using tlmwin::SimDriver;

namespace {

typedef TLMIO_HANDLE(WINAPI* OpenFn)(DeviceInfo*);
typedef BOOL(WINAPI* CloseFn)(TLMIO_HANDLE);

TEST(TellamioDetach, FreeingTheLibraryClosesEveryOpenBoard) {
    SimDriver sim;
    ASSERT_EQ(0u, sim.Open()) << "is tlmsim.sys running?";
    ASSERT_EQ(0u, sim.Reset());
    ASSERT_EQ(0u, sim.SetBoards({TestBoard(0, 1), TestBoard(1, 2), TestBoard(2, 3)}));

    HMODULE dll = LoadLibraryA("tellamio.dll");
    ASSERT_NE(dll, nullptr) << "LoadLibrary error " << GetLastError();
    // Bound by ordinal, as the test programs bind them.
    OpenFn openDevice = (OpenFn)(void*)GetProcAddress(dll, MAKEINTRESOURCEA(4));
    OpenFn openDeviceId = (OpenFn)(void*)GetProcAddress(dll, MAKEINTRESOURCEA(3));
    CloseFn closeDevice = (CloseFn)(void*)GetProcAddress(dll, MAKEINTRESOURCEA(5));
    ASSERT_TRUE(openDevice && openDeviceId && closeDevice);

    DeviceInfo first = {-1, -1, -1, -1, 0, -1}, second = {-1, -1, -1, -1, -1, 2}, third = {-1, -1, -1, -1, 2, -1};
    EXPECT_EQ(openDevice(&first), 0xFFFF0001u);
    EXPECT_EQ(openDeviceId(&second), 0x00020002u);
    TLMIO_HANDLE closedByCaller = openDevice(&third);
    EXPECT_EQ(closedByCaller, 0xFFFF0003u);
    EXPECT_TRUE(closeDevice(closedByCaller));

    TlmSimState before = {};
    ASSERT_EQ(0u, sim.State(&before));
    EXPECT_EQ(before.openBoard, 2u) << "two boards left open by the caller";

    ASSERT_TRUE(FreeLibrary(dll));
    TlmSimState after = {};
    ASSERT_EQ(0u, sim.State(&after));
    EXPECT_EQ(after.openBoard, 0u) << "board handles still open after the library was freed";
    EXPECT_EQ(after.openControl, 1u) << "only this test's own control handle";
}

}  // namespace
