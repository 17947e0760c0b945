// Request trace lines: each board request decoded for a person, by the controller's names
// of ports and commands, or as comma-separated fields.
#include <string.h>

#include "../../tellamio/tellam_controller.h"
#include "../../tellamio/tellam_protocol.h"
#include "simhost.h"

static const char* RequestName(uint32_t code) {
    static const char* const names[TLMDRV_REQUEST_COUNT] = TLMDRV_REQUEST_NAMES;
    uint32_t index = TLMDRV_REQUEST_INDEX(code);
    return code % 4 == 0 && index < TLMDRV_REQUEST_COUNT ? names[index] : NULL;
}

static bool IsPortRequest(uint32_t code) { return code >= IOCTL_READ_BYTE && code <= IOCTL_WRITE_WORD; }
static bool IsWrite(uint32_t code) { return code == IOCTL_WRITE_BYTE || code == IOCTL_WRITE_WORD; }

// The axis blocks end here on a six-axis board.
#define AXIS_PORTS_END TLM_AXIS_PORT(TLM_AXES_MAX, 0)

// The name of a port offset as the controller's documentation calls it.
static void PortName(uint32_t port, bool write, char* name, size_t room) {
    if (port < AXIS_PORTS_END) {
        static const char* const reads[8] = {"status 1", "status 2",    "interrupt status", "unused",
                                             "data low", "data byte 1", "data high",        "data byte 3"};
        static const char* const writes[8] = {"command",  "operation mode", "control",   "unused",
                                              "data low", "data byte 1",    "data high", "data byte 3"};
        uint32_t k = port % TLM_AXIS_PORTS;
        snprintf(name, room, "%s", k < 8 ? (write ? writes[k] : reads[k]) : "unused");
    } else if (port < TLM_PORT_ELS) {
        snprintf(name, room, "no axis");
    } else if (port == TLM_PORT_ELS) {
        snprintf(name, room, "Elst");
    } else if (port == TLM_PORT_CMP) {
        snprintf(name, room, "Cmpc");
    } else if (port == TLM_PORT_BOARD_ID) {
        snprintf(name, room, "board ID");
    } else if (port == TLM_PORT_INTRD) {
        snprintf(name, room, "INTRD");
    } else if (port == TLM_PORT_INTRST) {
        snprintf(name, room, "INTRst");
    } else if (port >= TLM_PORT_ID_NUMBER && port <= TLM_PORT_ID_NUMBER + 2 * (TLM_ID_NUMBER_BYTES - 1) &&
               port % 2 == 0) {
        snprintf(name, room, "ID number %u", (port - TLM_PORT_ID_NUMBER) / 2);
    } else {
        snprintf(name, room, "unused");
    }
}

// What a command byte asks of the controller.
static void CommandName(uint32_t command, char* name, size_t room) {
    static const struct {
        uint32_t code;
        const char* name;
    } commands[] = {{TLM_CMD_IMMEDIATE_STOP, "immediate stop"}, {TLM_CMD_DECEL_STOP, "decelerating stop"},
                    {TLM_CMD_START_FL, "start at FL"},          {TLM_CMD_START_FH, "start at FH"},
                    {TLM_CMD_START_RAMPED, "start with ramps"}, {TLM_CMD_SVON_OFF, "servo-on off"},
                    {TLM_CMD_SVON_ON, "servo-on on"},           {TLM_CMD_SVRST_OFF, "servo reset off"},
                    {TLM_CMD_SVRST_ON, "servo reset on"},       {TLM_CMD_AXIS_RESET, "axis reset"},
                    {TLM_CMD_CLEAR_INT, "clear interrupt"},     {TLM_CMD_CLEAR_END, "clear end cause"},
                    {TLM_CMD_CYCLE_ON, "cycle mode on"},        {TLM_CMD_CYCLE_OFF, "cycle mode off"}};
    name[0] = 0;
    for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i)
        if (commands[i].code == command) snprintf(name, room, "%s", commands[i].name);
    if (command >= TLM_CMD_READ_REG && command < TLM_CMD_READ(TLM_REG_COUNT))
        snprintf(name, room, "read register %u", command - TLM_CMD_READ_REG);
    if (command >= TLM_CMD_WRITE_REG && command < TLM_CMD_WRITE(TLM_REG_COUNT))
        snprintf(name, room, "write register %u", command - TLM_CMD_WRITE_REG);
}

static const char* StatusName(int32_t status) {
    switch ((uint32_t)status) {
        case 0xC0000001: return "STATUS_UNSUCCESSFUL";
        case 0xC000000D: return "STATUS_INVALID_PARAMETER";
        case 0xC000000E: return "STATUS_NO_SUCH_DEVICE";
        case 0xC0000010: return "STATUS_INVALID_DEVICE_REQUEST";
        case 0xC0000023: return "STATUS_BUFFER_TOO_SMALL";
        case 0xC000009A: return "STATUS_INSUFFICIENT_RESOURCES";
        case 0xC0000185: return "STATUS_IO_DEVICE_ERROR";
    }
    return NULL;
}

// The fields of one decoded request.
struct Decoded {
    char board[12];
    char request[20];
    char axis[4];
    char port[48];
    char value[64];
    char result[64];
};

static void Decode(const TlmSimBoardTraceEntry& t, Decoded* d) {
    const TlmSimTraceEntry& e = t.entry;
    bool ok = e.status == 0;
    if (t.board >= 0)
        snprintf(d->board, sizeof d->board, "%ld", (long)t.board);
    else
        snprintf(d->board, sizeof d->board, "-");
    const char* name = RequestName(e.code);
    if (name != NULL)
        snprintf(d->request, sizeof d->request, "%s", name);
    else
        snprintf(d->request, sizeof d->request, "0x%06lX", (unsigned long)e.code);
    snprintf(d->axis, sizeof d->axis, "-");
    snprintf(d->port, sizeof d->port, "-");
    d->value[0] = 0;
    uint32_t expected = 0;  // the byte count a sound answer returns
    if (IsPortRequest(e.code)) {
        bool word = e.code == IOCTL_READ_WORD || e.code == IOCTL_WRITE_WORD;
        char portName[24];
        PortName(e.port, IsWrite(e.code), portName, sizeof portName);
        snprintf(d->port, sizeof d->port, "0x%02lX %s", (unsigned long)e.port, portName);
        if (e.port < AXIS_PORTS_END) snprintf(d->axis, sizeof d->axis, "%c", "XYZUVW"[e.port / TLM_AXIS_PORTS]);
        // A failed request's value is not known: the driver neither took nor gave one.
        if (ok) snprintf(d->value, sizeof d->value, word ? "0x%04lX" : "0x%02lX", (unsigned long)e.value);
        if (ok && e.code == IOCTL_WRITE_BYTE && e.port < AXIS_PORTS_END &&
            e.port % TLM_AXIS_PORTS == TLM_PORT_COMMAND) {
            char command[24];
            CommandName(e.value, command, sizeof command);
            if (command[0]) snprintf(d->value + strlen(d->value), sizeof d->value - strlen(d->value), " %s", command);
        }
        if (!IsWrite(e.code)) expected = word ? 2 : 1;
    } else if (e.code == IOCTL_GET_DEVICE_COUNT) {
        if (ok) snprintf(d->value, sizeof d->value, "%lu boards", (unsigned long)e.value);
        expected = 4;
    } else if (e.code == IOCTL_GET_DEVICE_INFO) {
        if (ok)
            snprintf(d->value, sizeof d->value, "room %lu, %lu boards", (unsigned long)e.port, (unsigned long)e.value);
        expected = e.returned;
    } else if (e.code == IOCTL_SELECT_BOARD) {
        char mn[12], id[12];
        if ((int32_t)e.value == -1)
            snprintf(mn, sizeof mn, "-");
        else
            snprintf(mn, sizeof mn, "%ld", (long)(int32_t)e.value);
        if ((int32_t)e.port == -1)
            snprintf(id, sizeof id, "-");
        else
            snprintf(id, sizeof id, "%ld", (long)(int32_t)e.port);
        snprintf(d->value, sizeof d->value, "management number %s, board ID %s", mn, id);
    }
    if (d->value[0] == 0) snprintf(d->value, sizeof d->value, "-");
    if (ok && e.returned == expected) {
        snprintf(d->result, sizeof d->result, "ok");
    } else if (ok) {
        snprintf(d->result, sizeof d->result, "ok, %lu bytes", (unsigned long)e.returned);
    } else {
        const char* status = StatusName(e.status);
        if (status != NULL)
            snprintf(d->result, sizeof d->result, "failed %s", status);
        else
            snprintf(d->result, sizeof d->result, "failed 0x%08lX", (unsigned long)(uint32_t)e.status);
    }
}

#define LINE_FORMAT "%7s  %-5s  %-16s  %-4s  %-21s  %-30s  %s"

void TraceHeadLine(char* line, size_t room) {
    snprintf(line, room, LINE_FORMAT, "seq", "board", "request", "axis", "port", "value", "result");
}

void TraceLine(const TlmSimBoardTraceEntry& t, char* line, size_t room) {
    Decoded d;
    Decode(t, &d);
    char seq[12];
    snprintf(seq, sizeof seq, "%lu", (unsigned long)t.entry.seq);
    snprintf(line, room, LINE_FORMAT, seq, d.board, d.request, d.axis, d.port, d.value, d.result);
}

void TraceCsvHeadLine(char* line, size_t room) {
    snprintf(line, room, "seq,file,board,request,axis,port,port_name,value,status,bytes");
}

void TraceCsvLine(const TlmSimBoardTraceEntry& t, char* line, size_t room) {
    const TlmSimTraceEntry& e = t.entry;
    const char* name = RequestName(e.code);
    char portName[24] = "";
    if (IsPortRequest(e.code)) PortName(e.port, IsWrite(e.code), portName, sizeof portName);
    char board[12] = "";
    if (t.board >= 0) snprintf(board, sizeof board, "%ld", (long)t.board);
    char axis[2] = "";
    if (IsPortRequest(e.code) && e.port < AXIS_PORTS_END) axis[0] = "XYZUVW"[e.port / TLM_AXIS_PORTS];
    snprintf(line, room, "%lu,%lu,%s,%s,%s,0x%02lX,%s,0x%lX,0x%08lX,%lu", (unsigned long)e.seq, (unsigned long)e.file,
             board, name ? name : "", axis, (unsigned long)e.port, portName, (unsigned long)e.value,
             (unsigned long)(uint32_t)e.status, (unsigned long)e.returned);
}
