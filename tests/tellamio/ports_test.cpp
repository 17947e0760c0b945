// Port access: the requests each export sends, its result, its out-parameter and its
// last-error value.
#include <functional>

#include "fixture.h"

namespace {

using PortsTest = LibraryTest;

struct ByteRead {
    const char* name;
    std::function<BOOL(TLMIO_HANDLE, BYTE*)> call;
    DWORD port;
};

const ByteRead kByteReads[] = {
    {"status1Read axis 1", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_status1Read(h, 1, b); }, 0x10},
    {"status2Read axis 5", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_status2Read(h, 5, b); }, 0x51},
    {"intstatusRead axis 3", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_intstatusRead(h, 3, b); }, 0x32},
    {"ElstRead", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_ElstRead(h, b); }, 0x80},
    {"CmpcRead", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_CmpcRead(h, b); }, 0x88},
    {"INTRDRead", [](TLMIO_HANDLE h, BYTE* b) { return tlmio_INTRDRead(h, b); }, 0xBC},
};

TEST_F(PortsTest, ByteReadsSendOneReadAndStoreTheByte) {
    for (const ByteRead& r : kByteReads) {
        SCOPED_TRACE(r.name);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        ReplyToRequest(1, 0xA5);
        BYTE value = 0;
        EXPECT_EQ(r.call(h, &value), 1);
        EXPECT_EQ(value, 0xA5);
        EXPECT_EQ(Requests(), (std::vector<Request>{{READ_BYTE, r.port, 0xA5}}));
        TearDown();
    }
}

TEST_F(PortsTest, FailedByteReadsLeaveTheVariable) {
    for (const ByteRead& r : kByteReads) {
        for (bool shortReply : {false, true}) {
            SCOPED_TRACE(std::string(r.name) + (shortReply ? ", no byte returned" : ", request fails"));
            SetUp();
            TLMIO_HANDLE h = OpenFirstBoard();
            if (shortReply)
                ShortReplyToRequest(1, 0);
            else
                FailRequest(1);
            SetLastError(0x1234);
            BYTE value = 0x5A;
            EXPECT_EQ(r.call(h, &value), 0);
            EXPECT_EQ(value, 0x5A);
            EXPECT_EQ(GetLastError(), shortReply ? 0x1234u : ERROR_IO_DEVICE);
            TearDown();
        }
    }
}

struct ByteWrite {
    const char* name;
    std::function<BOOL(TLMIO_HANDLE)> call;
    Request sent;
};

const ByteWrite kByteWrites[] = {
    {"DousaWrite axis 1", [](TLMIO_HANDLE h) { return tlmio_DousaWrite(h, 1, 0x28); }, {WRITE_BYTE, 0x11, 0x28}},
    {"SeigyoWrite axis 4", [](TLMIO_HANDLE h) { return tlmio_SeigyoWrite(h, 4, 0x81); }, {WRITE_BYTE, 0x42, 0x81}},
    {"ElstWrite", [](TLMIO_HANDLE h) { return tlmio_ElstWrite(h, 0x3F); }, {WRITE_BYTE, 0x80, 0x3F}},
    {"CmpcWrite", [](TLMIO_HANDLE h) { return tlmio_CmpcWrite(h, 0x06); }, {WRITE_BYTE, 0x88, 0x06}},
    {"INTRst", [](TLMIO_HANDLE h) { return tlmio_INTRst(h); }, {WRITE_BYTE, 0xBE, 0xFF}},
    {"CmdWrite without data",
     [](TLMIO_HANDLE h) { return tlmio_CmdWrite(h, 2, 0x10, 0, 0xDEADBEEF); },
     {WRITE_BYTE, 0x20, 0x10}},
};

TEST_F(PortsTest, ByteWritesSendOneWrite) {
    for (const ByteWrite& w : kByteWrites) {
        SCOPED_TRACE(w.name);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        EXPECT_NE(w.call(h), 0);
        EXPECT_EQ(Requests(), (std::vector<Request>{w.sent}));
        TearDown();
    }
}

TEST_F(PortsTest, FailedByteWritesReportTheSystemsReason) {
    for (const ByteWrite& w : kByteWrites) {
        SCOPED_TRACE(w.name);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        FailRequest(1);
        EXPECT_EQ(w.call(h), 0);
        EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
        TearDown();
    }
}

TEST_F(PortsTest, UnknownHandleSendsNothingAndLeavesOutParameters) {
    OpenFirstBoard();
    const TLMIO_HANDLE unknown = 0xFFFF0002;
    BYTE b = 0x5A, id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DWORD v = 0x5A5A5A5A;
    struct Case {
        const char* what;
        BOOL result;
    } cases[] = {
        {"CloseDevice", tlmio_CloseDevice(unknown)},
        {"CmdWrite", tlmio_CmdWrite(unknown, 0, 0x0A, 1, 5)},
        {"DousaWrite", tlmio_DousaWrite(unknown, 0, 1)},
        {"SeigyoWrite", tlmio_SeigyoWrite(unknown, 0, 1)},
        {"status1Read", tlmio_status1Read(unknown, 0, &b)},
        {"status2Read", tlmio_status2Read(unknown, 0, &b)},
        {"intstatusRead", tlmio_intstatusRead(unknown, 0, &b)},
        {"regRead", tlmio_regRead(unknown, 0, 0x89, &v)},
        {"ElstWrite", tlmio_ElstWrite(unknown, 1)},
        {"ElstRead", tlmio_ElstRead(unknown, &b)},
        {"CmpcWrite", tlmio_CmpcWrite(unknown, 1)},
        {"CmpcRead", tlmio_CmpcRead(unknown, &b)},
        {"boardIDRead", tlmio_boardIDRead(unknown, &b)},
        {"IDNumberRead", tlmio_IDNumberRead(unknown, id)},
        {"INTRDRead", tlmio_INTRDRead(unknown, &b)},
        {"INTRst", tlmio_INTRst(unknown)},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, 0) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(LIBERR_HANDLE));
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(v, 0x5A5A5A5Au);
    EXPECT_EQ(id[0], 1);
    EXPECT_EQ(standin::OpenHandles(), 1u);
}

TEST_F(PortsTest, NullOutParametersFailWithoutRequests) {
    TLMIO_HANDLE h = OpenFirstBoard();
    struct Case {
        const char* what;
        BOOL result;
    } cases[] = {
        {"status1Read", tlmio_status1Read(h, 0, nullptr)},
        {"status2Read", tlmio_status2Read(h, 0, nullptr)},
        {"intstatusRead", tlmio_intstatusRead(h, 0, nullptr)},
        {"regRead", tlmio_regRead(h, 0, 0x89, nullptr)},
        {"ElstRead", tlmio_ElstRead(h, nullptr)},
        {"CmpcRead", tlmio_CmpcRead(h, nullptr)},
        {"boardIDRead", tlmio_boardIDRead(h, nullptr)},
        {"IDNumberRead", tlmio_IDNumberRead(h, nullptr)},
        {"INTRDRead", tlmio_INTRDRead(h, nullptr)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, 0) << c.what;
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(PortsTest, CmdWriteSendsTheDataWordsBeforeTheCommand) {
    TLMIO_HANDLE h = OpenFirstBoard();
    EXPECT_TRUE(tlmio_CmdWrite(h, 3, 0xC0, 1, 0x12345678));
    EXPECT_EQ(Requests(),
              (std::vector<Request>{{WRITE_WORD, 0x34, 0x5678}, {WRITE_WORD, 0x36, 0x1234}, {WRITE_BYTE, 0x30, 0xC0}}));
}

TEST_F(PortsTest, CmdWriteStopsAtTheFirstFailedWrite) {
    for (uint32_t failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE("request " + std::to_string(failing) + " fails");
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        FailRequest(failing);
        EXPECT_FALSE(tlmio_CmdWrite(h, 0, 0xC1, 1, 0x00020001));
        EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
        EXPECT_EQ(Requests().size(), failing) << "nothing is sent after the failure";
        TearDown();
    }
}

// The 0x0A rule: FL (through 0x81) against the current speed's low 15 bits (through 0x8C).
TEST_F(PortsTest, DeceleratingStopAtFlSpeedBecomesAnImmediateStop) {
    struct Case {
        const char* what;
        uint32_t fl;       // replies to the two word reads after 0x81, -1: the first read fails
        uint32_t current;  // after 0x8C
        BYTE sent;
    } cases[] = {
        {"running at FL", 500, 0x1234'81F4, 0x09},  // 0x81F4 & 0x7FFF = 500; the high word is ignored
        {"faster than FL", 500, 0x0000'03E8, 0x0A},
        {"FL has high bits", 0x0001'01F4, 0x0000'01F4, 0x0A},
        {"FL unreadable, current 0x0A", 0xFFFFFFFF, 0x0A, 0x09},
        {"FL unreadable, current 0x20", 0xFFFFFFFF, 0x20, 0x0A},
        {"both unreadable", 0xFFFFFFFF, 0xFFFFFFFF, 0x09},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        std::vector<Request> expected = {{WRITE_BYTE, 0x10, 0x81}};
        uint32_t n = 2;
        auto reads = [&](uint32_t value) {
            if (value == 0xFFFFFFFF) {
                FailRequest(n++);
                expected.push_back({READ_WORD, 0x14, 0});
                return;
            }
            ReplyToRequest(n++, value & 0xFFFF);
            ReplyToRequest(n++, value >> 16);
            expected.push_back({READ_WORD, 0x14, value & 0xFFFF});
            expected.push_back({READ_WORD, 0x16, value >> 16});
        };
        reads(c.fl);
        expected.push_back({WRITE_BYTE, 0x10, 0x8C});
        ++n;
        reads(c.current);
        expected.push_back({WRITE_BYTE, 0x10, c.sent});
        EXPECT_TRUE(tlmio_CmdWrite(h, 1, 0x0A, 0, 0));
        EXPECT_EQ(Requests(), expected);
        TearDown();
    }
}

TEST_F(PortsTest, DeceleratingStopWithDataChecksBetweenDataAndCommand) {
    TLMIO_HANDLE h = OpenFirstBoard();
    EXPECT_TRUE(tlmio_CmdWrite(h, 0, 0x0A, 1, 0x00070008));
    std::vector<Request> sent = Requests();
    ASSERT_EQ(sent.size(), 9u);
    EXPECT_EQ(sent[0], (Request{WRITE_WORD, 0x04, 0x0008}));
    EXPECT_EQ(sent[1], (Request{WRITE_WORD, 0x06, 0x0007}));
    EXPECT_EQ(sent[2], (Request{WRITE_BYTE, 0x00, 0x81}));
    EXPECT_EQ(sent[5], (Request{WRITE_BYTE, 0x00, 0x8C}));
    EXPECT_EQ(sent[8].port, 0x00u);
    EXPECT_EQ(sent[8].code, static_cast<DWORD>(WRITE_BYTE));
}

TEST_F(PortsTest, FailedRegisterReadCommandOfTheStopCheckFailsTheCall) {
    for (uint32_t failing : {1u, 4u}) {  // the 0x81 write, the 0x8C write
        SCOPED_TRACE(failing);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        FailRequest(failing);
        EXPECT_FALSE(tlmio_CmdWrite(h, 0, 0x0A, 0, 0));
        EXPECT_EQ(Requests().size(), failing);
        TearDown();
    }
}

TEST_F(PortsTest, RegReadWritesTheCommandThenReadsLowAndHighWords) {
    TLMIO_HANDLE h = OpenFirstBoard();
    ReplyToRequest(2, 0xBEEF);
    ReplyToRequest(3, 0xDEAD);
    DWORD value = 0;
    EXPECT_EQ(tlmio_regRead(h, 2, 0x89, &value), 1);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(Requests(),
              (std::vector<Request>{{WRITE_BYTE, 0x20, 0x89}, {READ_WORD, 0x24, 0xBEEF}, {READ_WORD, 0x26, 0xDEAD}}));
}

TEST_F(PortsTest, FailedRegReadLeavesTheVariable) {
    struct Case {
        const char* what;
        std::function<void(LibraryTest*)> arrange;
        DWORD error;
    };
    const DWORD kUnchanged = 0x1234;
    Case cases[] = {
        {"command write fails", [](LibraryTest* t) { t->FailRequest(1); }, ERROR_IO_DEVICE},
        {"low word fails", [](LibraryTest* t) { t->FailRequest(2); }, ERROR_IO_DEVICE},
        {"high word fails", [](LibraryTest* t) { t->FailRequest(3); }, ERROR_IO_DEVICE},
        {"low word one byte", [](LibraryTest* t) { t->ShortReplyToRequest(2, 1); }, kUnchanged},
        {"high word one byte", [](LibraryTest* t) { t->ShortReplyToRequest(3, 1); }, kUnchanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        c.arrange(this);
        SetLastError(kUnchanged);
        DWORD value = 0x5A5A5A5A;
        EXPECT_EQ(tlmio_regRead(h, 0, 0x89, &value), 0);
        EXPECT_EQ(value, 0x5A5A5A5Au);
        EXPECT_EQ(GetLastError(), c.error);
        TearDown();
    }
}

// All eight bytes or none: the buffer is written only when every read brought its byte.
TEST_F(PortsTest, IdNumberReadIsAllOrNothing) {
    struct Case {
        const char* what;
        uint32_t failing;     // request that fails, 0: none
        uint32_t shortReply;  // request answered with 0 bytes, 0: none
        size_t requests;      // requests sent
        DWORD error;          // last error of a failed call
    } cases[] = {
        {"all eight", 0, 0, 8, 0},
        {"first fails", 1, 0, 1, ERROR_IO_DEVICE},
        {"last fails", 8, 0, 8, ERROR_IO_DEVICE},
        {"fifth returns no byte", 0, 5, 5, 0x1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        TLMIO_HANDLE h = OpenFirstBoard();
        if (c.failing) FailRequest(c.failing);
        if (c.shortReply) ShortReplyToRequest(c.shortReply, 0);
        for (uint32_t n = 1; n <= 8; ++n)
            if (n != c.failing && n != c.shortReply) ReplyToRequest(n, 0x30 + n);
        std::vector<BYTE> id(8, 0xEE);
        SetLastError(0x1234);
        bool whole = !c.failing && !c.shortReply;
        EXPECT_EQ(tlmio_IDNumberRead(h, id.data()), whole ? 1 : 0);
        EXPECT_EQ(id, whole ? (std::vector<BYTE>{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38})
                            : std::vector<BYTE>(8, 0xEE));
        if (!whole) EXPECT_EQ(GetLastError(), c.error);
        std::vector<Request> sent = Requests();
        ASSERT_EQ(sent.size(), c.requests);
        for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].port, 0xC0 + 2 * i);
        TearDown();
    }
}

TEST_F(PortsTest, BoardIdIsTheLowNibble) {
    TLMIO_HANDLE h = OpenFirstBoard();
    ReplyToRequest(1, 0xA7);
    BYTE id = 0;
    EXPECT_EQ(tlmio_boardIDRead(h, &id), 1);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(Requests(), (std::vector<Request>{{READ_BYTE, 0x9C, 0xA7}}));
}

// Axes 0 to 7 reach their blocks; from axis 8 on a block would lie on the board-wide ports
// (axis 8's command port is the limit-switch register), so the call is refused unsent.
TEST_F(PortsTest, AxesPastTheAxisBlocksAreRefused) {
    BYTE b = 0x5A;
    DWORD v = 0x5A5A5A5A;
    struct Case {
        const char* what;
        std::function<BOOL(TLMIO_HANDLE, WORD)> call;
        DWORD port;  // block offset of the (last) request
    } cases[] = {
        {"CmdWrite", [](TLMIO_HANDLE h, WORD a) { return tlmio_CmdWrite(h, a, 0x40, 0, 0); }, 0},
        {"DousaWrite", [](TLMIO_HANDLE h, WORD a) { return tlmio_DousaWrite(h, a, 0x28); }, 1},
        {"SeigyoWrite", [](TLMIO_HANDLE h, WORD a) { return tlmio_SeigyoWrite(h, a, 0x00); }, 2},
        {"status1Read", [&](TLMIO_HANDLE h, WORD a) { return tlmio_status1Read(h, a, &b); }, 0},
        {"status2Read", [&](TLMIO_HANDLE h, WORD a) { return tlmio_status2Read(h, a, &b); }, 1},
        {"intstatusRead", [&](TLMIO_HANDLE h, WORD a) { return tlmio_intstatusRead(h, a, &b); }, 2},
        {"regRead", [&](TLMIO_HANDLE h, WORD a) { return tlmio_regRead(h, a, 0x89, &v); }, 6},
    };
    TLMIO_HANDLE h = OpenFirstBoard();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetRequests();
        EXPECT_NE(c.call(h, 7), 0) << "axis 7 answers on the board model";
        ASSERT_FALSE(Requests().empty());
        EXPECT_EQ(Requests().back().port, 0x70 + c.port);
        for (WORD axis : {8, 0x10, 0xFFFF}) {
            ForgetRequests();
            b = 0x5A;
            v = 0x5A5A5A5A;
            SetLastError(0);
            EXPECT_EQ(c.call(h, axis), 0) << "axis " << axis;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "axis " << axis;
            EXPECT_TRUE(Requests().empty()) << "axis " << axis;
            EXPECT_EQ(b, 0x5A);
            EXPECT_EQ(v, 0x5A5A5A5Au);
        }
    }
}

}  // namespace
