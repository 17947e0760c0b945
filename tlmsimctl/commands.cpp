// tlmsimctl status / reset / clock / fault: the simulator as a whole.
#include <stdio.h>

#include "tlmsimctl.h"

static void PrintClock(const TlmSimClockState& c) {
    printf("clock: %llu.%09llu s, ", (unsigned long long)(c.nowNs / 1000000000ull),
           (unsigned long long)(c.nowNs % 1000000000ull));
    if (c.mode == TLMSIM_CLOCK_FROZEN)
        printf("frozen\n");
    else if (c.mode == TLMSIM_CLOCK_STEPPED)
        printf("virtual\n");
    else if (c.scale == TLMSIM_SCALE_ONE)
        printf("running\n");
    else
        printf("running at x%u.%03u\n", c.scale / TLMSIM_SCALE_ONE, c.scale % TLMSIM_SCALE_ONE);
}

static DWORD AskClock(uint32_t op, uint64_t value, TlmSimClockState* state) {
    TlmSimClockRequest r = {op, 0, value};
    return SimRequest(TLMSIM_IOCTL_CLOCK, &r, sizeof r, state, sizeof *state, NULL);
}

int CmdStatus(int argc, char** argv) {
    int rc = ArgumentCount(argc, argv, 0, 0, "status");
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
               (long)boards[i].info.ManagementNumber, boards[i].axes, (long)boards[i].info.BusNumber,
               (long)boards[i].info.DeviceNumber, (unsigned long)boards[i].info.IoAddress,
               (long)boards[i].info.IrqNumber, (long)boards[i].info.BoardId);
    // This program's own handle on the control device is not one of the user's.
    printf("open handles: %u (control device %u, board devices %u, TELLAMIO.VXD %u)\n", s.openFiles - 1,
           s.openControl - 1, s.openBoard, s.openVxd);
    TlmSimClockState clock;
    e = AskClock(TLMSIM_CLOCK_QUERY, 0, &clock);
    if (e != 0) return Fail(EXIT_REFUSED, "cannot read the simulator's clock (error %lu, %s)", e, ErrorText(e));
    PrintClock(clock);
    printf("faults: %u\n", s.faultCount);
    printf("requests traced: %u\n", s.requestCount);
    return EXIT_DONE;
}

int CmdReset(int argc, char** argv) {
    int rc = ArgumentCount(argc, argv, 0, 0, "reset");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    DWORD e = SimRequest(TLMSIM_IOCTL_RESET, NULL, 0, NULL, 0, NULL);
    if (e != 0) return Fail(EXIT_REFUSED, "reset refused (error %lu, %s)", e, ErrorText(e));
    printf("simulator reset: one six-axis board 0, empty trace, no faults, nothing forced, real clock\n");
    NoteLostSelections();
    return EXIT_DONE;
}

int CmdClock(int argc, char** argv) {
    if (argc < 1) return Fail(EXIT_USAGE, "clock: missing argument (tlmsimctl clock --help)");
    TlmSimClockRequest r = {TLMSIM_CLOCK_QUERY, 0, 0};
    if (!ParseClockOp(argv[0], &r.op))
        return Fail(EXIT_USAGE, "clock '%s': not freeze, run, advance, scale, virtual or show", argv[0]);
    int max = 1;
    if (r.op == TLMSIM_CLOCK_ADVANCE) {
        max = 2;
        if (argc < 2) return Fail(EXIT_USAGE, "clock advance: missing DURATION (as 250ms, 1.5s, 100us)");
        if (!ParseDuration(argv[1], &r.ns))
            return Fail(EXIT_USAGE, "duration '%s': not a time with a unit (ns, us, ms, s, min), as 250ms", argv[1]);
    }
    if (r.op == TLMSIM_CLOCK_SCALE) {
        max = 2;
        uint32_t scale = 0;
        if (argc < 2) return Fail(EXIT_USAGE, "clock scale: missing K (0.01 to 10000, as 10 or 0.5)");
        if (!ParseClockScale(argv[1], &scale))
            return Fail(EXIT_USAGE, "scale '%s': not a number from 0.01 to 10000 with at most 3 decimals", argv[1]);
        r.ns = scale;
    }
    int rc = ArgumentCount(argc, argv, 0, max, "clock");
    // Virtual time moves with one program's waits; tlmsim.sys serves every program.
    if (rc == EXIT_DONE && r.op == TLMSIM_CLOCK_VIRTUAL && !UsingProcess())
        rc = Fail(EXIT_USAGE,
                  "clock virtual: for one program's simulated library only (tlmsimctl --process PID clock virtual)");
    if (rc == EXIT_DONE) rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    TlmSimClockState s;
    DWORD e = AskClock(r.op, r.ns, &s);
    if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the clock request (error %lu, %s)", e, ErrorText(e));
    PrintClock(s);
    return EXIT_DONE;
}

int CmdFault(int argc, char** argv) {
    if (argc < 1) return Fail(EXIT_USAGE, "fault: missing argument (tlmsimctl fault --help)");
    if (SameText(argv[0], "clear")) {
        int rc = ArgumentCount(argc, argv, 0, 1, "fault clear");
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
    int rc = ArgumentCount(argc, argv, 0, 4, "fault add");
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
