// tlmsimctl.exe: commands for the simulated Tellam boards of tlmsim.sys (see tlmsimctl.h).
#include "tlmsimctl.h"
#include "tlmsim_pipe.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int (*CommandFunction)(int argc, char** argv);

struct Command {
    const char* name;
    CommandFunction run;
    const char* help;
};

// The control device of tlmsim.sys, or the pipe of a simulated tellamio.dll (--process).
static HANDLE g_control = INVALID_HANDLE_VALUE;
static DWORD g_process;             // with --process: the program whose library answers
static TlmSimState g_stateAtStart;  // as ConnectSimulator found it

int Fail(int exitCode, const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("tlmsimctl: ", stderr);
    vfprintf(stderr, format, args);
    fputs("\n", stderr);
    va_end(args);
    return exitCode;
}

const char* ErrorText(DWORD error) {
    switch (error) {
        case ERROR_INVALID_PARAMETER: return "refused as invalid";
        case ERROR_INVALID_FUNCTION: return "request not known";
        case ERROR_INSUFFICIENT_BUFFER: return "reply too large";
        case ERROR_NO_SYSTEM_RESOURCES: return "no room left";
        case ERROR_FILE_NOT_FOUND: return "no such device";
        case ERROR_ACCESS_DENIED: return "access denied";
    }
    return "failed";
}

// The pipe of the simulated tellamio.dll in process g_process (tlmsim_pipe.h).
static int ConnectProcess(void) {
    char name[64];
    snprintf(name, sizeof name, TLMSIM_PIPE_NAME_FORMAT, (unsigned long)g_process);
    for (int attempt = 0; attempt < 3; ++attempt) {
        g_control = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (g_control != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
        WaitNamedPipeA(name, 2000);  // another tlmsimctl is served first
    }
    if (g_control == INVALID_HANDLE_VALUE) {
        fprintf(stderr,
                "tlmsimctl: process %lu has no simulated tellamio.dll that answers (%s: error %lu). The simulated "
                "library (bin\\sim\\tellamio.dll beside the program) answers from the program's first call into "
                "it on.\n",
                (unsigned long)g_process, name, GetLastError());
        return EXIT_NO_DRIVER;
    }
    return EXIT_DONE;
}

int ConnectSimulator(void) {
    if (g_process != 0) {
        int rc = ConnectProcess();
        if (rc != EXIT_DONE) return rc;
    } else {
        g_control = CreateFileA(TLMDRV_CONTROL_DEVICE, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    }
    if (g_control == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        fprintf(stderr,
                "tlmsimctl: the simulated board driver is not running (\\\\.\\TLMDRV: error %lu). Install and start "
                "it with 'tlmsimctl install' from an administrator command prompt, with tlmsim.sys beside "
                "tlmsimctl.exe (see docs/simulator.md).\n",
                e);
        return EXIT_NO_DRIVER;
    }
    DWORD got = 0;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_STATE, NULL, 0, &g_stateAtStart, sizeof g_stateAtStart, &got);
    if (e != 0 || got != sizeof g_stateAtStart) {
        if (g_process != 0)
            fprintf(stderr, "tlmsimctl: process %lu does not answer the simulator's requests (error %lu).\n",
                    (unsigned long)g_process, e);
        else
            fprintf(stderr,
                    "tlmsimctl: \\\\.\\TLMDRV does not answer the simulator's requests (error %lu): it is not "
                    "tlmsim.sys (a real board's driver?). Nothing was sent.\n",
                    e);
        CloseHandle(g_control);
        g_control = INVALID_HANDLE_VALUE;
        return EXIT_NO_DRIVER;
    }
    return EXIT_DONE;
}

// One request over the pipe: the same records as on the control device, framed.
static DWORD PipeRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    TlmSimPipeRequest request = {code, inLength, outLength};
    TlmSimPipeReply reply = {0, 0};
    DWORD put = 0;
    if (!WriteFile(g_control, &request, sizeof request, &put, NULL) || put != sizeof request ||
        (inLength != 0 && (!WriteFile(g_control, in, inLength, &put, NULL) || put != inLength)) ||
        !TlmSimPipeRead(g_control, &reply, sizeof reply) || reply.returned > outLength ||
        (reply.returned != 0 && !TlmSimPipeRead(g_control, out, reply.returned)))
        return ERROR_BROKEN_PIPE;
    *returned = reply.returned;
    return reply.error;
}

DWORD SimRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    DWORD got = 0;
    DWORD error = 0;
    if (g_process != 0)
        error = PipeRequest(code, in, inLength, out, outLength, &got);
    else if (!DeviceIoControl(g_control, code, (void*)in, inLength, out, outLength, &got, NULL))
        error = GetLastError();
    if (returned != NULL) *returned = got;
    return error;
}

void NoteLostSelections(void) {
    uint32_t held = g_stateAtStart.openBoard + g_stateAtStart.openVxd;
    if (held > 0)
        printf("note: %u board handle%s of running programs lost %s board selection; their requests fail until "
               "they open the board again\n",
               held, held == 1 ? "" : "s", held == 1 ? "its" : "their");
}

int ReadBoards(TlmSimBoardConfig* boards, uint32_t* count) {
    static uint8_t reply[sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig)];
    DWORD got = 0;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_BOARDS, NULL, 0, reply, sizeof reply, &got);
    TlmSimBoards head;
    memcpy(&head, reply, sizeof head);
    if (e != 0 || got < sizeof head || head.count > TLMSIM_MAX_BOARDS ||
        got != sizeof head + head.count * sizeof(TlmSimBoardConfig))
        return Fail(EXIT_REFUSED, "cannot read the simulated boards (error %lu, %s)", e, ErrorText(e));
    memcpy(boards, reply + sizeof head, head.count * sizeof(TlmSimBoardConfig));
    *count = head.count;
    return EXIT_DONE;
}

static int TooMany(int argc, char** argv, int max, const char* command) {
    if (argc > max) return Fail(EXIT_USAGE, "%s: unexpected argument '%s'", command, argv[max]);
    return EXIT_DONE;
}

static void PrintClock(uint64_t ns, bool frozen) {
    printf("clock: %llu.%09llu s, %s\n", (unsigned long long)(ns / 1000000000ull),
           (unsigned long long)(ns % 1000000000ull), frozen ? "frozen" : "running");
}

// EXIT_DONE when the board exists (and has the axis, unless axisText is null).
static int CheckBoardAxis(int32_t board, const char* boardText, uint32_t axis, const char* axisText) {
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    uint32_t count = 0;
    int rc = ReadBoards(boards, &count);
    if (rc != EXIT_DONE) return rc;
    for (uint32_t i = 0; i < count; ++i) {
        if (boards[i].ManagementNumber != board) continue;
        if (axisText != NULL && axis >= boards[i].axes)
            return Fail(EXIT_USAGE, "axis '%s': board %ld has %u axes (X to %c)", axisText, (long)board, boards[i].axes,
                        AxisName(boards[i].axes - 1));
        return EXIT_DONE;
    }
    char list[TLMSIM_MAX_BOARDS * 13 + 8] = "";
    for (uint32_t i = 0; i < count; ++i)
        snprintf(list + strlen(list), sizeof list - strlen(list), "%s%ld", i ? ", " : "",
                 (long)boards[i].ManagementNumber);
    return Fail(EXIT_USAGE, "board '%s': no such board (the simulator has %s)", boardText, count ? list : "none");
}

static int BadBoard(const char* text) {
    return Fail(EXIT_USAGE, "board '%s': not a management number (0 to 9999)", text);
}

// The BOARD AXIS pair that leads the per-axis commands: EXIT_DONE, or the bad argument named.
static int ParseBoardAxis(char** argv, int32_t* board, uint32_t* axis) {
    if (!ParseBoard(argv[0], board)) return BadBoard(argv[0]);
    if (!ParseAxis(argv[1], axis))
        return Fail(EXIT_USAGE, "axis '%s': not an axis (0 to 5 or X, Y, Z, U, V, W)", argv[1]);
    return EXIT_DONE;
}

static int CmdInput(int argc, char** argv) {
    if (argc < 4) return Fail(EXIT_USAGE, "input: missing argument (tlmsimctl input --help)");
    int rc = TooMany(argc, argv, 4, "input");
    if (rc != EXIT_DONE) return rc;
    TlmSimForceInput r;
    rc = ParseBoardAxis(argv, &r.managementNumber, &r.axis);
    if (rc != EXIT_DONE) return rc;
    if (!ParseInputName(argv[2], &r.input))
        return Fail(EXIT_USAGE, "input '%s': not an input (+ELS, -ELS, DLS, OLS, Z, INPOS, SVALM)", argv[2]);
    if (!ParseForce(argv[3], &r.force)) return Fail(EXIT_USAGE, "state '%s': not on, off or follow", argv[3]);
    rc = ConnectSimulator();
    if (rc == EXIT_DONE) rc = CheckBoardAxis(r.managementNumber, argv[0], r.axis, argv[1]);
    if (rc != EXIT_DONE) return rc;
    DWORD e = SimRequest(TLMSIM_IOCTL_FORCE_INPUT, &r, sizeof r, NULL, 0, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the input (error %lu, %s)", e, ErrorText(e));
    static const char* const what[] = {"follows its sensor", "forced on (source asserted)",
                                       "forced off (source released)"};
    printf("board %ld axis %c: %s %s\n", (long)r.managementNumber, AxisName(r.axis), InputName(r.input), what[r.force]);
    return EXIT_DONE;
}

static void PrintZone(const char* name, const TlmSimZone& z) {
    if (name != NULL) printf("%s=", name);
    if (z.from > z.to) {
        printf("none");
        return;
    }
    if (z.from != INT32_MIN) printf("%ld", (long)z.from);
    printf("..");
    if (z.to != INT32_MAX) printf("%ld", (long)z.to);
}

static void PrintSensors(const TlmSimSetSensors& s) {
    printf("board %ld axis %c sensors (machine positions):\n  ", (long)s.managementNumber, AxisName(s.axis));
    PrintZone("+ELS", s.plusEls);
    printf("\n  ");
    PrintZone("-ELS", s.minusEls);
    printf("\n  ");
    PrintZone("DLS", s.dls[0]);
    if (s.dls[1].from <= s.dls[1].to) {
        printf(",");
        PrintZone(NULL, s.dls[1]);
    }
    printf("\n  ");
    PrintZone("OLS", s.ols);
    if (s.zPeriod > 0)
        printf("\n  Z=%ld/%ld/%ld\n", (long)s.zPeriod, (long)s.zOffset, (long)s.zWidth);
    else
        printf("\n  Z=none\n");
    printf("  normally-open=");
    bool any = false;
    for (uint32_t i = 0; i < TLMSIM_INPUT_COUNT; ++i)
        if (s.normallyOpen & (1u << i)) {
            printf("%s%s", any ? "," : "", InputName(i));
            any = true;
        }
    printf("%s\n", any ? "" : "none");
}

static int CmdSensors(int argc, char** argv) {
    if (argc < 2) return Fail(EXIT_USAGE, "sensors: missing argument (tlmsimctl sensors --help)");
    TlmSimAxisRef ref;
    int rc = ParseBoardAxis(argv, &ref.managementNumber, &ref.axis);
    if (rc != EXIT_DONE) return rc;
    // Check every setting against a scratch record before anything is sent.
    TlmSimSetSensors scratch = {};
    for (int i = 2; i < argc; ++i)
        if (!ApplySensorSetting(argv[i], &scratch))
            return Fail(EXIT_USAGE,
                        "sensor setting '%s': not NAME=FROM..TO, NAME=none, DLS=ZONE[,ZONE], "
                        "Z=PERIOD[/OFFSET[/WIDTH]] or normally-open=LIST",
                        argv[i]);
    rc = ConnectSimulator();
    if (rc == EXIT_DONE) rc = CheckBoardAxis(ref.managementNumber, argv[0], ref.axis, argv[1]);
    if (rc != EXIT_DONE) return rc;
    TlmSimSetSensors s;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_SENSORS, &ref, sizeof ref, &s, sizeof s, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "cannot read the sensors (error %lu, %s)", e, ErrorText(e));
    if (argc > 2) {
        for (int i = 2; i < argc; ++i) ApplySensorSetting(argv[i], &s);
        e = SimRequest(TLMSIM_IOCTL_SET_SENSORS, &s, sizeof s, NULL, 0, NULL);
        if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the sensors (error %lu, %s)", e, ErrorText(e));
    }
    PrintSensors(s);
    return EXIT_DONE;
}

static int CmdCarriage(int argc, char** argv) {
    if (argc < 2) return Fail(EXIT_USAGE, "carriage: missing argument (tlmsimctl carriage --help)");
    int rc = TooMany(argc, argv, 3, "carriage");
    if (rc != EXIT_DONE) return rc;
    TlmSimMachinePosition m;
    TlmSimAxisRef ref;
    rc = ParseBoardAxis(argv, &m.managementNumber, &m.axis);
    if (rc != EXIT_DONE) return rc;
    if (argc == 3 && !ParsePosition(argv[2], &m.position))
        return Fail(EXIT_USAGE, "position '%s': not a whole number of pulses (-2^53 to 2^53)", argv[2]);
    rc = ConnectSimulator();
    if (rc == EXIT_DONE) rc = CheckBoardAxis(m.managementNumber, argv[0], m.axis, argv[1]);
    if (rc != EXIT_DONE) return rc;
    if (argc == 3) {
        DWORD e = SimRequest(TLMSIM_IOCTL_SET_MACHINE_POSITION, &m, sizeof m, NULL, 0, NULL);
        if (e == ERROR_INVALID_PARAMETER)
            return Fail(EXIT_REFUSED,
                        "board %ld axis %c is moving: the carriage can be moved by hand only while it stands",
                        (long)m.managementNumber, AxisName(m.axis));
        if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the carriage (error %lu, %s)", e, ErrorText(e));
    }
    ref.managementNumber = m.managementNumber;
    ref.axis = m.axis;
    int64_t position = 0;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_MACHINE_POSITION, &ref, sizeof ref, &position, sizeof position, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "cannot read the carriage (error %lu, %s)", e, ErrorText(e));
    printf("board %ld axis %c: carriage at %lld\n", (long)m.managementNumber, AxisName(m.axis), (long long)position);
    return EXIT_DONE;
}

static int CmdCmp(int argc, char** argv) {
    if (argc < 2) return Fail(EXIT_USAGE, "cmp: missing argument (tlmsimctl cmp --help)");
    int rc = TooMany(argc, argv, 2, "cmp");
    if (rc != EXIT_DONE) return rc;
    TlmSimForceCmp r;
    if (!ParseBoard(argv[0], &r.managementNumber)) return BadBoard(argv[0]);
    if (!ParseOnOff(argv[1], &r.on)) return Fail(EXIT_USAGE, "state '%s': not on or off", argv[1]);
    rc = ConnectSimulator();
    if (rc == EXIT_DONE) rc = CheckBoardAxis(r.managementNumber, argv[0], 0, NULL);
    if (rc != EXIT_DONE) return rc;
    DWORD e = SimRequest(TLMSIM_IOCTL_FORCE_CMP, &r, sizeof r, NULL, 0, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the comparator (error %lu, %s)", e, ErrorText(e));
    printf("board %ld: comparator status %s\n", (long)r.managementNumber, r.on ? "on" : "off");
    return EXIT_DONE;
}

static int CmdStatus(int argc, char** argv) {
    int rc = TooMany(argc, argv, 0, "status");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    uint32_t count = 0;
    rc = ReadBoards(boards, &count);
    if (rc != EXIT_DONE) return rc;
    TlmSimState s;
    DWORD e = SimRequest(TLMSIM_IOCTL_GET_STATE, NULL, 0, &s, sizeof s, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "cannot read the simulator's state (error %lu, %s)", e, ErrorText(e));
    printf("boards: %u\n", count);
    for (uint32_t i = 0; i < count; ++i)
        printf("  board %ld: Tellam-%uX, bus %ld, device %ld, I/O 0x%lX, IRQ %ld, board ID %ld\n",
               (long)boards[i].ManagementNumber, boards[i].axes, (long)boards[i].BusNumber,
               (long)boards[i].DeviceNumber, (unsigned long)boards[i].IoAddress, (long)boards[i].IrqNumber,
               (long)boards[i].BoardId);
    // This program's own handle on the control device is not one of the user's.
    printf("open handles: %u (control device %u, board devices %u, TELLAMIO.VXD %u)\n", s.openFiles - 1,
           s.openControl - 1, s.openBoard, s.openVxd);
    PrintClock(s.nowNs, s.clockFrozen != 0);
    printf("faults: %u\n", s.faultCount);
    printf("requests traced: %u\n", s.requestCount);
    return EXIT_DONE;
}

static int CmdReset(int argc, char** argv) {
    int rc = TooMany(argc, argv, 0, "reset");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    DWORD e = SimRequest(TLMSIM_IOCTL_RESET, NULL, 0, NULL, 0, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "reset refused (error %lu, %s)", e, ErrorText(e));
    printf("simulator reset: one six-axis board 0, empty trace, no faults, nothing forced, real clock\n");
    NoteLostSelections();
    return EXIT_DONE;
}

static int CmdClock(int argc, char** argv) {
    if (argc < 1) return Fail(EXIT_USAGE, "clock: missing argument (tlmsimctl clock --help)");
    TlmSimClockRequest r = {TLMSIM_CLOCK_QUERY, 0, 0};
    if (!ParseClockOp(argv[0], &r.op)) return Fail(EXIT_USAGE, "clock '%s': not freeze, run, advance or show", argv[0]);
    int max = 1;
    if (r.op == TLMSIM_CLOCK_ADVANCE) {
        max = 2;
        if (argc < 2) return Fail(EXIT_USAGE, "clock advance: missing DURATION (as 250ms, 1.5s, 100us)");
        if (!ParseDuration(argv[1], &r.ns))
            return Fail(EXIT_USAGE, "duration '%s': not a time with a unit (ns, us, ms, s, min), as 250ms", argv[1]);
    }
    int rc = TooMany(argc, argv, max, "clock");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    TlmSimClockState s;
    DWORD e = SimRequest(TLMSIM_IOCTL_CLOCK, &r, sizeof r, &s, sizeof s, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the clock request (error %lu, %s)", e, ErrorText(e));
    PrintClock(s.nowNs, s.frozen != 0);
    return EXIT_DONE;
}

static int CmdFault(int argc, char** argv) {
    if (argc < 1) return Fail(EXIT_USAGE, "fault: missing argument (tlmsimctl fault --help)");
    if (SameText(argv[0], "clear")) {
        int rc = TooMany(argc, argv, 1, "fault clear");
        if (rc == EXIT_DONE) rc = ConnectSimulator();
        if (rc != EXIT_DONE) return rc;
        DWORD e = SimRequest(TLMSIM_IOCTL_CLEAR_FAULTS, NULL, 0, NULL, 0, NULL);
        if (e != 0)
            return Fail(EXIT_REFUSED, "the driver refused to clear the faults (error %lu, %s)", e, ErrorText(e));
        printf("faults cleared\n");
        return EXIT_DONE;
    }
    if (!SameText(argv[0], "add")) return Fail(EXIT_USAGE, "fault '%s': not add or clear", argv[0]);
    if (argc < 3) return Fail(EXIT_USAGE, "fault add: missing argument (tlmsimctl fault --help)");
    TlmSimFault f = {0, 0, 0, 0, 0};
    const char* kind = argv[1];
    if (!ParseRequest(argv[2], &f.code, &f.request))
        return Fail(EXIT_USAGE,
                    "request '%s': not a request name (GET_DEVICE_COUNT, GET_DEVICE_INFO, SELECT_BOARD, "
                    "READ_BYTE, READ_WORD, WRITE_BYTE, WRITE_WORD) or #N",
                    argv[2]);
    if (!ParseFaultKind(kind, &f.kind))
        return Fail(EXIT_USAGE, "fault kind '%s': not fail, bytes, records or reply", kind);
    if (f.kind == TLMSIM_FAULT_FAIL) {
        f.status = (int32_t)0xC0000185;  // STATUS_IO_DEVICE_ERROR
        if (argc >= 4 && !ParseFaultStatus(argv[3], &f.status))
            return Fail(EXIT_USAGE, "status '%s': not an NTSTATUS error code (0xC0000000 to 0xFFFFFFFF)", argv[3]);
    } else {
        if (argc < 4) return Fail(EXIT_USAGE, "fault add %s: missing value (tlmsimctl fault --help)", kind);
        int64_t limit = FaultValueLimit(f.kind), v = 0;
        if (!ParseInt64(argv[3], 0, limit, &v))
            return Fail(EXIT_USAGE, "value '%s': not a number from 0 to %lld", argv[3], (long long)limit);
        f.value = (uint32_t)v;
        if (f.kind == TLMSIM_FAULT_EXTRA_RECORDS && f.code != 0 && f.code != IOCTL_GET_DEVICE_INFO)
            return Fail(EXIT_USAGE, "request '%s': extra records apply to GET_DEVICE_INFO only", argv[2]);
        if (f.kind == TLMSIM_FAULT_REPLY && f.code != 0 && f.code != IOCTL_READ_BYTE && f.code != IOCTL_READ_WORD)
            return Fail(EXIT_USAGE, "request '%s': a reply fault applies to READ_BYTE or READ_WORD only", argv[2]);
    }
    int rc = TooMany(argc, argv, 4, "fault add");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    DWORD e = SimRequest(TLMSIM_IOCTL_ADD_FAULT, &f, sizeof f, NULL, 0, NULL);
    if (e == ERROR_NO_SYSTEM_RESOURCES)
        return Fail(EXIT_REFUSED, "the driver holds 8 faults at most: 'tlmsimctl fault clear' first");
    if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the fault (error %lu, %s)", e, ErrorText(e));
    if (f.request != 0)
        printf("fault added: %s on request #%lu\n", kind, (unsigned long)f.request);
    else
        printf("fault added: %s on every %s\n", kind, argv[2]);
    return EXIT_DONE;
}

static const Command COMMANDS[] = {
    {"status", CmdStatus,
     "tlmsimctl status\n"
     "  The simulated boards, the handles programs hold open on the driver, the clock, the\n"
     "  number of injected faults and of traced requests.\n"},
    {"reset", CmdReset,
     "tlmsimctl reset\n"
     "  Back to one six-axis board 0: empty trace, no faults, no forced inputs, default\n"
     "  sensors, real clock. Handles stay open but lose their board selection.\n"},
    {"boards", CmdBoards,
     "tlmsimctl boards               list the simulated boards\n"
     "tlmsimctl boards load FILE     replace them with the boards of FILE\n"
     "tlmsimctl boards save FILE     write them to FILE (- for the console)\n"
     "  FILE has one section per board, named by its management number (the N of \\\\.\\TLMDRVN):\n"
     "    [board 0]\n"
     "    bus = 2\n"
     "    device = 4\n"
     "    io-address = 0xE000\n"
     "    irq = 10\n"
     "    board-id = 0\n"
     "    board-id-high = 0x50     (optional: high 4 bits of the byte at port 0x9C)\n"
     "    axes = 6                 (6: Tellam-6X, 4: Tellam-4X)\n"
     "    id-number = 10 11 12 13 14 15 16 17   (optional: eight hexadecimal bytes)\n"
     "  '#' starts a comment. At most 32 boards; loading resets them to their power-on state.\n"},
    {"input", CmdInput,
     "tlmsimctl input BOARD AXIS NAME on|off|follow\n"
     "  Drives the source of an axis input: on = the sensor detects (the amplifier asserts),\n"
     "  off = it does not, follow = the sensor on the travel (the amplifier) decides again.\n"
     "  BOARD: management number. AXIS: 0-5 or X, Y, Z, U, V, W.\n"
     "  NAME: +ELS, -ELS, DLS, OLS, Z, INPOS, SVALM. With the default wiring and contact\n"
     "  settings an input forced on reads active; an active limit stops a move towards it.\n"},
    {"sensors", CmdSensors,
     "tlmsimctl sensors BOARD AXIS [SETTING...]\n"
     "  Shows the sensors of an axis (positions in pulses of the carriage), after changing\n"
     "  those named:\n"
     "    +ELS=FROM..TO  -ELS=FROM..TO  OLS=FROM..TO   a bound left out: no end on that side\n"
     "    DLS=ZONE[,ZONE]                             two dogs, one before each limit\n"
     "    NAME=none                                   the sensor never detects\n"
     "    Z=PERIOD[/OFFSET[/WIDTH]]  Z=none           Z mark every PERIOD pulses\n"
     "    normally-open=+ELS,DLS,...|none              sources wired normally open\n"
     "  Example: tlmsimctl sensors 0 X +ELS=50000.. -ELS=..-50000\n"},
    {"carriage", CmdCarriage,
     "tlmsimctl carriage BOARD AXIS [POSITION]\n"
     "  Shows the carriage's position, after moving it there by hand (pulses; only while\n"
     "  the axis stands). The position counter of the controller is not changed.\n"},
    {"cmp", CmdCmp,
     "tlmsimctl cmp BOARD on|off\n"
     "  The comparator status (bit 0x01 of port 0x88) of the board on or off.\n"},
    {"clock", CmdClock,
     "tlmsimctl clock freeze|run|show\n"
     "tlmsimctl clock advance DURATION\n"
     "  The simulator's time: freeze it, let it run with the real time again, show it, or\n"
     "  move it on (moves run on meanwhile). DURATION: a number with ns, us, ms, s or min,\n"
     "  as 250ms or 1.5s.\n"},
    {"fault", CmdFault,
     "tlmsimctl fault add fail REQUEST [STATUS]   answer STATUS (default 0xC0000185) and 0 bytes\n"
     "tlmsimctl fault add bytes REQUEST COUNT     do it, then report COUNT bytes returned\n"
     "tlmsimctl fault add records REQUEST COUNT   GET_DEVICE_INFO reports COUNT records more\n"
     "tlmsimctl fault add reply REQUEST VALUE     a port read answers VALUE, board not asked\n"
     "tlmsimctl fault clear\n"
     "  REQUEST: GET_DEVICE_COUNT, GET_DEVICE_INFO, SELECT_BOARD, READ_BYTE, READ_WORD,\n"
     "  WRITE_BYTE or WRITE_WORD (every such request), or #N (request number N of the trace).\n"
     "  The driver holds 8 faults at most.\n"},
    {"trace", CmdTrace,
     "tlmsimctl trace [--from N] [--follow] [--csv]\n"
     "  The board requests programs sent since the last reset, one line each: request\n"
     "  number, board, request, axis, port, value and result.\n"
     "  --from N   start at request number N\n"
     "  --follow   keep printing new requests until Ctrl+C\n"
     "  --csv      comma-separated fields with a header line, for a spreadsheet\n"},
    {"install", CmdInstall,
     "tlmsimctl install\n"
     "  Creates and starts the kernel service \"" SIM_SERVICE_NAME "\" for tlmsim.sys, which must lie beside\n"
     "  tlmsimctl.exe. Needs administrator rights; on Windows also test-signing mode.\n"},
    {"uninstall", CmdUninstall,
     "tlmsimctl uninstall\n"
     "  Stops the kernel service \"" SIM_SERVICE_NAME "\" and removes it. Needs administrator rights.\n"},
};

static const size_t COMMAND_COUNT = sizeof COMMANDS / sizeof COMMANDS[0];

static void PrintUsage(FILE* to) {
    fputs("tlmsimctl: the simulated Tellam boards of tlmsim.sys or of a simulated tellamio.dll\n"
          "usage: tlmsimctl [--process PID] COMMAND [ARGUMENTS]   (tlmsimctl COMMAND --help for one command)\n"
          "  --process PID   the boards of the simulated tellamio.dll (bin\\sim) in the running program PID,\n"
          "                  instead of those of tlmsim.sys\n"
          "commands:\n",
          to);
    // The first line of each command's help is its synopsis.
    for (size_t i = 0; i < COMMAND_COUNT; ++i) {
        const char* end = strchr(COMMANDS[i].help, '\n');
        fprintf(to, "  %.*s\n", (int)(end - COMMANDS[i].help), COMMANDS[i].help);
    }
    fputs("exit codes: 0 done, 1 refused, 2 bad argument, 3 simulator not installed\n", to);
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--process") == 0) {
        uint32_t pid;
        if (argc < 3 || !ParseProcessId(argv[2], &pid))
            return Fail(EXIT_USAGE, "--process '%s': not a process id", argc < 3 ? "" : argv[2]);
        g_process = pid;
        argv[2] = argv[0];
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) {
        PrintUsage(stderr);
        return EXIT_USAGE;
    }
    if (SameText(argv[1], "--help") || SameText(argv[1], "help") || SameText(argv[1], "-h")) {
        if (argc > 2) {
            for (size_t i = 0; i < COMMAND_COUNT; ++i)
                if (SameText(argv[2], COMMANDS[i].name)) {
                    fputs(COMMANDS[i].help, stdout);
                    return EXIT_DONE;
                }
            return Fail(EXIT_USAGE, "help '%s': no such command", argv[2]);
        }
        PrintUsage(stdout);
        return EXIT_DONE;
    }
    const Command* command = NULL;
    for (size_t i = 0; i < COMMAND_COUNT; ++i)
        if (strcmp(argv[1], COMMANDS[i].name) == 0) command = &COMMANDS[i];
    if (command == NULL) return Fail(EXIT_USAGE, "command '%s': not known (tlmsimctl --help lists them)", argv[1]);
    for (int i = 2; i < argc; ++i)
        if (strcmp(argv[i], "--help") == 0) {
            fputs(command->help, stdout);
            return EXIT_DONE;
        }
    if (g_process != 0 && (command->run == CmdInstall || command->run == CmdUninstall))
        return Fail(EXIT_USAGE, "%s: with --process there is no service; the program's library is the simulator",
                    command->name);
    int rc = command->run(argc - 2, argv + 2);
    fflush(stdout);
    if (g_control != INVALID_HANDLE_VALUE) CloseHandle(g_control);
    return rc;
}
