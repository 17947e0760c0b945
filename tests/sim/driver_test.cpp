// The simulated kernel driver as a caller of DeviceIoControl sees it: device names, the byte
// counts of each reply, refusals of malformed requests, the trace and injected faults.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "driver.h"
#include "sim_control.h"

namespace {

using namespace tlmsim;

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { DriverInit(&driver_, files_, kFiles, 0); }

    uint32_t Open(int32_t device) {
        uint32_t file = 0xFFFFFFFF;
        EXPECT_EQ(DriverOpen(&driver_, device, &file), kStatusSuccess) << "device " << device;
        return file;
    }

    int32_t Ioctl(uint32_t file, uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>* out,
                  uint32_t* returned) {
        return DriverIoctl(&driver_, file, code, in.empty() ? nullptr : in.data(), static_cast<uint32_t>(in.size()),
                           out && !out->empty() ? out->data() : nullptr, out ? static_cast<uint32_t>(out->size()) : 0,
                           returned, 0);
    }

    static std::vector<uint8_t> U32(std::initializer_list<uint32_t> values) {
        std::vector<uint8_t> b;
        for (uint32_t v : values)
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return b;
    }

    static constexpr uint32_t kFiles = 8;
    File files_[kFiles];
    Driver driver_;
};

TEST_F(DriverTest, DeviceNames) {
    struct Case {
        const char* path;
        bool known;
        int32_t device;
    } cases[] = {
        {"\\\\.\\TLMDRV", true, kDeviceControl},
        {"\\\\.\\TLMDRV0", true, 0},
        {"\\\\.\\tlmdrv12", true, 12},
        {"\\\\.\\TELLAMIO.VXD", true, kDeviceVxd},
        {"\\\\.\\TLMDRV01", false, 0},
        {"\\\\.\\TLMDRVX", false, 0},
        {"TLMDRV0", false, 0},
        {"\\\\.\\OTHER", false, 0},
        {"\\\\.\\TLMDRV-1", false, 0},
    };
    for (const Case& c : cases) {
        int32_t device = 0;
        EXPECT_EQ(DeviceFromName(c.path, &device), c.known) << c.path;
        if (c.known) EXPECT_EQ(device, c.device) << c.path;
    }
}

TEST_F(DriverTest, PerBoardDevicesExistOnlyForConfiguredBoards) {
    uint32_t file;
    EXPECT_EQ(DriverOpen(&driver_, 0, &file), kStatusSuccess);
    EXPECT_EQ(DriverOpen(&driver_, 1, &file), kStatusObjectNameNotFound);
    EXPECT_EQ(driver_.openFiles, 1u);
}

TEST_F(DriverTest, RepliesHaveExactlyTheirByteCounts) {
    uint32_t control = Open(kDeviceControl);
    uint32_t board = Open(0);
    std::vector<uint8_t> out(64, 0xEE);
    uint32_t returned = 99;
    EXPECT_EQ(Ioctl(control, IOCTL_GET_DEVICE_COUNT, {}, &out, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(out[0], 1);

    out.assign(4 + 24 * 2, 0xEE);
    EXPECT_EQ(Ioctl(control, IOCTL_GET_DEVICE_INFO, U32({2}), &out, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 4u + 24u) << "one board";
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[4 + 24], 0xEE) << "nothing past the records";

    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    std::vector<uint8_t> sel(reinterpret_cast<uint8_t*>(&d), reinterpret_cast<uint8_t*>(&d) + 24);
    EXPECT_EQ(Ioctl(board, IOCTL_SELECT_BOARD, sel, nullptr, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 0u);

    out.assign(8, 0xEE);
    EXPECT_EQ(Ioctl(board, IOCTL_READ_BYTE, U32({0x9C}), &out, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(out[1], 0xEE);
    EXPECT_EQ(Ioctl(board, IOCTL_READ_WORD, U32({0xC0}), &out, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 2u);
    EXPECT_EQ(out[2], 0xEE);
    EXPECT_EQ(Ioctl(board, IOCTL_WRITE_BYTE, U32({0x80, 0x3F}), nullptr, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(Ioctl(board, IOCTL_WRITE_WORD, U32({0x88, 0x0102}), nullptr, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 0u);
}

TEST_F(DriverTest, MalformedRequestsAreRefused) {
    uint32_t control = Open(kDeviceControl);
    uint32_t unselected = Open(0);
    uint32_t board = Open(0);
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    std::vector<uint8_t> sel(reinterpret_cast<uint8_t*>(&d), reinterpret_cast<uint8_t*>(&d) + 24);
    uint32_t returned;
    ASSERT_EQ(Ioctl(board, IOCTL_SELECT_BOARD, sel, nullptr, &returned), kStatusSuccess);
    std::vector<uint8_t> out(2), none;
    DeviceInfo other = {-1, -1, -1, -1, -1, 9};
    std::vector<uint8_t> otherSel(reinterpret_cast<uint8_t*>(&other), reinterpret_cast<uint8_t*>(&other) + 24);
    struct Case {
        const char* what;
        uint32_t file;
        uint32_t code;
        std::vector<uint8_t> in;
        std::vector<uint8_t>* out;
        int32_t status;
    } cases[] = {
        {"select on the control device", control, IOCTL_SELECT_BOARD, sel, nullptr, kStatusInvalidDeviceRequest},
        {"select with a short description", board, IOCTL_SELECT_BOARD, U32({0}), nullptr, kStatusInvalidParameter},
        {"select of a board that is not there", board, IOCTL_SELECT_BOARD, otherSel, nullptr, kStatusNoSuchDevice},
        {"port read before selection", unselected, IOCTL_READ_BYTE, U32({0}), &out, kStatusInvalidDeviceRequest},
        {"port read past the board", board, IOCTL_READ_BYTE, U32({0x100}), &out, kStatusInvalidParameter},
        {"word read of the last byte", board, IOCTL_READ_WORD, U32({0xFF}), &out, kStatusInvalidParameter},
        {"port read without input", board, IOCTL_READ_BYTE, {}, &out, kStatusInvalidParameter},
        {"port read without room", board, IOCTL_READ_WORD, U32({0}), &none, kStatusBufferTooSmall},
        {"port write without value", board, IOCTL_WRITE_BYTE, U32({0}), nullptr, kStatusInvalidParameter},
        {"count on a board device", board, IOCTL_GET_DEVICE_COUNT, {}, &out, kStatusInvalidDeviceRequest},
        {"count without room", control, IOCTL_GET_DEVICE_COUNT, {}, &none, kStatusBufferTooSmall},
        {"enumeration without room", control, IOCTL_GET_DEVICE_INFO, U32({1}), &none, kStatusBufferTooSmall},
        {"unknown request", board, 0x22201C, U32({0}), &out, kStatusInvalidDeviceRequest},
        {"closed file", 7, IOCTL_READ_BYTE, U32({0}), &out, kStatusInvalidParameter},
    };
    for (const Case& c : cases) {
        returned = 99;
        EXPECT_EQ(Ioctl(c.file, c.code, c.in, c.out, &returned), c.status) << c.what;
        EXPECT_EQ(returned, 0u) << c.what;
    }
    EXPECT_EQ(driver_.requestCount, sizeof cases / sizeof cases[0] + 1) << "every request is numbered";
}

TEST_F(DriverTest, EnumerationHonoursTheSmallerOfRoomAndBuffer) {
    BoardConfig boards[3] = {DefaultBoardConfig(0), DefaultBoardConfig(1), DefaultBoardConfig(2)};
    DriverSetBoards(&driver_, boards, 3, 0);
    uint32_t control = Open(kDeviceControl);
    uint32_t returned;
    std::vector<uint8_t> out(4 + 24 * 3);
    ASSERT_EQ(Ioctl(control, IOCTL_GET_DEVICE_INFO, U32({2}), &out, &returned), kStatusSuccess);
    EXPECT_EQ(out[0], 2) << "room for 2 asked";
    std::vector<uint8_t> small(4 + 24);
    ASSERT_EQ(Ioctl(control, IOCTL_GET_DEVICE_INFO, U32({3}), &small, &returned), kStatusSuccess);
    EXPECT_EQ(small[0], 1) << "buffer for 1 given";
    EXPECT_EQ(returned, 28u);
}

TEST_F(DriverTest, TraceAndFaults) {
    uint32_t board = Open(0);
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    std::vector<uint8_t> sel(reinterpret_cast<uint8_t*>(&d), reinterpret_cast<uint8_t*>(&d) + 24);
    uint32_t returned;
    Ioctl(board, IOCTL_SELECT_BOARD, sel, nullptr, &returned);
    DriverResetTrace(&driver_);
    ASSERT_TRUE(DriverAddFault(&driver_, Fault{kFaultFail, 2, 0, static_cast<int32_t>(0xE0000001), 0}));
    ASSERT_TRUE(DriverAddFault(&driver_, Fault{kFaultByteCount, 3, 0, 0, 1}));
    std::vector<uint8_t> out(2);
    EXPECT_EQ(Ioctl(board, IOCTL_WRITE_BYTE, U32({0x80, 0x55}), nullptr, &returned), kStatusSuccess);
    EXPECT_EQ(Ioctl(board, IOCTL_WRITE_BYTE, U32({0x80, 0x66}), nullptr, &returned), static_cast<int32_t>(0xE0000001));
    EXPECT_EQ(Ioctl(board, IOCTL_READ_WORD, U32({0x80}), &out, &returned), kStatusSuccess);
    EXPECT_EQ(returned, 1u) << "the injected byte count";
    EXPECT_EQ(out[0], 0x55) << "the failed write changed nothing";
    const TraceEntry* t = DriverTraceEntry(&driver_, 2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->code, IOCTL_WRITE_BYTE);
    EXPECT_EQ(t->port, 0x80u);
    EXPECT_EQ(t->status, static_cast<int32_t>(0xE0000001));
    EXPECT_EQ(DriverTraceEntry(&driver_, 4), nullptr);
    DriverClearFaults(&driver_);
    EXPECT_EQ(Ioctl(board, IOCTL_WRITE_BYTE, U32({0x80, 0x66}), nullptr, &returned), kStatusSuccess);
}

// Whatever a caller sends, the driver answers without reading or writing outside the buffers
// it was given (run under AddressSanitizer in the test run).
TEST_F(DriverTest, SurvivesArbitraryRequests) {
    std::mt19937 rng(1234);
    uint32_t open[3] = {Open(kDeviceControl), Open(0), Open(kDeviceVxd)};
    const uint32_t codes[] = {IOCTL_GET_DEVICE_COUNT, IOCTL_GET_DEVICE_INFO, IOCTL_SELECT_BOARD, IOCTL_READ_BYTE,
                              IOCTL_READ_WORD,        IOCTL_WRITE_BYTE,      IOCTL_WRITE_WORD,   0x222400};
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> in(rng() % 40);
        for (auto& b : in) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng() % 3);
        std::vector<uint8_t> out(rng() % 80);
        uint32_t returned = 0;
        uint32_t file = rng() % 4 == 0 ? rng() % (kFiles + 2) : open[rng() % 3];
        Ioctl(file, codes[rng() % 8], in, &out, &returned);
        ASSERT_LE(returned, out.size());
    }
}

// The private requests of the kernel driver come from user mode too: no input may make the
// decoder read or write past the buffers it was given.
TEST_F(DriverTest, PrivateRequestsSurviveArbitraryInput) {
    std::mt19937 rng(4321);
    SimClock clock;
    SimClockInit(&clock, 0);
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> in(rng() % 600);
        for (auto& b : in) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng() % 8);
        std::vector<uint8_t> out(rng() % 600);
        uint32_t code = TLMSIM_IOCTL_FIRST + 4 * (rng() % ((TLMSIM_IOCTL_LAST - TLMSIM_IOCTL_FIRST) / 4 + 2));
        uint32_t returned = 0;
        bool boardsChanged = false;
        SimControlRequest(&driver_, &clock, code, in.empty() ? nullptr : in.data(), static_cast<uint32_t>(in.size()),
                          out.empty() ? nullptr : out.data(), static_cast<uint32_t>(out.size()), &returned,
                          static_cast<uint64_t>(i) * 1000000, &boardsChanged);
        ASSERT_LE(returned, out.size()) << "code 0x" << std::hex << code;
        ASSERT_LE(driver_.boardCount, kMaxBoards);
    }
}

}  // namespace
