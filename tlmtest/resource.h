/*
 * resource.h - resource and control ids of the test program
 * (tlmtest6 for the six-axis board, tlmtest4 for the four-axis board).
 *
 * Read by the program sources and by the resource compiler, so it holds
 * nothing but #define lines and comments.  The four-axis build defines
 * TLMTEST4 (for both the compiler and the resource compiler); everything
 * that differs between the two builds is switched on that one macro here
 * and in res/tlmtest.rc.
 */
#ifndef TLMTEST_RESOURCE_H
#define TLMTEST_RESOURCE_H

/* ------------------------------------------------------------------ */
/* Dialog templates                                                    */
/* ------------------------------------------------------------------ */
#define IDD_DIALOG0 100 /* main dialog, class "MainDlg" */
#define IDD_DIALOG1 101 /* tab 0: operation page (X..U)  */
#define IDD_DIALOG2                                                                                                    \
    102                 /* six-axis: tab 1 operation page (V, W);
                                           four-axis: tab 1 settings page */
#define IDD_DIALOG3 103 /* six-axis only: tab 2 settings page (X..U) */
#define IDD_DIALOG4 104 /* six-axis only: tab 3 settings page (V, W) */

/* ------------------------------------------------------------------ */
/* Bitmaps                                                             */
/* ------------------------------------------------------------------ */
#define IDB_LED_NONE  10001 /* image id in the lamp statics; no such bitmap */
#define IDB_LED_OFF   10002 /* 15 x 15, white  -> g_ledOff   */
#define IDB_LED_GREEN 10003 /* 15 x 15, green  -> g_ledGreen */
#define IDB_LED_RED   10004 /* 15 x 15, red    -> g_ledRed   */

/* ------------------------------------------------------------------ */
/* Main dialog                                                         */
/* ------------------------------------------------------------------ */
#define IDC_TAB 1001 /* SysTabControl32 "Tab1" */

/* ------------------------------------------------------------------ */
/* Tab index of each page                                              */
/* ------------------------------------------------------------------ */
#ifdef TLMTEST4
#define TAB_OPERATION1 0 /* IDD_DIALOG1 */
#define TAB_SETTINGS1  1 /* IDD_DIALOG2 */
#else
#define TAB_OPERATION1 0 /* IDD_DIALOG1 */
#define TAB_OPERATION2 1 /* IDD_DIALOG2 */
#define TAB_SETTINGS1  2 /* IDD_DIALOG3 */
#define TAB_SETTINGS2  3 /* IDD_DIALOG4 */
#endif

/* ------------------------------------------------------------------ */
/* Control ids of the pages                                            */
/*                                                                     */
/* An axis' controls:   1000 * (axis + 2) + k                          */
/* A page's own ones:   1000 + 100 * (tab index + 1) + n               */
/* ------------------------------------------------------------------ */
#define AXIS_CONTROL_ID(axis, k) (1000 * ((axis) + 2) + (k))
#define PAGE_CONTROL_ID(tab, n)  (1000 + 100 * ((tab) + 1) + (n))

/* Operation page, per axis: k */
#define OPK_PLUS_PRESET_FEED  1  /* "+ preset feed" button   */
#define OPK_MINUS_PRESET_FEED 2  /* "- preset feed"          */
#define OPK_PLUS_CONTINUOUS   3  /* "+ continuous feed"      */
#define OPK_MINUS_CONTINUOUS  4  /* "- continuous feed"      */
#define OPK_ORIGIN_OLS        5  /* origin return [OLS]      */
#define OPK_ORIGIN_OLS_Z      6  /* origin return [OLS+Z]    */
#define OPK_CYCLE_START       7  /* cycle start              */
#define OPK_STOP              8  /* stop / cycle stop        */
#define OPK_CLEAR             9  /* clear position           */
#define OPK_SERVO_ON          10 /* "SVON"                   */
#define OPK_SERVO_RESET       11 /* "SVRST"                  */
#define OPK_ELS_CONTACT       12 /* A/B contact, +ELS/-ELS   */
#define OPK_DLS_CONTACT       13 /* A/B contact, DLS         */
#define OPK_OLS_CONTACT       14 /* A/B contact, OLS         */
#define OPK_INPOS_CONTACT     15 /* A/B contact, INPOS       */
#define OPK_SVALM_CONTACT     16 /* A/B contact, SVALM       */
#define OPK_COUNTER_SOURCE    17 /* four-axis only: command/ENC button */
#define OPK_PRESET            19 /* preset amount display    */
#define OPK_POSITION          20 /* position display         */
#define OPK_SPEED             21 /* speed display            */
#define OPK_LED_SVON          22 /* lamp beside SVON         */
#define OPK_LED_SVRST         23 /* lamp beside SVRST        */
#define OPK_LED_PLUS_ELS      24
#define OPK_LED_MINUS_ELS     25
#define OPK_LED_DLS           26
#define OPK_LED_OLS           27
#define OPK_LED_Z             28
#define OPK_LED_INPOS         29
#define OPK_LED_SVALM         30
#define OPK_AXIS_NAME         100
#define OPK_PRESET_LABEL      101
#define OPK_POSITION_LABEL    102
#define OPK_SPEED_LABEL       103
#define OPK_LED_FRAME         104
#define OPK_LED_LABEL_FIRST   105 /* 105..111: +ELS -ELS DLS OLS Z INPOS SVALM */
#define OPK_LED_LABEL_LAST    111

/* Settings page, per axis: k */
#define SEK_PRESET_EDIT     201 /* preset amount, 7 chars   */
#define SEK_FL_EDIT         202 /* FL speed, 5 chars        */
#define SEK_FH_EDIT         203 /* FH speed, 5 chars        */
#define SEK_ACCEL_EDIT      204 /* accel/decel time, 7 chars */
#define SEK_CYCLE_EDIT      205 /* cycle count, 4 chars     */
#define SEK_SPEED_MODE      206 /* constant/high speed toggle */
#define SEK_PULSE_COMMAND   207 /* individual/common pulse command */
#define SEK_PULSE_LOGIC     208 /* positive/negative logic  */
#define SEK_PULSE_DEFAULT   209 /* default pulse output     */
#define SEK_SPEED_MODE_TEXT 210 /* "now: ..." static        */
#define SEK_AXIS_NAME       300
#define SEK_LABEL_FIRST     301 /* 301..305 edit box labels */
#define SEK_UNIT_FIRST      306 /* 306..310 units           */
#define SEK_PULSE_FRAME     311

/* Page-level controls: n */
#define PGN_LINE_LOWER        1 /* horizontal line (0, 145) */
#define PGN_LINE_VERTICAL     2 /* vertical line (175, 31)  */
#define PGN_LINE_UPPER        3 /* horizontal line (0, 30)  */
#define PGN_OP_INFO1          4 /* operation page: board information */
#define PGN_OP_INFO2          5
#define PGN_SET_FRAME         4 /* settings page with board selection: frame */
#define PGN_SET_DEVNO_LABEL   5
#define PGN_SET_BOARDID_LABEL 6
#define PGN_SET_DEVNO_COMBO   7
#define PGN_SET_BOARDID_COMBO 8
#define PGN_SET_INFO1         9 /* settings page: board information */
#define PGN_SET_INFO2         10
#define PGN_SET_CHECK         11 /* setting-check button */

/* The page-level ids by name */
#define IDC_OP1_INFO1          PAGE_CONTROL_ID(TAB_OPERATION1, PGN_OP_INFO1)         /* 1104 */
#define IDC_OP1_INFO2          PAGE_CONTROL_ID(TAB_OPERATION1, PGN_OP_INFO2)         /* 1105 */
#define IDC_SET1_DEVNO_COMBO   PAGE_CONTROL_ID(TAB_SETTINGS1, PGN_SET_DEVNO_COMBO)   /* 1307 / 1207 */
#define IDC_SET1_BOARDID_COMBO PAGE_CONTROL_ID(TAB_SETTINGS1, PGN_SET_BOARDID_COMBO) /* 1308 / 1208 */
#define IDC_SET1_INFO1         PAGE_CONTROL_ID(TAB_SETTINGS1, PGN_SET_INFO1)         /* 1309 / 1209 */
#define IDC_SET1_INFO2         PAGE_CONTROL_ID(TAB_SETTINGS1, PGN_SET_INFO2)         /* 1310 / 1210 */
#define IDC_SET1_CHECK         PAGE_CONTROL_ID(TAB_SETTINGS1, PGN_SET_CHECK)         /* 1311 / 1211 */
#ifndef TLMTEST4
#define IDC_OP2_INFO1  PAGE_CONTROL_ID(TAB_OPERATION2, PGN_OP_INFO1) /* 1204 */
#define IDC_OP2_INFO2  PAGE_CONTROL_ID(TAB_OPERATION2, PGN_OP_INFO2) /* 1205 */
#define IDC_SET2_INFO1 PAGE_CONTROL_ID(TAB_SETTINGS2, PGN_SET_INFO1) /* 1409 */
#define IDC_SET2_INFO2 PAGE_CONTROL_ID(TAB_SETTINGS2, PGN_SET_INFO2) /* 1410 */
#define IDC_SET2_CHECK PAGE_CONTROL_ID(TAB_SETTINGS2, PGN_SET_CHECK) /* 1411 */
#endif

/* ------------------------------------------------------------------ */
/* String table                                                        */
/* ------------------------------------------------------------------ */
#define IDS_SCREEN_TOO_SMALL    1 /* 800x600 or larger, please   */
#define IDS_FONT_FACE           2 /* face name of the label font */
#define IDS_FONT_ERROR          3
#define IDS_DIALOG_CREATE_ERROR 4
#define IDS_DUPLICATE_BOARD_ID  7
#define IDS_AXIS_SUFFIX         8 /* "axis:" after the axis letter */
#define IDS_DATA_USED           9 /* ") data is used."            */
#define IDS_ITEM_PRESET         10
#define IDS_ITEM_FL             11
#define IDS_ITEM_FH             12
#define IDS_ITEM_ACCEL          13
#define IDS_CYCLE_IMPOSSIBLE    14
#define IDS_REASON_EMPTY        15 /* not entered, previous (     */
#define IDS_REASON_ABOVE        16 /* exceeds, previous (         */
#define IDS_REASON_BELOW        17 /* below, previous (           */
#define IDS_COUNTER_COMMAND     18 /* command (counter source)    */
#define IDS_PULSE_INDIVIDUAL    19
#define IDS_PULSE_COMMON        20
#define IDS_LOGIC_POSITIVE      21
#define IDS_LOGIC_NEGATIVE      22
#define IDS_NOW_CONSTANT        23
#define IDS_NOW_HIGH            24
#define IDS_CANNOT_SWITCH       25 /* operating, page cannot change */
#define IDS_CONST_PLUS_PRESET   26
#define IDS_CONST_MINUS_PRESET  27
#define IDS_CONST_PLUS_CONT     28
#define IDS_CONST_MINUS_CONT    29
#define IDS_CONST_CYCLE_START   30
#define IDS_CONST_STOP          31
#define IDS_HIGH_PLUS_PRESET    32
#define IDS_HIGH_MINUS_PRESET   33
#define IDS_HIGH_PLUS_CONT      34
#define IDS_HIGH_MINUS_CONT     35
#define IDS_HIGH_CYCLE_START    36
#define IDS_HIGH_STOP           37
#define IDS_CYCLE               38 /* "cycle"  */
#define IDS_CYCLE_TIME          39 /* "th time" */
#define IDS_CYCLE_STOP          40
#define IDS_REASON_BELOW_FL     41

#ifdef TLMTEST4
#define IDS_TAB_OPERATION1    42 /* operation check */
#define IDS_TAB_SETTINGS1     43 /* settings        */
#define IDS_CONTACT_A         44
#define IDS_CONTACT_B         45
#define IDS_BUS_NUMBER        46
#define IDS_DEVICE_NUMBER     47
#define IDS_IO_ADDRESS        48
#define IDS_IRQ_NUMBER        49
#define IDS_MANAGEMENT_NUMBER 50
#define IDS_BOARD_ID          51
#else
#define IDS_NO_AXES_V_W       42 /* the V..W axes do not exist */
#define IDS_TAB_OPERATION1    44
#define IDS_TAB_OPERATION2    45
#define IDS_TAB_SETTINGS1     46
#define IDS_TAB_SETTINGS2     47
#define IDS_CONTACT_A         48
#define IDS_CONTACT_B         49
#define IDS_BUS_NUMBER        50
#define IDS_DEVICE_NUMBER     51
#define IDS_IO_ADDRESS        52
#define IDS_IRQ_NUMBER        53
#define IDS_MANAGEMENT_NUMBER 54
#define IDS_BOARD_ID          55
#endif

/* Error messages of ShowBoardError */
#define IDS_ERR_DEVICE_COUNT   1001
#define IDS_ERR_DEVICE_INFO    1002
#define IDS_ERR_DEVICE_OPEN    1003
#define IDS_ERR_DEVICE_CLOSE   1004
#define IDS_ERR_COMMAND_WRITE  1005
#define IDS_ERR_DOUSA_WRITE    1006 /* operation-mode byte */
#define IDS_ERR_SEIGYO_WRITE   1007 /* control-mode byte   */
#define IDS_ERR_REGISTER_WRITE 1008
#define IDS_ERR_REGISTER_READ  1009
#define IDS_ERR_STATUS1_READ   1010
#define IDS_ERR_STATUS2_READ   1011
#define IDS_ERR_INTSTATUS_READ 1012
#define IDS_ERR_ELS_PORT       1013
#define IDS_ERR_CMP_PORT       1014

#endif /* TLMTEST_RESOURCE_H */
