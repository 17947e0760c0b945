/* Build parameters of the test program.
 *
 * Everything in which the six-axis program (tlmtest6) and the four-axis program (tlmtest4)
 * differ is kept here: the number of axes, the tab pages, the window timer ids and the string
 * ids whose numbers move between the two string tables (with resource.h). The four-axis
 * program is built with TLMTEST4 defined. */
#ifndef TLMTEST_CONFIG_H
#define TLMTEST_CONFIG_H

#include <windows.h>

#include "resource.h"

/* Axes of the board this program is built for: size of every per-axis array, start value of
 * g_axisCount and bound of the axis search at open. */
#ifdef TLMTEST4
#define AXIS_COUNT 4
#else
#define AXIS_COUNT 6
#endif

/* Tab pages. */
#ifdef TLMTEST4
#define PAGE_COUNT 2
#else
#define PAGE_COUNT 4
#endif

/* Window timers of an operation page (100 ms each). */
#ifdef TLMTEST4
#define IDT_AXIS_POLL 11001 /* + axis */
#define IDT_CYCLE     11005 /* + axis */
#define IDT_LED_POLL  11011
#else
#define IDT_AXIS_POLL 11001 /* + axis */
#define IDT_CYCLE     11009 /* + axis */
#define IDT_LED_POLL  11017
#endif

/* The per-axis counter-source button x017 ("指令"/"ENC") of the operation page, which flips
 * bit 27 of register 6 (command pulses or encoder input counted). */
#ifdef TLMTEST4
#define COUNTER_SOURCE_BUTTON 1
#else
#define COUNTER_SOURCE_BUTTON 0
#endif

/* Control handles kept per axis on an operation page: x001..x017, and in the four-axis
 * program also x018 (x017 is its counter-source button). */
#ifdef TLMTEST4
#define AXIS_BUTTON_COUNT 18
#else
#define AXIS_BUTTON_COUNT 17
#endif

/* Message shown when a tab is chosen whose axes the open board lacks. */
#ifdef TLMTEST4
#define IDS_MISSING_AXES 0 /* every page of this build starts at axis 0 */
#else
#define IDS_MISSING_AXES IDS_NO_AXES_V_W
#endif

/* Whether a settings page shows the board information itself when it is filled; in the
 * four-axis program the board selection fills it. */
#ifdef TLMTEST4
#define SETTINGS_SHOWS_BOARD_INFO 0
#else
#define SETTINGS_SHOWS_BOARD_INFO 1
#endif

/* Kinds of tab page. */
#define PAGE_OPERATION 0
#define PAGE_SETTINGS  1

/* One tab page: its label, template and dialog procedure, its kind and the axes it shows
 * (axes firstAxis up to, not including, min(g_axisCount, axisLimit)). A page whose first axis
 * the open board lacks cannot be chosen. */
typedef struct PageDefinition {
    WORD labelId;
    WORD templateId;
    DLGPROC procedure;
    WORD kind;
    WORD firstAxis;
    WORD axisLimit;
} PageDefinition;

INT_PTR CALLBACK OperationPage1Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsPage1Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
#ifndef TLMTEST4
INT_PTR CALLBACK OperationPage2Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsPage2Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
#endif

/* The tab pages in tab order. The last entry also serves any index beyond the table. */
#ifdef TLMTEST4
static const PageDefinition g_pageTable[PAGE_COUNT] = {
    {IDS_TAB_OPERATION1, IDD_DIALOG1, OperationPage1Proc, PAGE_OPERATION, 0, AXIS_COUNT},
    {IDS_TAB_SETTINGS1, IDD_DIALOG2, SettingsPage1Proc, PAGE_SETTINGS, 0, AXIS_COUNT},
};
#else
static const PageDefinition g_pageTable[PAGE_COUNT] = {
    {IDS_TAB_OPERATION1, IDD_DIALOG1, OperationPage1Proc, PAGE_OPERATION, 0, 4},
    {IDS_TAB_OPERATION2, IDD_DIALOG2, OperationPage2Proc, PAGE_OPERATION, 4, AXIS_COUNT},
    {IDS_TAB_SETTINGS1, IDD_DIALOG3, SettingsPage1Proc, PAGE_SETTINGS, 0, 4},
    {IDS_TAB_SETTINGS2, IDD_DIALOG4, SettingsPage2Proc, PAGE_SETTINGS, 4, AXIS_COUNT},
};
#endif

#endif /* TLMTEST_CONFIG_H */
