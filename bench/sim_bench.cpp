// Requests per second of the board model: port accesses straight on the board, and the same
// accesses as driver requests (what tlmsim.sys and the native kernel32 stand-in answer).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "driver.h"

using namespace tlmsim;

namespace {

constexpr uint64_t kStepNs = 100000;  // the clock moves 0.1 ms between requests

void WriteRegister(Board* b, uint32_t axis, uint32_t r, uint32_t v, uint64_t t) {
    BoardWriteWord(b, axis * 16 + 4, static_cast<uint16_t>(v), t);
    BoardWriteWord(b, axis * 16 + 6, static_cast<uint16_t>(v >> 16), t);
    BoardWriteByte(b, axis * 16, static_cast<uint8_t>(0xC0 + r), t);
}

// A board whose axes have no limits or slow-down dogs, so that feeds run for ever.
void ResetOpenBoard(Board* b) {
    BoardConfig config = DefaultBoardConfig(0);
    for (AxisSensors& s : config.sensors) s.plusEls = s.minusEls = s.dls[0] = s.dls[1] = {1, 0};
    BoardReset(b, &config, 0);
}

// Every axis in a high-speed continuous feed.
void StartAxes(Board* b, uint64_t t) {
    for (uint32_t a = 0; a < 6; ++a) {
        WriteRegister(b, a, 1, 500, t);
        WriteRegister(b, a, 2, 5000 + 1000 * a, t);
        WriteRegister(b, a, 3, 100, t);
        BoardWriteByte(b, a * 16 + 1, (a & 1) ? 0x30 : 0x20, t);
        BoardWriteByte(b, a * 16, 0x13, t);
    }
}

// The monitor's poll of a moving axis (register read: command byte, two word reads; then
// status 1), round the six axes, with the clock moving state.range(0) ns per poll. Every
// second of virtual time the axes get a decelerating stop or a restart, so they spend much
// of the time ramping.
void BM_BoardPollMovingAxes(benchmark::State& state) {
    static Board board;
    ResetOpenBoard(&board);
    const uint64_t step = static_cast<uint64_t>(state.range(0));
    uint64_t t = 0, toggled = 0;
    bool running = true;
    StartAxes(&board, t);
    uint32_t i = 0;
    for (auto _ : state) {
        t += step;
        uint32_t axis = i++ % 6;
        BoardWriteByte(&board, axis * 16, 0x89, t);
        benchmark::DoNotOptimize(BoardReadWord(&board, axis * 16 + 4, t));
        benchmark::DoNotOptimize(BoardReadWord(&board, axis * 16 + 6, t));
        benchmark::DoNotOptimize(BoardReadByte(&board, axis * 16, t));
        if (t - toggled >= 1000000000ull) {
            toggled = t;
            running = !running;
            if (running)
                StartAxes(&board, t);
            else
                for (uint32_t a = 0; a < 6; ++a) BoardWriteByte(&board, a * 16, 0x0A, t);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4);  // port requests
    state.counters["virtual_s"] = static_cast<double>(t) / 1e9;
    state.counters["position_x"] = static_cast<double>(BoardMachinePosition(&board, 0, t));
}
BENCHMARK(BM_BoardPollMovingAxes)->Arg(100000)->Arg(100000000);

void BM_BoardIdleRegisterRead(benchmark::State& state) {
    static Board board;
    BoardConfig config = DefaultBoardConfig(0);
    BoardReset(&board, &config, 0);
    uint64_t t = 0;
    for (auto _ : state) {
        t += kStepNs;
        BoardWriteByte(&board, 0, 0x86, t);
        benchmark::DoNotOptimize(BoardReadWord(&board, 4, t));
        benchmark::DoNotOptimize(BoardReadWord(&board, 6, t));
    }
    state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_BoardIdleRegisterRead);

// The whole request path of the model: control code, buffers, trace, board.
void BM_DriverRequestsMovingAxes(benchmark::State& state) {
    static Driver driver;
    static File files[4];
    DriverInit(&driver, files, 4, 0);
    uint32_t file = 0;
    if (DriverOpen(&driver, 0, &file) != kStatusSuccess) {
        state.SkipWithError("cannot open board 0");
        return;
    }
    DeviceInfo info = driver.boards[0].config.info;
    uint32_t returned = 0;
    uint32_t probe = 0x9C;
    uint8_t id = 0;
    if (DriverIoctl(&driver, file, IOCTL_SELECT_BOARD, &info, sizeof info, nullptr, 0, &returned, 0) !=
            kStatusSuccess ||
        DriverIoctl(&driver, file, IOCTL_READ_BYTE, &probe, sizeof probe, &id, 1, &returned, 0) != kStatusSuccess) {
        state.SkipWithError("cannot select board 0");
        return;
    }
    uint64_t t = 0;
    ResetOpenBoard(&driver.boards[0]);
    StartAxes(&driver.boards[0], t);
    uint32_t i = 0;
    for (auto _ : state) {
        t += kStepNs;
        uint32_t axis = i++ % 6;
        uint32_t write[2] = {axis * 16, 0x89};
        uint32_t read = axis * 16 + 4;
        uint16_t word = 0;
        uint8_t byte = 0;
        DriverIoctl(&driver, file, IOCTL_WRITE_BYTE, write, sizeof write, nullptr, 0, &returned, t);
        DriverIoctl(&driver, file, IOCTL_READ_WORD, &read, sizeof read, &word, sizeof word, &returned, t);
        read += 2;
        DriverIoctl(&driver, file, IOCTL_READ_WORD, &read, sizeof read, &word, sizeof word, &returned, t);
        read = axis * 16;
        DriverIoctl(&driver, file, IOCTL_READ_BYTE, &read, sizeof read, &byte, sizeof byte, &returned, t);
        benchmark::DoNotOptimize(word);
        benchmark::DoNotOptimize(byte);
    }
    if (!(BoardReadByte(&driver.boards[0], 0, t) & 0x04)) state.SkipWithError("axis 0 stopped");
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_DriverRequestsMovingAxes);

}  // namespace
