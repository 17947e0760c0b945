// tlmsimctl boards: lists the simulated boards, loads them from a board file, saves them to one
// (the board files of sim/host). What `save` writes, `load` reads back unchanged.
#include <stdio.h>
#include <string.h>

#include "tlmsimctl.h"

static int LoadBoardFile(const char* path, TlmSimBoardConfig* boards, uint32_t* count) {
    char error[320];
    if (!ReadBoardFile(path, boards, count, error, sizeof error)) return Fail(EXIT_USAGE, "%s", error);
    return EXIT_DONE;
}

static int SaveBoardFile(const char* path, const TlmSimBoardConfig* boards, uint32_t count) {
    bool console = strcmp(path, "-") == 0;
    FILE* file = console ? stdout : fopen(path, "wb");
    if (file == NULL) return Fail(EXIT_REFUSED, "board file '%s': cannot be written", path);
    bool written = WriteBoardFile(file, boards, count);
    if (!console) written = fclose(file) == 0 && written;
    if (!written) return Fail(EXIT_REFUSED, "board file '%s': cannot be written", path);
    return EXIT_DONE;
}

static void ListBoards(const TlmSimBoardConfig* boards, uint32_t count) {
    printf("board  axes  bus  device  I/O         IRQ  board ID  ID number\n");
    for (uint32_t i = 0; i < count; ++i) {
        const TlmSimBoardConfig& b = boards[i];
        printf("%-5ld  %-4u  %-3ld  %-6ld  0x%-8lX  %-3ld  %-8ld ", (long)b.info.ManagementNumber, b.axes,
               (long)b.info.BusNumber, (long)b.info.DeviceNumber, (unsigned long)(uint32_t)b.info.IoAddress,
               (long)b.info.IrqNumber, (long)b.info.BoardId);
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
    if (!load && !SameText(argv[0], "save")) return Fail(EXIT_USAGE, "boards '%s': not load or save", argv[0]);
    if (argc < 2) return Fail(EXIT_USAGE, "boards %s: missing FILE", argv[0]);
    if (argc > 2) return Fail(EXIT_USAGE, "boards %s: unexpected argument '%s'", argv[0], argv[2]);
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
        if (e != 0) return Fail(EXIT_REFUSED, "the driver refused the boards (error %lu, %s)", e, ErrorText(e));
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
