// A fresh process for each test: the stand-in reset, the library attached, and helpers to
// read back what reached the driver.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "request_codes.h"
#include "standin.h"
#include "tellamio.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

constexpr DWORD STATUS_IO_DEVICE_ERROR = 0xC0000185;
constexpr DWORD ERROR_IO_DEVICE = 1117;  // what Windows reports for STATUS_IO_DEVICE_ERROR

// One request as the driver saw it: code, port offset (or the trace's other use of it), value.
struct Request {
    DWORD code;
    DWORD port;
    DWORD value;
    bool operator==(const Request& o) const { return code == o.code && port == o.port && value == o.value; }
};
void PrintTo(const Request& r, std::ostream* os);

// The next malloc calls fail: after `skip` successful ones, `count` fail.
void FailMallocAfter(int skip, int count = 1);

class LibraryTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Replaces the driver's boards.
    void SetBoards(const std::vector<tlmsim::BoardConfig>& boards);
    // A six-axis board description with chosen fields.
    static tlmsim::BoardConfig Board(LONG bus, LONG device, LONG io, LONG irq, LONG management, LONG boardId);
    // Opens board 0 by management number and forgets the requests that took.
    TLMIO_HANDLE OpenFirstBoard();
    // Requests since the last ForgetRequests (or the start of the test).
    std::vector<Request> Requests() const;
    void ForgetRequests();
    // Fault on the n-th request after ForgetRequests.
    void FailRequest(uint32_t n, DWORD status = STATUS_IO_DEVICE_ERROR);
    void ReplyToRequest(uint32_t n, uint32_t value);
    void ShortReplyToRequest(uint32_t n, uint32_t bytes);
    std::vector<std::string> OpenedNames() const;
};
