#include "driver.h"

namespace tlmsim {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The rest of `text` after `prefix` (compared without letter case), or null.
const char* AfterPrefix(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        if (Upper(*text) != Upper(*prefix)) return nullptr;
    return text;
}

// Little-endian field access on request buffers, which need not be aligned.
uint32_t Load32(const void* p, uint32_t offset) {
    const uint8_t* b = static_cast<const uint8_t*>(p) + offset;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void Store32(void* p, uint32_t offset, uint32_t v) {
    uint8_t* b = static_cast<uint8_t*>(p) + offset;
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

DeviceInfo LoadInfo(const void* p) {
    DeviceInfo d;
    d.BusNumber = static_cast<int32_t>(Load32(p, 0));
    d.DeviceNumber = static_cast<int32_t>(Load32(p, 4));
    d.IoAddress = static_cast<int32_t>(Load32(p, 8));
    d.IrqNumber = static_cast<int32_t>(Load32(p, 12));
    d.ManagementNumber = static_cast<int32_t>(Load32(p, 16));
    d.BoardId = static_cast<int32_t>(Load32(p, 20));
    return d;
}

void StoreInfo(void* p, const DeviceInfo& d) {
    Store32(p, 0, static_cast<uint32_t>(d.BusNumber));
    Store32(p, 4, static_cast<uint32_t>(d.DeviceNumber));
    Store32(p, 8, static_cast<uint32_t>(d.IoAddress));
    Store32(p, 12, static_cast<uint32_t>(d.IrqNumber));
    Store32(p, 16, static_cast<uint32_t>(d.ManagementNumber));
    Store32(p, 20, static_cast<uint32_t>(d.BoardId));
}

// A description names a board by the first rule that applies: management number, board ID,
// I/O address with IRQ, else bus and device number as they stand.
bool Describes(const DeviceInfo& d, const DeviceInfo& board) {
    if (d.ManagementNumber != -1) return d.ManagementNumber == board.ManagementNumber;
    if (d.BoardId != -1) return d.BoardId == board.BoardId;
    if (d.IoAddress != -1 && d.IrqNumber != -1) return d.IoAddress == board.IoAddress && d.IrqNumber == board.IrqNumber;
    return d.BusNumber == board.BusNumber && d.DeviceNumber == board.DeviceNumber;
}

int32_t BoardIndexByManagementNumber(const Driver* driver, int32_t managementNumber) {
    for (uint32_t i = 0; i < driver->boardCount; ++i)
        if (driver->boards[i].config.info.ManagementNumber == managementNumber) return static_cast<int32_t>(i);
    return -1;
}

const Fault* FaultFor(const Driver* driver, uint32_t seq, uint32_t code) {
    for (uint32_t i = 0; i < driver->faultCount; ++i) {
        const Fault& f = driver->faults[i];
        if (f.request != 0 ? f.request == seq : f.code == code) return &f;
    }
    return nullptr;
}

struct Answer {
    int32_t status;
    uint32_t returned;
    uint32_t port;
    uint32_t value;
};

Answer Select(Driver* driver, File* file, const void* in, uint32_t inLength) {
    Answer a = {kStatusSuccess, 0, 0, 0};
    if (file->device == kDeviceControl) return a.status = kStatusInvalidDeviceRequest, a;
    if (inLength < sizeof(DeviceInfo) || in == nullptr) return a.status = kStatusInvalidParameter, a;
    DeviceInfo d = LoadInfo(in);
    a.port = static_cast<uint32_t>(d.BoardId);
    a.value = static_cast<uint32_t>(d.ManagementNumber);
    for (uint32_t i = 0; i < driver->boardCount; ++i) {
        const DeviceInfo& info = driver->boards[i].config.info;
        bool onItsDevice = file->device == kDeviceVxd || file->device == info.ManagementNumber;
        if (onItsDevice && Describes(d, info)) {
            file->board = static_cast<int32_t>(i);
            return a;
        }
    }
    a.status = kStatusNoSuchDevice;
    return a;
}

Answer PortRequest(Driver* driver, File* file, uint32_t code, const void* in, uint32_t inLength, void* out,
                   uint32_t outLength, uint64_t nowNs, const Fault* reply) {
    Answer a = {kStatusSuccess, 0, 0, 0};
    bool isWrite = code == IOCTL_WRITE_BYTE || code == IOCTL_WRITE_WORD;
    bool isWord = code == IOCTL_READ_WORD || code == IOCTL_WRITE_WORD;
    if (file->board < 0) return a.status = kStatusInvalidDeviceRequest, a;
    if (in == nullptr || inLength < (isWrite ? 8u : 4u)) return a.status = kStatusInvalidParameter, a;
    a.port = Load32(in, 0);
    if (a.port >= kPortCount || (isWord && a.port + 1 >= kPortCount)) return a.status = kStatusInvalidParameter, a;
    Board* board = &driver->boards[file->board];
    if (isWrite) {
        a.value = Load32(in, 4);
        if (isWord)
            BoardWriteWord(board, a.port, static_cast<uint16_t>(a.value), nowNs);
        else
            BoardWriteByte(board, a.port, static_cast<uint8_t>(a.value), nowNs);
        return a;
    }
    uint32_t size = isWord ? 2 : 1;
    if (out == nullptr || outLength < size) return a.status = kStatusBufferTooSmall, a;
    if (reply)
        a.value = reply->value & (isWord ? 0xFFFFu : 0xFFu);
    else
        a.value = isWord ? BoardReadWord(board, a.port, nowNs) : BoardReadByte(board, a.port, nowNs);
    uint8_t* o = static_cast<uint8_t*>(out);
    o[0] = static_cast<uint8_t>(a.value);
    if (isWord) o[1] = static_cast<uint8_t>(a.value >> 8);
    a.returned = size;
    return a;
}

Answer Enumerate(const Driver* driver, const File* file, const void* in, uint32_t inLength, void* out,
                 uint32_t outLength, uint32_t extraRecords) {
    Answer a = {kStatusSuccess, 0, 0, 0};
    if (file->device == kDeviceNone || (file->device >= 0)) return a.status = kStatusInvalidDeviceRequest, a;
    if (in == nullptr || inLength < 4) return a.status = kStatusInvalidParameter, a;
    a.port = Load32(in, 0);
    if (out == nullptr || outLength < 4) return a.status = kStatusBufferTooSmall, a;
    uint32_t room = (outLength - 4) / sizeof(DeviceInfo);
    if (a.port < room) room = a.port;
    uint32_t count = driver->boardCount < room ? driver->boardCount : room;
    for (uint32_t i = 0; i < count; ++i)
        StoreInfo(static_cast<uint8_t*>(out) + 4 + i * sizeof(DeviceInfo), driver->boards[i].config.info);
    a.value = count + extraRecords;  // a faulty driver may claim more than it had room for
    Store32(out, 0, a.value);
    a.returned = 4 + count * static_cast<uint32_t>(sizeof(DeviceInfo));
    return a;
}

}  // namespace

void DriverInit(Driver* driver, File* files, uint32_t fileCapacity, uint64_t nowNs) {
    driver->files = files;
    driver->fileCapacity = fileCapacity;
    driver->openFiles = 0;
    driver->freeHint = 0;
    for (uint32_t i = 0; i < fileCapacity; ++i) files[i] = File{kDeviceNone, -1};
    driver->requestCount = 0;
    driver->faultCount = 0;
    BoardConfig one = DefaultBoardConfig(0);
    DriverSetBoards(driver, &one, 1, nowNs);
}

void DriverSetBoards(Driver* driver, const BoardConfig* configs, uint32_t count, uint64_t nowNs) {
    if (count > kMaxBoards) count = kMaxBoards;
    driver->boardCount = count;
    for (uint32_t i = 0; i < count; ++i) BoardReset(&driver->boards[i], &configs[i], nowNs);
    for (uint32_t i = 0; i < driver->fileCapacity; ++i) driver->files[i].board = -1;
}

bool DeviceFromName(const char* path, int32_t* device) {
    const char* name = AfterPrefix(path, "\\\\.\\");
    if (name == nullptr) return false;
    const char* rest = AfterPrefix(name, "TELLAMIO.VXD");
    if (rest != nullptr && *rest == 0) return *device = kDeviceVxd, true;
    const char* digits = AfterPrefix(name, "TLMDRV");
    if (digits == nullptr) return false;
    if (*digits == 0) return *device = kDeviceControl, true;
    int32_t n = 0;
    for (const char* p = digits; *p; ++p) {
        if (*p < '0' || *p > '9' || n > 100000000) return false;
        n = n * 10 + (*p - '0');
    }
    if (digits[0] == '0' && digits[1] != 0) return false;  // "TLMDRV01" is not a device name
    *device = n;
    return true;
}

int32_t DriverOpen(Driver* driver, int32_t device, uint32_t* file) {
    int32_t board = -1;
    if (device >= 0) {
        board = BoardIndexByManagementNumber(driver, device);
        if (board < 0) return kStatusObjectNameNotFound;
    } else if (device != kDeviceControl && device != kDeviceVxd) {
        return kStatusObjectNameNotFound;
    }
    for (uint32_t i = driver->freeHint; i < driver->fileCapacity; ++i) {
        if (driver->files[i].device == kDeviceNone) {
            driver->files[i] = File{device, -1};
            ++driver->openFiles;
            driver->freeHint = i + 1;
            *file = i;
            return kStatusSuccess;
        }
    }
    return kStatusInsufficientResources;
}

void DriverClose(Driver* driver, uint32_t file) {
    if (file >= driver->fileCapacity || driver->files[file].device == kDeviceNone) return;
    driver->files[file] = File{kDeviceNone, -1};
    --driver->openFiles;
    if (file < driver->freeHint) driver->freeHint = file;
}

int32_t DriverIoctl(Driver* driver, uint32_t file, uint32_t code, const void* in, uint32_t inLength, void* out,
                    uint32_t outLength, uint32_t* returned, uint64_t nowNs) {
    uint32_t seq = ++driver->requestCount;
    const Fault* fault = FaultFor(driver, seq, code);
    File* f = file < driver->fileCapacity ? &driver->files[file] : nullptr;
    Answer a = {kStatusInvalidDeviceRequest, 0, 0, 0};
    if (f == nullptr || f->device == kDeviceNone) {
        a.status = kStatusInvalidParameter;
    } else if (fault && fault->kind == kFaultFail) {
        a.status = fault->status;
        if (in && inLength >= 4) a.port = Load32(in, 0);
    } else {
        switch (code) {
            case IOCTL_GET_DEVICE_COUNT:
                if (f->device >= 0) break;
                if (out == nullptr || outLength < 4) {
                    a.status = kStatusBufferTooSmall;
                    break;
                }
                a = Answer{kStatusSuccess, 4, 0, driver->boardCount};
                Store32(out, 0, driver->boardCount);
                break;
            case IOCTL_GET_DEVICE_INFO:
                a = Enumerate(driver, f, in, inLength, out, outLength,
                              fault && fault->kind == kFaultExtraRecords ? fault->value : 0);
                break;
            case IOCTL_SELECT_BOARD: a = Select(driver, f, in, inLength); break;
            case IOCTL_READ_BYTE:
            case IOCTL_READ_WORD:
            case IOCTL_WRITE_BYTE:
            case IOCTL_WRITE_WORD:
                a = PortRequest(driver, f, code, in, inLength, out, outLength, nowNs,
                                fault && fault->kind == kFaultReply ? fault : nullptr);
                break;
            default: break;
        }
        if (fault && fault->kind == kFaultByteCount && a.status == kStatusSuccess)
            a.returned = fault->value < outLength ? fault->value : outLength;
    }
    int32_t board = -1;
    if (f != nullptr && f->board >= 0)
        board = driver->boards[f->board].config.info.ManagementNumber;
    else if (f != nullptr && f->device >= 0)
        board = f->device;
    TraceEntry& t = driver->trace[(seq - 1) % kTraceCapacity];
    t = TraceEntry{seq, file, code, a.port, a.value, a.status, a.returned, board};
    *returned = a.returned;
    return a.status;
}

void DriverResetTrace(Driver* driver) { driver->requestCount = 0; }

const TraceEntry* DriverTraceEntry(const Driver* driver, uint32_t seq) {
    if (seq == 0 || seq > driver->requestCount || driver->requestCount - seq >= kTraceCapacity) return nullptr;
    return &driver->trace[(seq - 1) % kTraceCapacity];
}

bool DriverAddFault(Driver* driver, const Fault& fault) {
    if (driver->faultCount >= kMaxFaults) return false;
    driver->faults[driver->faultCount++] = fault;
    return true;
}

void DriverClearFaults(Driver* driver) { driver->faultCount = 0; }

Board* DriverBoardByManagementNumber(Driver* driver, int32_t managementNumber) {
    int32_t i = BoardIndexByManagementNumber(driver, managementNumber);
    return i < 0 ? nullptr : &driver->boards[i];
}

}  // namespace tlmsim
