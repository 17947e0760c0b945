/* The test program (tlmtest6, tlmtest4): state shared between the frame, the board bring-up,
 * the controller command layer and the pages, and the operations they offer one another. */
#ifndef TLMTEST_H
#define TLMTEST_H

#include <windows.h>

#include "config.h"
#include "tellam_controller.h"
#include "tellamio.h"
#include "tellam_rate.h"

/* ---- Frame (main.cpp) ---- */
extern HINSTANCE g_instance;
extern HWND g_mainWindow;
extern HWND g_tabControl;
extern HWND g_pageWindow;
extern WORD g_currentPage;
extern WORD g_shuttingDown;
extern WORD g_pageShown;
extern HFONT g_labelFont;
extern HBITMAP g_ledOff;
extern HBITMAP g_ledGreen;
extern HBITMAP g_ledRed;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InitMainWindow(HWND mainWindow);
void CreatePages(HWND mainWindow);
void SwitchPage(HWND mainWindow, const NMHDR* notification);
void FollowMainWindowMove(HWND mainWindow, LPARAM position);
void DestroyCurrentPage(void);
void DestroyMainWindow(HWND mainWindow);
void DeleteStartupObjects(void);
/* Loads string `id` (at most 255 characters) into `buffer` of 256 characters. */
void LoadProgramString(UINT id, char* buffer);
/* A string-table message in a message box with an empty caption and an OK button. */
void ShowStringMessage(HWND owner, UINT id);

/* ---- Board selection and bring-up (board.cpp) ---- */
#define MAX_BOARDS            16
#define OPEN_BY_DEVICE_NUMBER 0
#define OPEN_BY_BOARD_ID      1

extern DWORD g_deviceCount;
extern DeviceInfo g_deviceList[MAX_BOARDS];
extern DeviceInfo g_openTarget;
extern WORD g_openMode;
extern DWORD g_selectedIndex;
extern WORD g_openedMode;
extern DWORD g_openedIndex;
extern WORD g_idOpenDisabled;

BOOL EnumerateBoards(HWND window);
void CheckBoardIds(HWND window);
WORD OpenSelectedBoard(HWND window);
WORD CloseBoard(HWND window);
void FillBoardCombos(HWND page);
void SelectBoardFromCombo(HWND page, WORD controlId, WORD notification);
/* The identity of the board in g_openTarget in the statics firstId and firstId + 1. */
void ShowBoardInfo(HWND window, int firstId);

/* ---- Controller command layer (command.cpp) ---- */

/* The controller's command bytes, mode bytes, registers and status bits, and what the
 * program writes at initialisation (TLM_INIT_...), are those of tellam_controller.h. */

extern TLMIO_HANDLE g_boardHandle;
extern WORD g_axisCount;
extern BYTE g_axisPresentMask;
extern BYTE g_elsPolarity;
extern BYTE g_startCommand[AXIS_COUNT];
extern DWORD g_presetAmount[AXIS_COUNT];
extern DWORD g_flSpeed[AXIS_COUNT];
extern DWORD g_fhSpeed[AXIS_COUNT];
extern double g_accelTime[AXIS_COUNT];
extern DWORD g_signalConfig[AXIS_COUNT];
extern WORD g_cycleCount[AXIS_COUNT];
extern WORD g_cycleDirection[AXIS_COUNT];
extern WORD g_cyclesDone[AXIS_COUNT];
extern WORD g_cycleActive[AXIS_COUNT];

void ShowBoardError(HWND window, UINT messageId);
BOOL WriteAxisRegister(WORD axis, BYTE reg, DWORD value);
BOOL ReadAxisRegister(WORD axis, BYTE reg, DWORD* value);

WORD StartPlusPresetFeed(HWND window, WORD axis);
WORD StartMinusPresetFeed(HWND window, WORD axis);
WORD StartPlusContinuousFeed(HWND window, WORD axis);
WORD StartMinusContinuousFeed(HWND window, WORD axis);
WORD StartOriginReturnOls(HWND window, WORD axis);
WORD StartOriginReturnOlsZ(HWND window, WORD axis);
WORD StartCycleRun(HWND window, WORD axis);
void StopAxis(HWND window, WORD axis);
WORD ClearPosition(HWND window, WORD axis);
void ToggleServoOn(HWND window, WORD axis);
void ToggleServoReset(HWND window, WORD axis);
WORD ToggleElsContact(HWND window, WORD axis);
WORD ToggleDlsContact(HWND window, WORD axis);
WORD ToggleOlsContact(HWND window, WORD axis);
WORD ToggleInposContact(HWND window, WORD axis);
WORD ToggleSvalmContact(HWND window, WORD axis);
WORD TogglePulseCommandMode(HWND window, WORD axis);
WORD TogglePulseLogic(HWND window, WORD axis);
WORD SetDefaultPulseOutput(HWND window, WORD axis);
WORD InitAxis(HWND window, WORD axis);
#if COUNTER_SOURCE_BUTTON
/* Flips bit 27 of the axis' register 6 (counter source), verifies it and clears the position
 * counter; 0 after a failed register write or read-back (reported). */
WORD ToggleCounterSource(HWND window, WORD axis);
#endif

/* ---- Settings pages (settings.cpp) ---- */

/* Checks the entries of the settings page shown; 1 when every axis passed. */
WORD CheckSettings(HWND page);
/* The settings page with the board selection while another board is being opened. */
void DisableSettingsAxisControls(HWND page);
void RefillSettingsPage(HWND page);
/* Fills the settings page shown from the program's state (first show, change of board). */
void ShowSettingsPage(HWND page);
/* Swaps the axis' speed mode (constant-speed / high-speed start) and shows it. */
void ToggleSpeedMode(HWND page, WORD axis);
/* Checks and stores the entries of one axis, reporting each rejected one; 1 when all passed. */
WORD CheckAxisSettings(HWND page, WORD axis);
/* Writes registers 0 to 3 of the axes of the closing settings page. */
void WriteMotionRegisters(HWND page);

/* ---- Operation pages (operation.cpp) ---- */

/* 1 when the axis is on the board and the page's template has its controls. */
BOOL IsAxisOnPage(HWND page, WORD axis);
void ShowOperationPage(HWND page);
void DisableMoveButtons(HWND page, WORD axis);
/* Enables x001..x006, and x007 when the axis has a cycle count. */
void EnableMoveButtons(HWND page, WORD axis);
void PrepareCycleRun(HWND page, WORD axis);
void ShowContactLabel(HWND page, WORD axis, WORD button);
/* x007 and x008 as the speed mode of the axis names them. */
void ShowCycleStartLabels(HWND page, WORD axis);
/* x007 as the running cycle label with g_cyclesDone. */
void ShowCycleRunLabel(HWND page, WORD axis);
#if COUNTER_SOURCE_BUTTON
/* x017 as "ENC" (and the axis polled) while bit 27 of register 6 is set, "指令" otherwise. */
void ShowCounterSource(HWND page, WORD axis);
#endif

/* ---- Status monitor (monitor.cpp) ---- */

/* 1 while the cycle step timer of the axis runs; the cycle step then owns the end of the run. */
extern WORD g_cycleStepRunning[AXIS_COUNT];
void PollAxisMotion(HWND page, WORD axis);
void StepCycleRun(HWND page, WORD axis);
/* "サイクルストップ": the cycle step ends at once, so that no further feed of the run starts,
 * also between two feeds; the motion poll ends the run (0x67, labels, buttons) when the axis
 * stands. Nothing happens without a run. */
void StopCycleRun(HWND page, WORD axis);
void PollInputLeds(HWND page);
void StopPagePolling(HWND page);

#endif /* TLMTEST_H */
