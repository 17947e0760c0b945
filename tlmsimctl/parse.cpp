// tlmsimctl's command-line words (see parse.h). Plain C++ on the number parsing of sim/host.
#include "parse.h"

#include <string.h>

#include "simhost.h"
#include "tellam_protocol.h"

static const char* const AXIS_NAMES = "XYZUVW";

static const char* const INPUT_NAMES[TLMSIM_INPUT_COUNT] = {"+ELS", "-ELS", "DLS", "OLS", "Z", "INPOS", "SVALM"};

static const char* const REQUEST_NAMES[TLMDRV_REQUEST_COUNT] = TLMDRV_REQUEST_NAMES;

bool ParseBoard(const char* text, int32_t* board) { return ParseInt32(text, 0, 9999, board); }

bool ParseAxis(const char* text, uint32_t* axis) {
    if (text[0] != 0 && text[1] == 0) {
        for (uint32_t a = 0; a < 6; ++a)
            if (text[0] == AXIS_NAMES[a] || text[0] == AXIS_NAMES[a] + 32 || text[0] == (char)('0' + a)) {
                *axis = a;
                return true;
            }
    }
    return false;
}

char AxisName(uint32_t axis) { return AXIS_NAMES[axis]; }

bool ParseInputName(const char* text, uint32_t* input) {
    for (uint32_t i = 0; i < TLMSIM_INPUT_COUNT; ++i)
        if (SameText(text, INPUT_NAMES[i])) {
            *input = i;
            return true;
        }
    return false;
}

const char* InputName(uint32_t input) { return INPUT_NAMES[input]; }

bool ParseForce(const char* text, uint32_t* force) {
    if (SameText(text, "on"))
        *force = TLMSIM_FORCE_ASSERTED;
    else if (SameText(text, "off"))
        *force = TLMSIM_FORCE_RELEASED;
    else if (SameText(text, "follow"))
        *force = TLMSIM_FORCE_FOLLOW;
    else
        return false;
    return true;
}

bool ParseOnOff(const char* text, uint32_t* on) {
    if (SameText(text, "on"))
        *on = 1;
    else if (SameText(text, "off"))
        *on = 0;
    else
        return false;
    return true;
}

bool ParsePosition(const char* text, int64_t* position) {
    const int64_t farthest = (int64_t)1 << 53;
    return ParseInt64(text, -farthest, farthest, position);
}

bool ParseBound(const char* text, size_t length, int32_t open, int32_t* value) {
    char buffer[24];
    if (length == 0) {
        *value = open;
        return true;
    }
    if (length >= sizeof buffer) return false;
    memcpy(buffer, text, length);
    buffer[length] = 0;
    return ParseInt32(buffer, INT32_MIN + 1, INT32_MAX - 1, value);
}

bool ParseZone(const char* text, size_t length, TlmSimZone* zone) {
    if (length == 4 && SameTextN(text, "none", 4)) {
        zone->from = 1;
        zone->to = 0;
        return true;
    }
    const char* dots = NULL;
    for (size_t i = 0; i + 1 < length; ++i)
        if (text[i] == '.' && text[i + 1] == '.') {
            dots = text + i;
            break;
        }
    if (dots == NULL) return false;
    size_t left = (size_t)(dots - text);
    if (left == 0 && length == 2) return false;  // ".." alone: say "none" or give a bound
    TlmSimZone z;
    if (!ParseBound(text, left, INT32_MIN, &z.from) || !ParseBound(dots + 2, length - left - 2, INT32_MAX, &z.to) ||
        z.from > z.to)
        return false;
    *zone = z;
    return true;
}

// A value into a buffer of `room` bytes to be cut up; false when it does not fit.
static bool CopyValue(const char* value, char* buffer, size_t room) {
    if (strlen(value) >= room) return false;
    memcpy(buffer, value, strlen(value) + 1);
    return true;
}

// Z=PERIOD[/OFFSET[/WIDTH]] (Z=none: see ApplyTo).
static bool ParseZMark(const char* value, TlmSimSetSensors* s) {
    char buffer[40];
    if (!CopyValue(value, buffer, sizeof buffer)) return false;
    char* parts[3] = {buffer, NULL, NULL};
    for (int i = 1; i < 3; ++i) {
        char* slash = parts[i - 1] ? strchr(parts[i - 1], '/') : NULL;
        if (slash != NULL) {
            *slash = 0;
            parts[i] = slash + 1;
        }
    }
    int32_t period, offset = 0, width = 1;
    if (!ParseInt32(parts[0], 1, INT32_MAX, &period)) return false;
    if (parts[1] && !ParseInt32(parts[1], INT32_MIN, INT32_MAX, &offset)) return false;
    if (parts[2] && !ParseInt32(parts[2], 1, period, &width)) return false;
    s->zPeriod = period;
    s->zOffset = offset;
    s->zWidth = width;
    return true;
}

// normally-open=LIST (or none: see ApplyTo): the inputs of LIST (empty items skipped), Z not among them.
static bool ParseNormallyOpen(const char* value, TlmSimSetSensors* s) {
    char buffer[64];
    if (!CopyValue(value, buffer, sizeof buffer)) return false;
    uint8_t bits = 0;
    for (char* item = buffer; item != NULL;) {
        char* comma = strchr(item, ',');
        if (comma != NULL) *comma = 0;
        if (*item != 0) {
            uint32_t input;
            if (!ParseInputName(item, &input) || input == TLMSIM_INPUT_Z) return false;
            bits |= (uint8_t)(1u << input);
        }
        item = comma != NULL ? comma + 1 : NULL;
    }
    s->normallyOpen = bits;
    return true;
}

// Applies the setting to *s; what it has changed when it fails is of no use.
static bool ApplyTo(const char* setting, TlmSimSetSensors* s) {
    const char* eq = strchr(setting, '=');
    if (eq == NULL || eq == setting) return false;
    size_t nameLength = (size_t)(eq - setting);
    char name[16];
    if (nameLength >= sizeof name) return false;
    memcpy(name, setting, nameLength);
    name[nameLength] = 0;
    const char* value = eq + 1;
    size_t length = strlen(value);
    if (SameText(name, "+ELS")) return ParseZone(value, length, &s->plusEls);
    if (SameText(name, "-ELS")) return ParseZone(value, length, &s->minusEls);
    if (SameText(name, "OLS")) return ParseZone(value, length, &s->ols);
    if (SameText(name, "DLS")) {
        const char* comma = strchr(value, ',');
        if (comma == NULL) {
            s->dls[1].from = 1;
            s->dls[1].to = 0;
            return ParseZone(value, length, &s->dls[0]);
        }
        return ParseZone(value, (size_t)(comma - value), &s->dls[0]) &&
               ParseZone(comma + 1, strlen(comma + 1), &s->dls[1]);
    }
    bool none = SameText(value, "none");
    if (SameText(name, "Z")) return none ? (s->zPeriod = 0, true) : ParseZMark(value, s);
    if (SameText(name, "normally-open")) return none ? (s->normallyOpen = 0, true) : ParseNormallyOpen(value, s);
    return false;
}

bool ApplySensorSetting(const char* setting, TlmSimSetSensors* sensors) {
    TlmSimSetSensors changed = *sensors;
    if (!ApplyTo(setting, &changed)) return false;
    *sensors = changed;
    return true;
}

bool ParseDuration(const char* text, uint64_t* ns) {
    static const struct {
        const char* unit;
        uint64_t ns;
    } units[] = {{"ns", 1}, {"us", 1000}, {"ms", 1000000}, {"s", 1000000000ull}, {"min", 60000000000ull}};
    const char* p = text;
    uint64_t whole = 0, fraction = 0, scale = 1;
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; ++p, digits = true) {
        if (whole > (UINT64_MAX - 9) / 10) return false;
        whole = whole * 10 + (*p - '0');
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9'; ++p, digits = true) {
            if (scale >= 1000000000ull) continue;  // digits finer than a nanosecond of a second
            fraction = fraction * 10 + (*p - '0');
            scale *= 10;
        }
    }
    if (!digits) return false;
    for (size_t i = 0; i < sizeof units / sizeof units[0]; ++i) {
        if (!SameText(p, units[i].unit)) continue;
        if (whole > UINT64_MAX / units[i].ns) return false;
        uint64_t total = whole * units[i].ns;
        // Exact and without overflow: scale is a power of ten up to 10^9, and every unit at
        // least that large is a multiple of it.
        uint64_t part = units[i].ns >= scale ? fraction * (units[i].ns / scale) : fraction * units[i].ns / scale;
        if (total > UINT64_MAX - part) return false;
        *ns = total + part;
        return true;
    }
    return false;
}

bool ParseClockOp(const char* text, uint32_t* op) {
    static const char* const names[] = {"show", "freeze", "run", "advance", "scale", "virtual"};
    static const uint32_t ops[] = {TLMSIM_CLOCK_QUERY,   TLMSIM_CLOCK_FREEZE, TLMSIM_CLOCK_RUN,
                                   TLMSIM_CLOCK_ADVANCE, TLMSIM_CLOCK_SCALE,  TLMSIM_CLOCK_VIRTUAL};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (SameText(text, names[i])) {
            *op = ops[i];
            return true;
        }
    return false;
}

bool ParseRequestNumber(const char* text, uint32_t* number) {
    int64_t v;
    if (!ParseInt64(text, 1, UINT32_MAX, &v)) return false;
    *number = (uint32_t)v;
    return true;
}

bool ParseRequest(const char* text, uint32_t* code, uint32_t* number) {
    char name[24];
    size_t n = strlen(text);
    if (n < sizeof name) {
        for (size_t i = 0; i <= n; ++i) name[i] = text[i] == '-' ? '_' : text[i];
        for (uint32_t i = 0; i < TLMDRV_REQUEST_COUNT; ++i)
            if (SameText(name, REQUEST_NAMES[i])) {
                *code = IOCTL_GET_DEVICE_COUNT + 4 * i;
                *number = 0;
                return true;
            }
    }
    if (!ParseRequestNumber(text[0] == '#' ? text + 1 : text, number)) return false;
    *code = 0;
    return true;
}

bool ParseFaultKind(const char* text, uint32_t* kind) {
    static const char* const names[] = {"fail", "bytes", "records", "reply"};
    static const uint32_t kinds[] = {TLMSIM_FAULT_FAIL, TLMSIM_FAULT_BYTE_COUNT, TLMSIM_FAULT_EXTRA_RECORDS,
                                     TLMSIM_FAULT_REPLY};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (SameText(text, names[i])) {
            *kind = kinds[i];
            return true;
        }
    return false;
}

int64_t FaultValueLimit(uint32_t kind) {
    switch (kind) {
        case TLMSIM_FAULT_BYTE_COUNT: return 4096;
        case TLMSIM_FAULT_EXTRA_RECORDS: return 1000;
        case TLMSIM_FAULT_REPLY: return 0xFFFF;
    }
    return 0;
}

bool ParseFaultStatus(const char* text, int32_t* status) {
    int64_t v;
    if (!ParseInt64(text, 0xC0000000ll, 0xFFFFFFFFll, &v)) return false;
    *status = (int32_t)(uint32_t)v;
    return true;
}

bool ParseProcessId(const char* text, uint32_t* process) {
    int64_t v;
    if (!ParseInt64(text, 1, UINT32_MAX, &v)) return false;
    *process = (uint32_t)v;
    return true;
}
