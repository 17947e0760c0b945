#include "fixture.h"

#include <stdlib.h>

#include <iomanip>

extern "C" void* __real_malloc(size_t size);

namespace {
int g_mallocSkip = 0;
int g_mallocFailures = 0;
}  // namespace

extern "C" void* __wrap_malloc(size_t size) {
    if (g_mallocFailures > 0) {
        if (g_mallocSkip > 0) {
            --g_mallocSkip;
        } else {
            --g_mallocFailures;
            return nullptr;
        }
    }
    return __real_malloc(size);
}

void FailMallocAfter(int skip, int count) {
    g_mallocSkip = skip;
    g_mallocFailures = count;
}

void PrintTo(const Request& r, std::ostream* os) {
    *os << std::hex << "{code 0x" << r.code << ", port 0x" << r.port << ", value 0x" << r.value << "}";
}

void LibraryTest::SetUp() {
    FailMallocAfter(0, 0);
    standin::Reset();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
}

void LibraryTest::TearDown() {
    FailMallocAfter(0, 0);
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

void LibraryTest::SetBoards(const std::vector<tlmsim::BoardConfig>& boards) {
    tlmsim::DriverSetBoards(&standin::Driver(), boards.data(), static_cast<uint32_t>(boards.size()), 0);
}

tlmsim::BoardConfig LibraryTest::Board(LONG bus, LONG device, LONG io, LONG irq, LONG management, LONG boardId) {
    tlmsim::BoardConfig c = tlmsim::DefaultBoardConfig(management);
    c.info = tlmsim::DeviceInfo{bus, device, io, irq, management, boardId};
    return c;
}

TLMIO_HANDLE LibraryTest::OpenFirstBoard() {
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    TLMIO_HANDLE h = tlmio_OpenDevice(&d);
    EXPECT_NE(h, TLMIO_INVALID_HANDLE) << "opening board 0 failed with " << GetLastError();
    ForgetRequests();
    return h;
}

std::vector<Request> LibraryTest::Requests() const {
    std::vector<Request> out;
    const tlmsim::Driver& driver = standin::Driver();
    for (uint32_t seq = 1; seq <= driver.requestCount; ++seq) {
        const tlmsim::TraceEntry* t = tlmsim::DriverTraceEntry(&driver, seq);
        out.push_back(Request{t->code, t->port, t->value});
    }
    return out;
}

void LibraryTest::ForgetRequests() { tlmsim::DriverResetTrace(&standin::Driver()); }

void LibraryTest::FailRequest(uint32_t n, DWORD status) {
    tlmsim::DriverAddFault(&standin::Driver(),
                           tlmsim::Fault{tlmsim::kFaultFail, n, 0, static_cast<int32_t>(status), 0});
}

void LibraryTest::ReplyToRequest(uint32_t n, uint32_t value) {
    tlmsim::DriverAddFault(&standin::Driver(), tlmsim::Fault{tlmsim::kFaultReply, n, 0, 0, value});
}

void LibraryTest::ShortReplyToRequest(uint32_t n, uint32_t bytes) {
    tlmsim::DriverAddFault(&standin::Driver(), tlmsim::Fault{tlmsim::kFaultByteCount, n, 0, 0, bytes});
}

std::vector<std::string> LibraryTest::OpenedNames() const {
    std::vector<std::string> names;
    for (const auto& call : standin::CreateFileCalls()) names.push_back(call.name);
    return names;
}
