// Fuzz target: every export of the library against a driver whose every answer comes from
// the input: whether a device opens, whether a request succeeds, the byte count it reports
// and the bytes it returns. The input is also the script of calls: which export, with which
// key, axis, description and room. Checked after every call: the caller's buffers are
// written only inside their bounds (guard bytes around each), out-parameters are left alone
// on failure, a successful open never gives the failure value or index 0, the description of
// an open call comes back as it was given, and no driver handle is left open.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "request_codes.h"
#include "standin.h"
#include "tellamio.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

#define CHECK(cond, ...)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            fprintf(stderr, "tellamio_fuzz: %s failed: ", #cond);                                                      \
            fprintf(stderr, __VA_ARGS__);                                                                              \
            fprintf(stderr, "\n");                                                                                     \
            abort();                                                                                                   \
        }                                                                                                              \
    } while (0)

// The rest of the input; an empty input reads as zeros.
struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
} g_in;

// What the last enumeration reply held: its byte count and the record count it claimed.
struct {
    DWORD returned;
    uint32_t count;
} g_infoReply;

bool AnswerOpen(const char*, DWORD* error) {
    uint8_t b = g_in.Byte();
    *error = b & 2 ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_NOT_FOUND;
    return (b & 1) == 0;
}

// A driver that answers anything: success or failure, any byte count (also more than the
// room, as a faulty driver might claim), and bytes from the input.
bool AnswerRequest(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned, DWORD* error) {
    // The library's buffers must really be as large as it says (the sanitizer checks the
    // first and the last byte of each).
    uint8_t sink = 0;
    if (inSize)
        sink ^= static_cast<const volatile uint8_t*>(in)[0] ^ static_cast<const volatile uint8_t*>(in)[inSize - 1];
    if (outSize) sink ^= static_cast<volatile uint8_t*>(out)[0] ^ static_cast<volatile uint8_t*>(out)[outSize - 1];
    (void)sink;
    uint8_t mode = g_in.Byte();
    switch (mode & 7) {
        case 3: *error = g_in.U32(); return false;
        case 7: *error = 0x20000000u | g_in.Byte(); return false;
        case 4: *returned = g_in.Byte() % (outSize + 9); break;
        case 5: *returned = g_in.U32(); break;
        case 6: *returned = 0; break;
        default: *returned = outSize; break;
    }
    DWORD fill = *returned < outSize ? *returned : outSize;
    uint8_t* bytes = static_cast<uint8_t*>(out);
    DWORD from = 0;
    if ((code == GET_DEVICE_COUNT || code == GET_DEVICE_INFO) && fill >= 4) {
        // A board or record count the driver claims: small, or anything.
        uint32_t count = mode & 8 ? g_in.U32() : g_in.Byte() % 8;
        memcpy(bytes, &count, 4);
        from = 4;
    }
    DWORD given = fill - from < g_in.n ? fill - from : static_cast<DWORD>(g_in.n);
    if (fill > from) {
        memcpy(bytes + from, g_in.p, given);
        memset(bytes + from + given, 0, fill - from - given);
        g_in.p += given;
        g_in.n -= given;
    }
    if (code == GET_DEVICE_INFO) {
        g_infoReply.returned = *returned;
        g_infoReply.count = 0;
        if (fill >= 4) memcpy(&g_infoReply.count, bytes, 4);
    }
    return true;
}

// A caller's buffer between guard bytes. Under AddressSanitizer the guards are poisoned
// while the library runs, so that a read of them is caught as well as a write.
#if defined(__SANITIZE_ADDRESS__)
#define FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FUZZ_ASAN 1
#endif
#endif
#ifdef FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(p, n)   ((void)(p), (void)(n))
#define ASAN_UNPOISON_MEMORY_REGION(p, n) ((void)(p), (void)(n))
#endif

const uint8_t kGuard = 0xC3, kUntouched = 0x5E;
struct Guarded {
    alignas(8) uint8_t bytes[16 + 6 * sizeof(DeviceInfo) + 16];
    size_t size;
    explicit Guarded(size_t n) : size(n) {
        memset(bytes, kUntouched, sizeof bytes);
        memset(bytes, kGuard, 16);
    }
    ~Guarded() { ASAN_UNPOISON_MEMORY_REGION(bytes, sizeof bytes); }
    uint8_t* Data() { return bytes + 16; }
    // The buffer is ready: guards after it, and both guards poisoned.
    void Seal() {
        memset(bytes + 16 + size, kGuard, 16);
        ASAN_POISON_MEMORY_REGION(bytes, 16);
        ASAN_POISON_MEMORY_REGION(bytes + 16 + size, sizeof bytes - 16 - size);
    }
    void CheckGuards(const char* call) {
        ASAN_UNPOISON_MEMORY_REGION(bytes, sizeof bytes);
        for (size_t i = 0; i < 16; ++i)
            CHECK(bytes[i] == kGuard && bytes[16 + size + i] == kGuard, "%s wrote outside the caller's buffer", call);
    }
    bool Untouched(size_t from = 0) const {
        for (size_t i = from; i < size; ++i)
            if (bytes[16 + i] != kUntouched) return false;
        return true;
    }
};

TLMIO_HANDLE g_opened[16];
int g_openedCount;

TLMIO_HANDLE Key() {
    uint8_t kind = g_in.Byte() % 4;
    TLMIO_HANDLE some = g_openedCount ? g_opened[g_in.Byte() % g_openedCount] : 0;
    if (kind == 0) return some;
    if (kind == 1) return some & 0xFFFF0000u;  // by board ID half
    if (kind == 2) return g_in.U32();
    return g_in.Byte() % 4;
}

LONG Field() {
    uint8_t kind = g_in.Byte() % 4;
    if (kind == 0) return -1;
    if (kind == 3) return static_cast<LONG>(g_in.U32());
    return g_in.Byte() % 4;
}

void GetDeviceInfo() {
    DWORD room = g_in.Byte() % 7;
    Guarded array(room * sizeof(DeviceInfo));
    array.Seal();
    Guarded count(sizeof(DWORD));
    memcpy(count.Data(), &room, sizeof room);
    count.Seal();
    uint32_t handles = standin::OpenHandles();
    g_infoReply.returned = 0;
    g_infoReply.count = 0;
    DeviceInfo* info = room == 0 && (g_in.Byte() & 1) ? nullptr : reinterpret_cast<DeviceInfo*>(array.Data());
    BOOL ok = tlmio_GetDeviceInfo(reinterpret_cast<DWORD*>(count.Data()), info);
    array.CheckGuards("tlmio_GetDeviceInfo (array)");
    count.CheckGuards("tlmio_GetDeviceInfo (count)");
    DWORD stored;
    memcpy(&stored, count.Data(), sizeof stored);
    CHECK(stored <= room, "stored %u records in room for %u", stored, room);
    if (ok) {
        // As many records as arrived whole, were claimed and fit the room.
        DWORD arrived = g_infoReply.returned >= 4 ? (g_infoReply.returned - 4) / sizeof(DeviceInfo) : 0;
        DWORD expected = g_infoReply.count < room ? g_infoReply.count : room;
        if (arrived < expected) expected = arrived;
        CHECK(stored == expected, "stored %u records; %u bytes arrived claiming %u, room %u", stored,
              g_infoReply.returned, g_infoReply.count, room);
    }
    CHECK(ok || stored == 0, "failed with a count of %u", stored);
    CHECK(array.Untouched(stored * sizeof(DeviceInfo)), "records past the count %u were written", stored);
    CHECK(standin::OpenHandles() == handles, "the control device was left open");
}

void Open(bool byId) {
    Guarded d(sizeof(DeviceInfo));
    DeviceInfo given = {Field(), Field(), Field(), Field(), Field(), Field()};
    memcpy(d.Data(), &given, sizeof given);
    d.Seal();
    uint32_t handles = standin::OpenHandles();
    DeviceInfo* info = reinterpret_cast<DeviceInfo*>(d.Data());
    TLMIO_HANDLE h = byId ? tlmio_OpenDeviceID(info) : tlmio_OpenDevice(info);
    d.CheckGuards("open");
    CHECK(memcmp(d.Data(), &given, sizeof given) == 0, "the description did not come back as given");
    if (h == TLMIO_INVALID_HANDLE) {
        CHECK(standin::OpenHandles() == handles, "a failed open left a device open");
        return;
    }
    CHECK((h & 0xFFFF) != 0, "handle 0x%08x has index 0", h);
    DWORD half = given.BoardId == -1 || !byId ? 0xFFFFu : (DWORD)given.BoardId & 0xFFFF;
    CHECK(h >> 16 == half, "handle 0x%08x for board ID %d", h, given.BoardId);
    CHECK(standin::OpenHandles() == handles + 1, "an open holds %u new devices", standin::OpenHandles() - handles);
    g_opened[g_openedCount++ % 16] = h;
    if (g_openedCount > 16) g_openedCount = 16;
}

void Close() {
    uint32_t handles = standin::OpenHandles();
    SetLastError(0);
    BOOL ok = tlmio_CloseDevice(Key());
    if (ok)
        CHECK(standin::OpenHandles() == handles - 1, "a close released %u devices", handles - standin::OpenHandles());
    if (!ok && GetLastError() == static_cast<DWORD>(LIBERR_HANDLE))
        CHECK(standin::OpenHandles() == handles, "a refused close released a device");
}

// A port read with an out-parameter of `size` bytes.
void Read(int which) {
    TLMIO_HANDLE key = Key();
    WORD axis = g_in.Byte() & 1 ? static_cast<WORD>(g_in.U32()) : g_in.Byte() % 8;
    BYTE command = g_in.Byte();
    size_t size = which == 3 ? 4 : which == 8 ? 8 : 1;
    Guarded out(size);
    out.Seal();
    BYTE* b = out.Data();
    bool nullOut = (g_in.Byte() & 15) == 0;
    if (nullOut) b = nullptr;
    BOOL ok = 0;
    const char* name = "";
    switch (which) {
        case 0: name = "status1Read", ok = tlmio_status1Read(key, axis, b); break;
        case 1: name = "status2Read", ok = tlmio_status2Read(key, axis, b); break;
        case 2: name = "intstatusRead", ok = tlmio_intstatusRead(key, axis, b); break;
        case 3: name = "regRead", ok = tlmio_regRead(key, axis, command, reinterpret_cast<DWORD*>(b)); break;
        case 4: name = "ElstRead", ok = tlmio_ElstRead(key, b); break;
        case 5: name = "CmpcRead", ok = tlmio_CmpcRead(key, b); break;
        case 6: name = "boardIDRead", ok = tlmio_boardIDRead(key, b); break;
        case 7: name = "INTRDRead", ok = tlmio_INTRDRead(key, b); break;
        default: name = "IDNumberRead", ok = tlmio_IDNumberRead(key, b); break;
    }
    out.CheckGuards(name);
    CHECK(!(nullOut && ok), "%s succeeded without an out-parameter", name);
    if (!ok) CHECK(out.Untouched(), "%s failed and wrote its out-parameter", name);
    if (ok && which == 6) CHECK(*b <= 15, "board ID %u", *b);
}

void Write(int which) {
    TLMIO_HANDLE key = Key();
    WORD axis = g_in.Byte() & 1 ? static_cast<WORD>(g_in.U32()) : g_in.Byte() % 8;
    BYTE value = g_in.Byte();
    switch (which) {
        case 0: tlmio_CmdWrite(key, axis, value & 1 ? 0x0A : value, g_in.Byte() & 1, g_in.U32()); break;
        case 1: tlmio_DousaWrite(key, axis, value); break;
        case 2: tlmio_SeigyoWrite(key, axis, value); break;
        case 3: tlmio_ElstWrite(key, value); break;
        case 4: tlmio_CmpcWrite(key, value); break;
        default: tlmio_INTRst(key); break;
    }
}

void Detach() {
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    CHECK(standin::OpenHandles() == 0, "%u devices open after the process let go of the library",
          standin::OpenHandles());
    g_openedCount = 0;
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_in = Input{data, size};
    // Every input ends with no device open, so the stand-in needs a reset (which is slow
    // next to an input) only to forget the calls it recorded.
    static bool started = false;
    if (!started || standin::CreateFileCalls().size() > 100000) standin::Reset();
    started = true;
    standin::SetWindows9x(false);
    standin::SetHooks(AnswerOpen, AnswerRequest);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    g_openedCount = 0;
    for (int calls = 0; g_in.n > 0 && calls < 64; ++calls) {
        uint8_t op = g_in.Byte() % 22;
        if (op == 0) {
            uint32_t handles = standin::OpenHandles();
            tlmio_GetDeviceCount(1);
            CHECK(standin::OpenHandles() == handles, "the control device was left open");
        } else if (op == 1) {
            GetDeviceInfo();
        } else if (op == 2 || op == 3) {
            Open(op == 2);
        } else if (op == 4) {
            Close();
        } else if (op <= 13) {
            Read(op - 5);
        } else if (op <= 19) {
            Write(op - 14);
        } else if (op == 20) {
            standin::SetWindows9x(g_in.Byte() & 1);
        } else {
            Detach();
        }
    }
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    CHECK(standin::OpenHandles() == 0, "%u devices open at the end", standin::OpenHandles());
    return 0;
}
