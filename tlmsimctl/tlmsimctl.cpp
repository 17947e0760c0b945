// tlmsimctl.exe: commands for the simulated Tellam boards of tlmsim.sys (see tlmsimctl.h):
// the command table with each command's help, and the command line's first words.
#include "tlmsimctl.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

struct Command {
    const char* name;
    CommandFunction* run;
    const char* help;
};

int Fail(int exitCode, const char* format, ...) {
    va_list args;
    va_start(args, format);
    fputs("tlmsimctl: ", stderr);
    vfprintf(stderr, format, args);
    fputs("\n", stderr);
    va_end(args);
    return exitCode;
}

int ArgumentCount(int argc, char** argv, int min, int max, const char* command) {
    int word = (int)strcspn(command, " ");  // the help of "fault add" is "fault --help"
    if (argc < min) return Fail(EXIT_USAGE, "%s: missing argument (tlmsimctl %.*s --help)", command, word, command);
    if (argc > max) return Fail(EXIT_USAGE, "%s: unexpected argument '%s'", command, argv[max]);
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
     "tlmsimctl clock scale K\n"
     "tlmsimctl clock virtual        (with --process only)\n"
     "  The simulator's time: freeze it, let it run with the real time again, show it, or\n"
     "  move it on (moves run on meanwhile). DURATION: a number with ns, us, ms, s or min,\n"
     "  as 250ms or 1.5s. scale: K times as fast as the real time, 0.01 to 10000 (as 10 or\n"
     "  0.5). virtual: the clock moves only while the program waits through tlmsim_Sleep.\n"},
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
        UseProcess(pid);
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
    if (UsingProcess() && (command->run == CmdInstall || command->run == CmdUninstall))
        return Fail(EXIT_USAGE, "%s: with --process there is no service; the program's library is the simulator",
                    command->name);
    int rc = command->run(argc - 2, argv + 2);
    fflush(stdout);
    DisconnectSimulator();
    return rc;
}
