// tlmsimctl's command-line words, natively: for each parser a table of what was given and
// what it should make of it, as text ("refused" when it does not take the text; a refusal
// that still wrote its result says so).
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <sstream>
#include <string>

#include "parse.h"
#include "simhost.h"
#include "tellam_protocol.h"

namespace {

struct Case {
    const char* given;
    const char* want;
};

void Check(const char* parser, std::initializer_list<Case> cases,
           const std::function<std::string(const char*)>& parse) {
    for (const Case& c : cases) {
        std::string got = parse(c.given);
        EXPECT_TRUE(got == c.want) << parser << "('" << c.given << "'): expected " << c.want << ", got " << got;
    }
}

template <typename T> std::string Said(bool ok, T value, T before) {
    if (!ok && value == before) return "refused";
    std::ostringstream text;
    text << (ok ? "" : "refused, but wrote ") << +value;
    return text.str();
}

// A parser of one number-like result, T set to `before` ahead of each call.
template <typename T> std::function<std::string(const char*)> Of(bool (*parse)(const char*, T*), T before) {
    return [=](const char* text) {
        T v = before;
        bool ok = parse(text, &v);
        return Said(ok, v, before);
    };
}

std::string ZoneText(const TlmSimZone& z) {
    if (z.from > z.to) return "none";
    return (z.from == INT32_MIN ? "" : std::to_string(z.from)) + ".." + (z.to == INT32_MAX ? "" : std::to_string(z.to));
}

TEST(Parse, BoardsAxesAndInputs) {
    Check("ParseBoard",
          {{"0", "0"},
           {"9999", "9999"},
           {"0x10", "16"},
           {"10000", "refused"},
           {"-1", "refused"},
           {"", "refused"},
           {"5x", "refused"},
           {" 5", "refused"}},
          Of(ParseBoard, (int32_t)-7));
    auto axis = [](const char* text) {
        uint32_t a = 99;
        bool ok = ParseAxis(text, &a);
        return ok ? std::string(1, AxisName(a)) : Said(ok, a, 99u);
    };
    Check("ParseAxis",
          {{"X", "X"},
           {"x", "X"},
           {"w", "W"},
           {"0", "X"},
           {"5", "W"},
           {"6", "refused"},
           {"XY", "refused"},
           {"", "refused"},
           {"G", "refused"},
           {"0x0", "refused"}},
          axis);
    auto input = [](const char* text) {
        uint32_t i = 99;
        bool ok = ParseInputName(text, &i);
        return ok ? std::string(InputName(i)) : Said(ok, i, 99u);
    };
    Check("ParseInputName",
          {{"+ELS", "+ELS"},
           {"-els", "-ELS"},
           {"Svalm", "SVALM"},
           {"z", "Z"},
           {"inpos", "INPOS"},
           {"ELS", "refused"},
           {"+ELS ", "refused"},
           {"", "refused"}},
          input);
    Check("ParseForce", {{"on", "1"}, {"OFF", "2"}, {"Follow", "0"}, {"maybe", "refused"}, {"", "refused"}},
          Of(ParseForce, 99u));
    Check("ParseOnOff", {{"On", "1"}, {"off", "0"}, {"follow", "refused"}, {"1", "refused"}}, Of(ParseOnOff, 99u));
    Check("ParsePosition",
          {{"9007199254740992", "9007199254740992"},
           {"-9007199254740992", "-9007199254740992"},
           {"9007199254740993", "refused"},
           {"1e5", "refused"},
           {"99999999999999999999", "refused"}},
          Of(ParsePosition, (int64_t)7));
}

TEST(Parse, Zones) {
    auto zone = [](const char* text) {
        TlmSimZone z = {7, 7};
        bool ok = ParseZone(text, strlen(text), &z);
        if (!ok) return std::string(z.from == 7 && z.to == 7 ? "refused" : "refused, but wrote " + ZoneText(z));
        return ZoneText(z);
    };
    Check("ParseZone",
          {{"190000..", "190000.."},
           {"..-190000", "..-190000"},
           {"-5..5", "-5..5"},
           {"5..5", "5..5"},
           {"0x10..0x20", "16..32"},
           {"none", "none"},
           {"NONE", "none"},
           {"-2147483647..", "-2147483647.."},
           {"..2147483646", "..2147483646"},
           {"5..1", "refused"},
           {"..", "refused"},
           {"", "refused"},
           {"nonex", "refused"},
           {"5", "refused"},
           {"1...2", "refused"},
           {"1..2..3", "refused"},
           {"a..b", "refused"},
           {"2147483647..", "refused"},
           {"-2147483648..", "refused"},
           {"..2147483647", "refused"}},
          zone);
    TlmSimZone z = {7, 7};
    EXPECT_TRUE(ParseZone("1..2,3..4", 4, &z) && z.from == 1 && z.to == 2)
        << "the first 4 characters of '1..2,3..4': expected 1..2, got " << ZoneText(z);
}

// The record's fields that differ from a record with every zone and the Z mark none.
std::string SensorsText(const TlmSimSetSensors& s) {
    std::string t;
    if (s.plusEls.from <= s.plusEls.to) t += " +ELS=" + ZoneText(s.plusEls);
    if (s.minusEls.from <= s.minusEls.to) t += " -ELS=" + ZoneText(s.minusEls);
    if (s.dls[0].from <= s.dls[0].to || s.dls[1].from <= s.dls[1].to)
        t += " DLS=" + ZoneText(s.dls[0]) + (s.dls[1].from <= s.dls[1].to ? "," + ZoneText(s.dls[1]) : "");
    if (s.ols.from <= s.ols.to) t += " OLS=" + ZoneText(s.ols);
    if (s.zPeriod != 0)
        t += " Z=" + std::to_string(s.zPeriod) + "/" + std::to_string(s.zOffset) + "/" + std::to_string(s.zWidth);
    std::string open;
    for (uint32_t i = 0; i < TLMSIM_INPUT_COUNT; ++i)
        if (s.normallyOpen & (1u << i)) open += (open.empty() ? "" : ",") + std::string(InputName(i));
    if (!open.empty()) t += " normally-open=" + open;
    return t.empty() ? "unchanged" : t.substr(1);
}

TEST(Parse, SensorSettingsAppliedInTurn) {
    // Each case is the settings of one command line.
    auto settings = [](const char* line) {
        TlmSimSetSensors s = {};
        s.plusEls = s.minusEls = s.dls[0] = s.dls[1] = s.ols = TlmSimZone{1, 0};
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            TlmSimSetSensors before = s;
            if (!ApplySensorSetting(word.c_str(), &s))
                return "refused " + word + (memcmp(&before, &s, sizeof s) ? ", but changed " + SensorsText(s) : "");
        }
        return SensorsText(s);
    };
    Check("ApplySensorSetting",
          {{"+ELS=190000.. -els=..-190000", "+ELS=190000.. -ELS=..-190000"},
           {"OLS=-10..10 ols=none", "unchanged"},
           {"DLS=1..2,3..4", "DLS=1..2,3..4"},
           {"DLS=1..2,3..4 DLS=5..6", "DLS=5..6"},
           {"DLS=none,3..4", "DLS=none,3..4"},
           {"DLS=1..2,3..4 DLS=1..2,3..4,5..6", "refused DLS=1..2,3..4,5..6"},
           {"DLS=1..2, ", "refused DLS=1..2,"},
           {"Z=1000", "Z=1000/0/1"},
           {"Z=1000/-5/1000", "Z=1000/-5/1000"},
           {"Z=1000 z=NONE", "unchanged"},
           {"Z=1000/0/1001", "refused Z=1000/0/1001"},
           {"Z=0", "refused Z=0"},
           {"Z=10/", "refused Z=10/"},
           {"Z=10/1/2/3", "refused Z=10/1/2/3"},
           {"normally-open=+ELS,dls", "normally-open=+ELS,DLS"},
           {"normally-open=,+ELS,,dls,", "normally-open=+ELS,DLS"},
           {"normally-open=svalm normally-open=None", "unchanged"},
           {"normally-open=Z", "refused normally-open=Z"},
           {"normally-open=+ELS,FOO", "refused normally-open=+ELS,FOO"},
           {"+ELS", "refused +ELS"},
           {"=1..2", "refused =1..2"},
           {"+ELS=", "refused +ELS="},
           {"+ELS=5..1", "refused +ELS=5..1"},
           {"FOO=1..2", "refused FOO=1..2"}},
          settings);
}

TEST(Parse, Durations) {
    Check("ParseDuration",
          {{"250ms", "250000000"},
           {"1.5s", "1500000000"},
           {"100us", "100000"},
           {"0.5min", "30000000000"},
           {"2MIN", "120000000000"},
           {"1ns", "1"},
           {"1.5ns", "1"},
           {".5s", "500000000"},
           {"0s", "0"},
           {"1.123456789s", "1123456789"},
           {"1.1234567891s", "1123456789"},
           {"18446744073.709551615s", "18446744073709551615"},
           {"18446744073.709551616s", "refused"},
           {"20000000000s", "refused"},
           {"5", "refused"},
           {"", "refused"},
           {"s", "refused"},
           {".s", "refused"},
           {"-1s", "refused"},
           {"1 s", "refused"},
           {"1.5.5s", "refused"},
           {"1e3ms", "refused"},
           {"1h", "refused"}},
          Of(ParseDuration, (uint64_t)7));
    Check("ParseClockOp",
          {{"show", "0"},
           {"FREEZE", "1"},
           {"run", "2"},
           {"Advance", "3"},
           {"scale", "4"},
           {"virtual", "5"},
           {"stop", "refused"}},
          Of(ParseClockOp, 99u));
    // Scales in thousandths, as the clock request carries them.
    Check("ParseClockScale",
          {{"1", "1000"},
           {"10", "10000"},
           {"0.5", "500"},
           {".25", "250"},
           {"0.01", "10"},
           {"10000", "10000000"},
           {"2.125", "2125"},
           {"0.009", "refused"},
           {"10000.001", "refused"},
           {"1.0005", "refused"},
           {"99999999999999999999", "refused"},
           {"", "refused"},
           {".", "refused"},
           {"-1", "refused"},
           {"1e3", "refused"},
           {"1.2.3", "refused"}},
          Of(ParseClockScale, 7u));
    auto setting = [](const char* text) {
        uint32_t op = 99, scale = 99;
        return ParseClockSetting(text, &op, &scale) ? std::to_string(op) + " " + std::to_string(scale) : "refused";
    };
    Check("ParseClockSetting",
          {{"real", "2 1000"},
           {"Virtual", "5 1000"},
           {"x10", "4 10000"},
           {"X0.5", "4 500"},
           {"x", "refused"},
           {"10", "refused"},
           {"fast", "refused"}},
          setting);
}

TEST(Parse, RequestsAndFaults) {
    auto request = [](const char* text) {
        uint32_t code = 7, number = 7;
        bool ok = ParseRequest(text, &code, &number);
        char t[48];
        snprintf(t, sizeof t, "%s0x%X #%u", ok ? "" : "refused, but wrote ", code, number);
        return !ok && code == 7 && number == 7 ? std::string("refused") : std::string(t);
    };
    Check("ParseRequest",
          {{"READ_BYTE", "0x22200C #0"},
           {"read-byte", "0x22200C #0"},
           {"Get-Device_Info", "0x222004 #0"},
           {"GET_DEVICE_COUNT", "0x222000 #0"},
           {"write_word", "0x222018 #0"},
           {"#4", "0x0 #4"},
           {"4", "0x0 #4"},
           {"#4294967295", "0x0 #4294967295"},
           {"#4294967296", "refused"},
           {"#0", "refused"},
           {"0", "refused"},
           {"#", "refused"},
           {"", "refused"},
           {"#-1", "refused"},
           {"WRITE_TWICE", "refused"},
           {"READ BYTE", "refused"},
           {"READ_BYTES", "refused"},
           {"##4", "refused"}},
          request);
    EXPECT_EQ(0x22200Cu, IOCTL_READ_BYTE) << "the codes above are tellam_protocol.h's";
    Check("ParseRequestNumber", {{"1", "1"}, {"4294967295", "4294967295"}, {"0", "refused"}, {"#1", "refused"}},
          Of(ParseRequestNumber, 7u));
    Check("ParseFaultKind", {{"fail", "1"}, {"BYTES", "2"}, {"records", "3"}, {"Reply", "4"}, {"bogus", "refused"}},
          Of(ParseFaultKind, 99u));
    Check("FaultValueLimit", {{"bytes", "4096"}, {"records", "1000"}, {"reply", "65535"}}, [](const char* kind) {
        uint32_t k = 0;
        return ParseFaultKind(kind, &k) ? std::to_string(FaultValueLimit(k)) : "not a kind";
    });
    Check("ParseFaultStatus",
          {{"0xC0000185", "-1073741435"},
           {"0xC0000000", "-1073741824"},
           {"3221225472", "-1073741824"},
           {"0xFFFFFFFF", "-1"},
           {"0xBFFFFFFF", "refused"},
           {"0x100000000", "refused"},
           {"0", "refused"},
           {"-1", "refused"}},
          Of(ParseFaultStatus, (int32_t)7));
    Check("ParseProcessId",
          {{"1", "1"}, {"4294967295", "4294967295"}, {"0", "refused"}, {"4294967296", "refused"}, {"x", "refused"}},
          Of(ParseProcessId, 7u));
}

}  // namespace
