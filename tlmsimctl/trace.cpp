// tlmsimctl trace: the board requests programs sent to the simulator, decoded for a person
// (or as CSV for a spreadsheet) by the trace lines of sim/host.
#include <stdio.h>
#include <string.h>

#include "tlmsimctl.h"

#define PAGE_ENTRIES   512
#define FOLLOW_POLL_MS 200

static void PrintEntry(const TlmSimBoardTraceEntry& t, bool csv) {
    char line[TRACE_LINE_ROOM];
    if (csv)
        TraceCsvLine(t, line, sizeof line);
    else
        TraceLine(t, line, sizeof line);
    printf("%s\n", line);
}

// Prints the entries from *next on; *next becomes the number after the last one printed.
static int PrintFrom(uint32_t* next, bool csv) {
    static uint8_t reply[sizeof(TlmSimTraceHeader) + PAGE_ENTRIES * sizeof(TlmSimBoardTraceEntry)];
    for (;;) {
        DWORD got = 0;
        DWORD e = SimRequest(TLMSIM_IOCTL_READ_BOARD_TRACE, next, sizeof *next, reply, sizeof reply, &got);
        TlmSimTraceHeader head;
        memcpy(&head, reply, sizeof head);
        if (e != 0 || got < sizeof head || head.count > PAGE_ENTRIES)
            return Fail(EXIT_REFUSED, "cannot read the trace (error %lu, %s)", e, ErrorText(e));
        if (head.requestCount + 1 < *next) {
            // The trace was reset since: start again at its beginning.
            if (!csv) printf("(trace reset)\n");
            *next = 1;
            continue;
        }
        if (head.count > 0 && head.first > *next && !csv)
            printf("(requests %lu to %lu are no longer held)\n", (unsigned long)*next, (unsigned long)head.first - 1);
        for (uint32_t i = 0; i < head.count; ++i) {
            TlmSimBoardTraceEntry t;
            memcpy(&t, reply + sizeof head + i * sizeof t, sizeof t);
            PrintEntry(t, csv);
        }
        if (head.count > 0) *next = head.first + head.count;
        if (head.count < PAGE_ENTRIES) return EXIT_DONE;
    }
}

int CmdTrace(int argc, char** argv) {
    uint32_t next = 1;
    bool follow = false, csv = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--follow") == 0) {
            follow = true;
        } else if (strcmp(argv[i], "--csv") == 0) {
            csv = true;
        } else if (strcmp(argv[i], "--from") == 0) {
            if (i + 1 >= argc) return Fail(EXIT_USAGE, "--from: missing request number");
            if (!ParseRequestNumber(argv[i + 1], &next))
                return Fail(EXIT_USAGE, "--from '%s': not a request number (1 and up)", argv[i + 1]);
            ++i;
        } else {
            return Fail(EXIT_USAGE, "trace: unexpected argument '%s'", argv[i]);
        }
    }
    int rc = ConnectSimulator();
    if (rc != EXIT_DONE) return rc;
    char head[TRACE_LINE_ROOM];
    if (csv)
        TraceCsvHeadLine(head, sizeof head);
    else
        TraceHeadLine(head, sizeof head);
    printf("%s\n", head);
    rc = PrintFrom(&next, csv);
    fflush(stdout);
    while (rc == EXIT_DONE && follow) {
        Sleep(FOLLOW_POLL_MS);
        rc = PrintFrom(&next, csv);
        fflush(stdout);
    }
    return rc;
}
