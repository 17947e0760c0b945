// tlmsimctl boards: lists the simulated boards, loads them from a board file, saves them to one.
// What `save` writes, `load` reads back unchanged.
#include <stdio.h>
#include <string.h>

#include "tlmsimctl.h"

#define LINE_SIZE 256

// Keys of a board section; the first six must be given.
enum {
    KEY_BUS,
    KEY_DEVICE,
    KEY_IO_ADDRESS,
    KEY_IRQ,
    KEY_BOARD_ID,
    KEY_AXES,
    KEY_BOARD_ID_HIGH,
    KEY_ID_NUMBER,
    KEY_COUNT,
    KEY_REQUIRED = KEY_BOARD_ID_HIGH,
};

static const char* const KEY_NAMES[KEY_COUNT] = {"bus",      "device", "io-address",    "irq",
                                                 "board-id", "axes",   "board-id-high", "id-number"};

static char* Trim(char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r' || text[n - 1] == '\n'))
        text[--n] = 0;
    return text;
}

// A 32-bit field: signed decimal or hexadecimal up to 0xFFFFFFFF.
static bool ParseField(const char* text, int32_t* value) {
    int64_t v;
    if (!ParseInt64(text, INT32_MIN, UINT32_MAX, &v)) return false;
    *value = (int32_t)(uint32_t)(uint64_t)v;
    return true;
}

static bool ParseIdNumber(char* text, uint8_t* bytes) {
    int n = 0;
    for (char* item = strtok(text, " \t"); item != NULL; item = strtok(NULL, " \t")) {
        int64_t v;
        char hex[8];
        if (n == 8 || strlen(item) > 2) return false;
        sprintf(hex, "0x%s", item);
        if (!ParseInt64(hex, 0, 255, &v)) return false;
        bytes[n++] = (uint8_t)v;
    }
    return n == 8;
}

static int LoadBoardFile(const char* path, TlmSimBoardConfig* boards, uint32_t* count) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return BadArgument("board file '%s': cannot be read", path);
    char line[LINE_SIZE];
    int number = 0;
    bool seen[KEY_COUNT] = {};
    TlmSimBoardConfig* board = NULL;
    int rc = EXIT_DONE;
    *count = 0;
    for (;;) {
        bool end = fgets(line, sizeof line, file) == NULL;
        ++number;
        if (!end && strlen(line) == sizeof line - 1 && line[sizeof line - 2] != '\n') {
            rc = BadArgument("%s:%d: line longer than %d characters", path, number, LINE_SIZE - 2);
            break;
        }
        char* text = end ? line : Trim(line);
        if (!end) {
            char* comment = strchr(text, '#');
            if (comment != NULL) *comment = 0;
            text = Trim(text);
            if (*text == 0) continue;
        }
        // A new section or the end of the file closes the section before it.
        if (end || *text == '[') {
            if (board != NULL) {
                for (int k = 0; k < KEY_REQUIRED; ++k)
                    if (!seen[k]) {
                        rc = BadArgument("%s: board %ld has no %s", path, (long)board->ManagementNumber, KEY_NAMES[k]);
                        break;
                    }
                if (rc != EXIT_DONE) break;
            }
            if (end) break;
            int32_t mn;
            size_t n = strlen(text);
            if (n < 8 || _strnicmp(text, "[board ", 7) != 0 || text[n - 1] != ']') {
                rc = BadArgument("%s:%d: '%s' is not a section [board N]", path, number, text);
                break;
            }
            text[n - 1] = 0;
            if (!ParseInt32(Trim(text + 7), 0, 9999, &mn)) {
                rc = BadArgument("%s:%d: board '%s': not a management number (0 to 9999)", path, number, text + 7);
                break;
            }
            for (uint32_t i = 0; i < *count; ++i)
                if (boards[i].ManagementNumber == mn)
                    rc = BadArgument("%s:%d: board %ld twice", path, number, (long)mn);
            if (rc != EXIT_DONE) break;
            if (*count == TLMSIM_MAX_BOARDS) {
                rc = BadArgument("%s:%d: more than %d boards", path, number, TLMSIM_MAX_BOARDS);
                break;
            }
            board = &boards[(*count)++];
            memset(board, 0, sizeof *board);
            board->ManagementNumber = mn;
            memset(seen, 0, sizeof seen);
            continue;
        }
        char* eq = strchr(text, '=');
        if (board == NULL || eq == NULL) {
            rc = BadArgument("%s:%d: '%s' is not KEY = VALUE inside a [board N] section", path, number, text);
            break;
        }
        *eq = 0;
        char* key = Trim(text);
        char* value = Trim(eq + 1);
        int k = 0;
        while (k < KEY_COUNT && !SameText(key, KEY_NAMES[k])) ++k;
        if (k == KEY_COUNT) {
            rc = BadArgument("%s:%d: unknown key '%s'", path, number, key);
            break;
        }
        if (seen[k]) {
            rc = BadArgument("%s:%d: %s given twice", path, number, key);
            break;
        }
        seen[k] = true;
        int32_t v = 0;
        bool ok = true;
        switch (k) {
            case KEY_BUS: ok = ParseField(value, &board->BusNumber); break;
            case KEY_DEVICE: ok = ParseField(value, &board->DeviceNumber); break;
            case KEY_IO_ADDRESS: ok = ParseField(value, &board->IoAddress); break;
            case KEY_IRQ: ok = ParseField(value, &board->IrqNumber); break;
            case KEY_BOARD_ID: ok = ParseField(value, &board->BoardId); break;
            case KEY_AXES:
                ok = ParseInt32(value, 4, 6, &v) && v != 5;
                board->axes = (uint8_t)v;
                break;
            case KEY_BOARD_ID_HIGH:
                ok = ParseInt32(value, 0, 255, &v);
                board->boardIdHigh = (uint8_t)v;
                break;
            case KEY_ID_NUMBER: ok = ParseIdNumber(value, board->idNumber); break;
        }
        if (!ok) {
            const char* want = k == KEY_AXES            ? "4 or 6"
                               : k == KEY_BOARD_ID_HIGH ? "a byte"
                               : k == KEY_ID_NUMBER     ? "eight hexadecimal bytes"
                                                        : "a 32-bit number";
            rc = BadArgument("%s:%d: %s '%s': not %s", path, number, key, value, want);
            break;
        }
    }
    fclose(file);
    return rc;
}

static int SaveBoardFile(const char* path, const TlmSimBoardConfig* boards, uint32_t count) {
    bool console = strcmp(path, "-") == 0;
    FILE* file = console ? stdout : fopen(path, "wb");
    if (file == NULL) return Refused("board file '%s': cannot be written", path);
    fprintf(file, "# Simulated Tellam boards (tlmsimctl boards save)\n");
    for (uint32_t i = 0; i < count; ++i) {
        const TlmSimBoardConfig& b = boards[i];
        fprintf(file,
                "\n[board %ld]\nbus = %ld\ndevice = %ld\nio-address = 0x%lX\nirq = %ld\nboard-id = %ld\n"
                "board-id-high = 0x%02X\naxes = %u\nid-number =",
                (long)b.ManagementNumber, (long)b.BusNumber, (long)b.DeviceNumber, (unsigned long)(uint32_t)b.IoAddress,
                (long)b.IrqNumber, (long)b.BoardId, b.boardIdHigh, b.axes);
        for (int j = 0; j < 8; ++j) fprintf(file, " %02X", b.idNumber[j]);
        fprintf(file, "\n");
    }
    bool written = fflush(file) == 0 && !ferror(file);
    if (!console) written = fclose(file) == 0 && written;
    if (!written) return Refused("board file '%s': cannot be written", path);
    return EXIT_DONE;
}

static void ListBoards(const TlmSimBoardConfig* boards, uint32_t count) {
    printf("board  axes  bus  device  I/O         IRQ  board ID  ID number\n");
    for (uint32_t i = 0; i < count; ++i) {
        const TlmSimBoardConfig& b = boards[i];
        printf("%-5ld  %-4u  %-3ld  %-6ld  0x%-8lX  %-3ld  %-8ld ", (long)b.ManagementNumber, b.axes, (long)b.BusNumber,
               (long)b.DeviceNumber, (unsigned long)(uint32_t)b.IoAddress, (long)b.IrqNumber, (long)b.BoardId);
        for (int j = 0; j < 8; ++j) printf(" %02X", b.idNumber[j]);
        printf("\n");
    }
    if (count == 0) printf("(no boards)\n");
}

int CmdBoards(int argc, char** argv) {
    static TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    uint32_t count = 0;
    int rc;
    if (argc == 0) {
        rc = ConnectSimulator();
        if (rc == EXIT_DONE) rc = ReadBoards(boards, &count);
        if (rc == EXIT_DONE) ListBoards(boards, count);
        return rc;
    }
    bool load = SameText(argv[0], "load");
    if (!load && !SameText(argv[0], "save")) return BadArgument("boards '%s': not load or save", argv[0]);
    if (argc < 2) return BadArgument("boards %s: missing FILE", argv[0]);
    if (argc > 2) return BadArgument("boards %s: unexpected argument '%s'", argv[0], argv[2]);
    if (load) {
        rc = LoadBoardFile(argv[1], boards, &count);
        if (rc == EXIT_DONE) rc = ConnectSimulator();
        if (rc != EXIT_DONE) return rc;
        static uint8_t request[sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig)];
        TlmSimBoards head = {count};
        memcpy(request, &head, sizeof head);
        memcpy(request + sizeof head, boards, count * sizeof(TlmSimBoardConfig));
        DWORD e = SimRequest(TLMSIM_IOCTL_SET_BOARDS, request, sizeof head + count * sizeof(TlmSimBoardConfig), NULL, 0,
                             NULL);
        if (e != 0) return Refused("the driver refused the boards (error %lu, %s)", e, ErrorText(e));
        printf("%u board%s loaded from %s\n", count, count == 1 ? "" : "s", argv[1]);
        NoteLostSelections();
        return EXIT_DONE;
    }
    rc = ConnectSimulator();
    if (rc == EXIT_DONE) rc = ReadBoards(boards, &count);
    if (rc == EXIT_DONE) rc = SaveBoardFile(argv[1], boards, count);
    if (rc == EXIT_DONE && strcmp(argv[1], "-") != 0)
        printf("%u board%s saved to %s\n", count, count == 1 ? "" : "s", argv[1]);
    return rc;
}
