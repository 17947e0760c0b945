// tlmsimctl input / sensors / carriage / cmp: what one axis of a board (or, for cmp, the
// board) sees. The board and axis are parsed first and looked up once connected.
#include <stdio.h>
#include <string.h>

#include "tlmsimctl.h"

// EXIT_DONE when the board exists (and has the axis, unless axisText is null).
static int CheckBoardAxis(int32_t board, const char* boardText, uint32_t axis, const char* axisText) {
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    uint32_t count = 0;
    int rc = ReadBoards(boards, &count);
    if (rc != EXIT_DONE) return rc;
    for (uint32_t i = 0; i < count; ++i) {
        if (boards[i].info.ManagementNumber != board) continue;
        if (axisText != NULL && axis >= boards[i].axes)
            return Fail(EXIT_USAGE, "axis '%s': board %ld has %u axes (X to %c)", axisText, (long)board, boards[i].axes,
                        AxisName(boards[i].axes - 1));
        return EXIT_DONE;
    }
    char list[TLMSIM_MAX_BOARDS * 13 + 8] = "";
    for (uint32_t i = 0; i < count; ++i)
        snprintf(list + strlen(list), sizeof list - strlen(list), "%s%ld", i ? ", " : "",
                 (long)boards[i].info.ManagementNumber);
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

int CmdInput(int argc, char** argv) {
    int rc = ArgumentCount(argc, argv, 4, 4, "input");
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

int CmdSensors(int argc, char** argv) {
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

int CmdCarriage(int argc, char** argv) {
    int rc = ArgumentCount(argc, argv, 2, 3, "carriage");
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

int CmdCmp(int argc, char** argv) {
    int rc = ArgumentCount(argc, argv, 2, 2, "cmp");
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
