// The real tlmremove.exe under Wine, for every class of Windows version: what it shows,
// what it asks for at the end, and exactly which files, keys and devices it takes away.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "prefix.h"
#include "remover.h"

namespace {

// The boxes the program shows: string id, text and style.
struct ExpectedBox {
    int id;
    const char* text;  // UTF-8
    unsigned style;
};

const char CAPTION[] = u8"Tellam ｱﾝｲﾝｽﾄｰﾗ";
const ExpectedBox BOX_CONFIRM = {101, u8"Tellam ﾄﾞﾗｲﾊﾞ を ｼｽﾃﾑ から削除します。\nよろしいですか？", 0x31};
const ExpectedBox BOX_COMPLETED = {
    102, u8"ﾄﾞﾗｲﾊﾞ の ｱﾝｲﾝｽﾄｰﾙ が完了しました。\nシステム の再起動をします。よろしいですか?", 0x40};
const ExpectedBox BOX_BAD_OS = {103, u8"ﾄﾞﾗｲﾊﾞ の ｱﾝｲﾝｽﾄｰﾙ に失敗しました。\n稼動OSが認識出来ません。", 0x10};
const ExpectedBox BOX_FAILED = {106, u8"ﾄﾞﾗｲﾊﾞ の ｱﾝｲﾝｽﾄｰﾙ に失敗しました。", 0x10};
const ExpectedBox BOX_NEED_64BIT = {
    107, u8"64ﾋﾞｯﾄ版 Windows では 64ﾋﾞｯﾄ版 の tlmremove.exe を実行してください。\n何も削除していません。", 0x10};

const int ID_OK = 1;
const int ID_CANCEL = 2;

const std::vector<std::string> NT5_SERVICES = {"svc.1.w2k", "svc.2.w2k", "svc.1.wxp",
                                               "svc.2.wxp", "svc.1.wdm", "svc.2.wdm"};
const std::vector<std::string> BOARD_DEVICES = {"dev.board", "dev.multi"};
const std::vector<std::string> NT5_FILES = {"w2k.sys", "wxp.sys", "wdm.sys", "dll"};
const std::vector<std::string> NT4_REMOVED = {"nt4.enum",     "nt4.security", "nt4.service",
                                              "nt4.eventlog", "nt4.sys",      "dll"};
const std::vector<std::string> OEM_FIRST = {"oem.match1", "oem.match1.pnf"};
const std::vector<std::string> OEM_DECOYS = {"oem.long", "oem.case", "oem.utf16", "oem.split", "oem.trail"};

// OS classes as the program sees them.
enum OsClass { WIN95, WIN98, NT4, W2K, WXP, VISTA, OTHER };

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<std::string> Without(std::vector<std::string> labels, const std::vector<std::string>& drop) {
    labels.erase(
        std::remove_if(labels.begin(), labels.end(),
                       [&](const std::string& l) { return std::find(drop.begin(), drop.end(), l) != drop.end(); }),
        labels.end());
    return labels;
}

std::string Describe(const std::set<std::string>& entries) {
    std::string s;
    for (const std::string& e : entries) s += "\n    " + e;
    return s.empty() ? " (none)" : s;
}

std::string DescribeBoxes(const RemoverRun& run) {
    std::string s;
    for (const RecordedBox& b : run.boxes)
        s += "\n    style " + std::to_string(b.style) + " answer " + std::to_string(b.answer) + ": " + ToUtf8(b.text);
    return s.empty() ? " (none)" : s;
}

void ExpectBoxes(const RemoverRun& run, const std::vector<ExpectedBox>& expected) {
    ASSERT_EQ(expected.size(), run.boxes.size()) << "boxes shown:" << DescribeBoxes(run);
    std::wstring caption = FromCodePage(CP_UTF8, CAPTION);
    for (size_t i = 0; i < expected.size(); ++i) {
        const RecordedBox& got = run.boxes[i];
        std::wstring text = FromCodePage(CP_UTF8, expected[i].text);
        EXPECT_EQ(ToUtf8(text), ToUtf8(got.text)) << "text of box " << i << " (string " << expected[i].id << ")";
        EXPECT_EQ(ToUtf8(caption), ToUtf8(got.caption)) << "caption of box " << i;
        EXPECT_EQ(expected[i].style, got.style) << "style of box " << i << " (string " << expected[i].id << ")";
        EXPECT_EQ(std::string(2 * sizeof(HWND), '0'), got.owner) << "owner of box " << i;
    }
}

bool LoadedSetupApi(const RemoverRun& run) {
    for (const std::string& name : run.loadedLibraries)
        if (lstrcmpiA(name.c_str(), "SETUPAPI.DLL") == 0 || lstrcmpiA(name.c_str(), "setupapi") == 0) return true;
    return false;
}

std::string Describe(const std::vector<std::string>& list) {
    std::string s;
    for (const std::string& e : list) s += " " + e;
    return s.empty() ? " (none)" : s;
}

std::vector<std::string> Upper(std::vector<std::string> list) {
    for (std::string& s : list) CharUpperBuffA(&s[0], (DWORD)s.size());
    return list;
}

class RemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(932u, GetACP()) << "the suite needs the Japanese code page (LANG=ja_JP.UTF-8)";
        CleanArtefacts();
    }
    void TearDown() override { CleanArtefacts(); }

    // Runs the program on the seeded prefix as the given Windows version; the snapshots before
    // and after tell what it removed.
    RemoverRun Run(const std::string& wineVersion, const RemoverOptions& options,
                   void (*onStarted)(unsigned long, void*) = nullptr, void* context = nullptr) {
        before_ = TakeSnapshot();
        // The version is read when the process initialises; the value goes again before the
        // program's main thread runs, so that nothing else in the session sees it.
        SetWineVersion(wineVersion);
        RemoverRun run = RunRemover(options, onStarted, context, [] { SetWineVersion(""); });
        SetWineVersion("");
        after_ = TakeSnapshot();
        EXPECT_TRUE(run.finished) << "tlmremove.exe did not end; record:\n" << run.log;
        EXPECT_EQ(0ul, run.exitCode) << "exit code; record:\n" << run.log;
        EXPECT_GE(run.patchedImports, 6) << "the recorder did not take its place; record:\n" << run.log;
        EXPECT_EQ(0, run.initialShutdownPrivilege) << "the shutdown privilege must start disabled";
        if (!run.boxes.empty())
            EXPECT_EQ(0, run.boxes[0].shutdownPrivilege) << "the token was changed before the confirmation";
        return run;
    }

    std::set<std::string> Removed() const {
        std::set<std::string> gone;
        for (const std::string& e : before_)
            if (!after_.count(e)) gone.insert(e);
        return gone;
    }

    std::set<std::string> Added() const {
        std::set<std::string> added;
        for (const std::string& e : after_)
            if (!before_.count(e)) added.insert(e);
        return added;
    }

    // Exactly the labelled artefacts (with everything below a key) are gone, nothing else.
    void ExpectRemovedExactly(const std::vector<std::string>& labels) {
        std::set<std::string> expected = EntriesOf(before_, labels);
        for (const std::string& label : labels)
            EXPECT_FALSE(EntriesOf(before_, {label}).empty()) << label << " was not there before the run";
        std::set<std::string> removed = Removed();
        EXPECT_EQ(expected, removed) << "expected gone:" << Describe(expected)
                                     << "\n  actually gone:" << Describe(removed);
        EXPECT_TRUE(Added().empty()) << "appeared:" << Describe(Added());
    }

    void ExpectRestart(const RemoverRun& run, bool requested, int privilege) {
        if (!requested) {
            EXPECT_TRUE(run.restartFlags.empty()) << "ExitWindowsEx called " << run.restartFlags.size() << " times";
            return;
        }
        ASSERT_EQ(1u, run.restartFlags.size()) << "ExitWindowsEx calls";
        EXPECT_EQ(unsigned(EWX_REBOOT), run.restartFlags[0]) << "ExitWindowsEx flags";
        EXPECT_EQ(privilege, run.restartPrivilege[0]) << "SeShutdownPrivilege enabled at the restart";
    }

    // The device walk ran to its end: all classes listed once, the hardware ids of every
    // device there before the run read, each board device (of those labelled) removed
    // exactly once, the list destroyed and the API released.
    void ExpectCompleteDeviceWalk(const RemoverRun& run, const std::vector<std::string>& removals = BOARD_DEVICES) {
        EXPECT_EQ(std::vector<unsigned long>{4ul /* DIGCF_ALLCLASSES */}, run.classDevsFlags)
            << "SetupDiGetClassDevsA flags";
        std::vector<std::string> read = Upper(run.propertyReads);
        std::vector<std::string> unread;
        for (const std::string& entry : before_)
            if (entry.rfind("DEV:", 0) == 0 && std::find(read.begin(), read.end(), entry.substr(4)) == read.end())
                unread.push_back(entry.substr(4));
        EXPECT_TRUE(unread.empty()) << "devices whose hardware ids were not read:" << Describe(unread);
        std::vector<std::string> expectedRemoved;
        for (const std::string& label : removals) expectedRemoved.push_back(DeviceInstance(label));
        EXPECT_EQ(expectedRemoved, Upper(run.removedDevices)) << "DIF_REMOVE calls, in walk order";
        EXPECT_EQ(0, run.otherInstallerCalls) << "other class installer calls";
        EXPECT_EQ(1, run.listsDestroyed) << "SetupDiDestroyDeviceInfoList calls";
        EXPECT_EQ(1, run.setupApiReleased) << "FreeLibrary of the setup API";
    }

    std::set<std::string> before_, after_;
};

// ---------------------------------------------------------------------------------------
// A complete installation, removed on each Windows version Wine can report.

struct VersionCase {
    const char* name;
    const char* wineVersion;  // HKCU\Software\Wine\Version
    const char* reported;     // GetVersionExA answer instead of Wine's, or ""
    OsClass osClass;
};

std::vector<std::string> RemovedFromFullInstall(OsClass c, const std::string& firstOem) {
    switch (c) {
        case WIN95: return {firstOem, "vxd", "dll", "9x.full"};
        case WIN98: return {"98.inf", "vxd", "dll", "9x.full"};
        case NT4: return NT4_REMOVED;
        case W2K:
        case WXP:
        case VISTA: return Join({NT5_SERVICES, BOARD_DEVICES, {firstOem, firstOem + ".pnf"}, NT5_FILES});
        default: return {};
    }
}

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class FullRemoval : public RemovalTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FullRemoval, RemovesExactlyTheClassArtefactsAndRestarts) {
    const VersionCase& c = GetParam();
    SeedArtefacts();
    std::string firstOem = FirstInSearchOrder({"oem.match1", "oem.match2"});
    ASSERT_EQ("oem.match1", firstOem) << "seeded search order";
    for (const std::string& decoy : OEM_DECOYS)
        ASSERT_LT(SearchPosition(decoy), SearchPosition(firstOem)) << decoy << " must be read before the match";

    RemoverOptions options;
    options.version = c.reported;
    RemoverRun run = Run(c.wineVersion, options);

    if (c.osClass == OTHER) {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_BAD_OS});
        ExpectRestart(run, false, 0);
        ExpectRemovedExactly({});
        EXPECT_FALSE(LoadedSetupApi(run));
        return;
    }
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    bool nt = c.osClass >= NT4;
    ExpectRestart(run, true, nt ? 1 : 0);
    ExpectRemovedExactly(RemovedFromFullInstall(c.osClass, firstOem));
    EXPECT_EQ(c.osClass >= W2K, LoadedSetupApi(run)) << "SETUPAPI.DLL loaded";
    // NT: the token is opened once, for TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY; 9x: never.
    EXPECT_EQ(nt ? std::vector<unsigned long>{0x28} : std::vector<unsigned long>{}, run.tokenOpens)
        << "OpenProcessToken calls";
    if (c.osClass >= W2K)
        ExpectCompleteDeviceWalk(run);
    else
        EXPECT_TRUE(run.setupProcs.empty() && run.propertyReads.empty()) << "setup API used";
}

INSTANTIATE_TEST_SUITE_P(
    Versions, FullRemoval,
    ::testing::Values(VersionCase{"win95", "win95", "", WIN95}, VersionCase{"win98", "win98", "", WIN98},
                      VersionCase{"nt40", "nt40", "", NT4}, VersionCase{"win2k", "win2k", "", W2K},
                      VersionCase{"winxp", "winxp", "", WXP}, VersionCase{"win2003_is_5_2", "win2003", "", WXP},
                      VersionCase{"vista", "vista", "", VISTA}, VersionCase{"win7_is_6_1", "win7", "", VISTA},
                      VersionCase{"win81_is_6_2", "win81", "", VISTA}, VersionCase{"win10", "win10", "", VISTA},
                      // Versions Wine does not report by itself.
                      VersionCase{"reported_6_3", "win10", "2,6,3,9600", VISTA},
                      VersionCase{"reported_10_0", "win10", "2,10,0,19045", VISTA},
                      VersionCase{"reported_nt_3_51", "nt40", "2,3,51,1057", NT4},
                      VersionCase{"reported_9x_build_1079", "win95", "1,4,0,67109943", WIN95},
                      VersionCase{"reported_9x_build_1080", "win98", "1,4,10,67765304", WIN98},
                      VersionCase{"reported_nt_5_3", "winxp", "2,5,3,3000", OTHER},
                      VersionCase{"reported_platform_3", "win10", "3,5,0,0", OTHER},
                      VersionCase{"reported_platform_0", "win10", "0,3,10,0", OTHER}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Declining the confirmation touches nothing.

struct DeclineCase {
    const char* name;
    const char* wineVersion;
    int answer;
};

void PrintTo(const DeclineCase& c, std::ostream* os) { *os << c.name; }

class Decline : public RemovalTest, public ::testing::WithParamInterface<DeclineCase> {};

TEST_P(Decline, LeavesEverythingAndShowsNoFurtherBox) {
    SeedArtefacts();
    RemoverOptions options;
    options.answers = std::to_string(GetParam().answer);
    RemoverRun run = Run(GetParam().wineVersion, options);
    ExpectBoxes(run, {BOX_CONFIRM});
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly({});
    EXPECT_FALSE(LoadedSetupApi(run));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Decline,
    ::testing::Values(DeclineCase{"win95_cancel", "win95", ID_CANCEL}, DeclineCase{"win98_cancel", "win98", ID_CANCEL},
                      DeclineCase{"nt40_cancel", "nt40", ID_CANCEL}, DeclineCase{"win2k_cancel", "win2k", ID_CANCEL},
                      DeclineCase{"winxp_cancel", "winxp", ID_CANCEL}, DeclineCase{"win10_cancel", "win10", ID_CANCEL},
                      DeclineCase{"win10_box_failed", "win10", 0}),
    [](const ::testing::TestParamInfo<DeclineCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Partial installations: which failures count, and which box they lead to. Results 0, 2
// and 4 look alike on screen, so a counted failure is shown by pairing it with a failure of
// the other kind (box 106 instead of 102).

struct PartialCase {
    const char* name;
    const char* wineVersion;
    std::vector<std::string> missing;  // artefacts not installed
    std::vector<std::string> extra;    // artefacts installed beyond the full set
    bool setupApiFails;                // LoadLibraryA("SETUPAPI.DLL") fails
    bool failureBox;                   // 106 instead of 102 and the restart
    std::vector<std::string> removed;
};

void PrintTo(const PartialCase& c, std::ostream* os) { *os << c.name; }

class Partial : public RemovalTest, public ::testing::WithParamInterface<PartialCase> {};

TEST_P(Partial, ShowsTheBoxOfItsResultAndRemovesWhatIsThere) {
    const PartialCase& c = GetParam();
    SeedArtefacts(Join({Without(AllArtefactLabels(), c.missing), c.extra}));
    RemoverOptions options;
    if (c.setupApiFails) options.failLoad = "SETUPAPI.DLL";
    RemoverRun run = Run(c.wineVersion, options);
    bool nt = std::string(c.wineVersion) != "win95" && std::string(c.wineVersion) != "win98";
    if (c.failureBox) {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
        ExpectRestart(run, false, 0);
    } else {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
        ExpectRestart(run, true, nt ? 1 : 0);
    }
    ExpectRemovedExactly(c.removed);
}

const std::vector<std::string> OEM1 = {"oem.match1", "oem.match1.pnf"};
const std::vector<std::string> OEM2 = {"oem.match2", "oem.match2.pnf"};

INSTANTIATE_TEST_SUITE_P(
    Installations, Partial,
    ::testing::Values(
        // NT 5.1: device and services already gone, only uncounted steps fail: result 0.
        PartialCase{"winxp_device_and_services_gone",
                    "winxp",
                    Join({NT5_SERVICES, BOARD_DEVICES}),
                    {},
                    false,
                    false,
                    Join({OEM1, NT5_FILES})},
        // Without the setup API the service keys and devices stay: result 4 alone.
        PartialCase{"win2k_no_setupapi", "win2k", {}, {}, true, false, Join({OEM1, NT5_FILES})},
        // Own driver file missing: counted.
        PartialCase{"win2k_own_file_missing",
                    "win2k",
                    {"w2k.sys"},
                    {},
                    true,
                    true,
                    Join({OEM1, {"wxp.sys", "wdm.sys", "dll"}})},
        PartialCase{"win2k_other_files_missing",
                    "win2k",
                    {"wxp.sys", "wdm.sys"},
                    {},
                    true,
                    false,
                    Join({OEM1, {"w2k.sys", "dll"}})},
        PartialCase{"winxp_own_file_missing",
                    "winxp",
                    {"wxp.sys"},
                    {},
                    true,
                    true,
                    Join({OEM1, {"w2k.sys", "wdm.sys", "dll"}})},
        PartialCase{"winxp_other_files_missing",
                    "winxp",
                    {"w2k.sys", "wdm.sys"},
                    {},
                    true,
                    false,
                    Join({OEM1, {"wxp.sys", "dll"}})},
        PartialCase{"vista_own_file_wdm_missing",
                    "vista",
                    {"wdm.sys"},
                    {},
                    true,
                    true,
                    Join({OEM1, {"w2k.sys", "wxp.sys", "dll"}})},
        PartialCase{"vista_other_files_missing",
                    "vista",
                    {"w2k.sys", "wxp.sys"},
                    {},
                    true,
                    false,
                    Join({OEM1, {"wdm.sys", "dll"}})},
        PartialCase{"win7_own_file_wdm_missing",
                    "win7",
                    {"wdm.sys"},
                    {},
                    true,
                    true,
                    Join({OEM1, {"w2k.sys", "wxp.sys", "dll"}})},
        // A missing own file alone: result 2, still completion and restart.
        PartialCase{"vista_own_file_missing_only",
                    "vista",
                    {"wdm.sys"},
                    {},
                    false,
                    false,
                    Join({NT5_SERVICES, BOARD_DEVICES, OEM1, {"w2k.sys", "wxp.sys", "dll"}})},
        PartialCase{
            "vista_library_missing", "vista", {"dll"}, {}, true, true, Join({OEM1, {"w2k.sys", "wxp.sys", "wdm.sys"}})},
        // The .PNF copy is a counted deletion too.
        PartialCase{
            "vista_pnf_missing", "vista", {"oem.match1.pnf"}, {}, true, true, Join({{"oem.match1"}, NT5_FILES})},
        // No setup-information file with the mark: nothing to delete, no failure.
        PartialCase{"vista_no_marked_inf", "vista", Join({OEM1, OEM2}), {}, true, false, NT5_FILES},
        // The first marked file gone: the next one is the board's.
        PartialCase{"vista_second_marked_inf", "vista", OEM1, {}, true, false, Join({OEM2, NT5_FILES})},
        // NT 4: a key with a subkey of its own stays; the later steps still run.
        PartialCase{"nt40_service_with_extra_subkey",
                    "nt40",
                    {},
                    {"nt4.parameters"},
                    false,
                    false,
                    {"nt4.enum", "nt4.security", "nt4.eventlog", "nt4.sys", "dll"}},
        PartialCase{"nt40_extra_subkey_and_driver_missing",
                    "nt40",
                    {"nt4.sys"},
                    {"nt4.parameters"},
                    false,
                    true,
                    {"nt4.enum", "nt4.security", "nt4.eventlog", "dll"}},
        PartialCase{"nt40_eventlog_and_driver_missing",
                    "nt40",
                    {"nt4.eventlog", "nt4.sys"},
                    {},
                    false,
                    true,
                    {"nt4.enum", "nt4.security", "nt4.service", "dll"}},
        PartialCase{"nt40_driver_missing_only",
                    "nt40",
                    {"nt4.sys"},
                    {},
                    false,
                    false,
                    {"nt4.enum", "nt4.security", "nt4.service", "nt4.eventlog", "dll"}},
        // Windows 9x: the shorter device key goes only when the full one is not there.
        PartialCase{
            "win95_full_key_missing", "win95", {"9x.full"}, {}, false, false, {"oem.match1", "vxd", "dll", "9x.short"}},
        PartialCase{
            "win95_keys_missing", "win95", {"9x.full", "9x.short"}, {}, false, false, {"oem.match1", "vxd", "dll"}},
        PartialCase{"win95_keys_and_vxd_missing",
                    "win95",
                    {"9x.full", "9x.short", "vxd"},
                    {},
                    false,
                    true,
                    {"oem.match1", "dll"}},
        PartialCase{"win95_keys_missing_no_marked_inf",
                    "win95",
                    Join({{"9x.full", "9x.short"}, OEM1, OEM2}),
                    {},
                    false,
                    false,
                    {"vxd", "dll"}},
        PartialCase{
            "win98_keys_and_inf_missing", "win98", {"9x.full", "9x.short", "98.inf"}, {}, false, true, {"vxd", "dll"}},
        PartialCase{
            "win98_keys_missing", "win98", {"9x.full", "9x.short"}, {}, false, false, {"98.inf", "vxd", "dll"}}),
    [](const ::testing::TestParamInfo<PartialCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// The setup API failing in each way the device removal knows. Every case also lacks the
// class's own driver file, so box 106 shows that the device bit was set as well.

struct SetupFaultCase {
    const char* name;
    const char* wineVersion;
    const char* ownFile;
    std::string fault;                 // RemoverOptions::setupFault; "device:<label>" for a read fault
    bool listMade;                     // SetupDiGetClassDevsA gave a list
    std::vector<std::string> removed;  // besides the other files and the marked .INF
    std::vector<std::string> notRead;  // devices whose hardware ids must not be read
};

void PrintTo(const SetupFaultCase& c, std::ostream* os) { *os << c.name; }

class SetupFault : public RemovalTest, public ::testing::WithParamInterface<SetupFaultCase> {};

TEST_P(SetupFault, SetsTheDeviceBitAndStopsWhereTheWalkFailed) {
    const SetupFaultCase& c = GetParam();
    SeedArtefacts(Without(AllArtefactLabels(), {c.ownFile}));
    std::vector<std::string> walk = DeviceWalkOrder();
    std::vector<size_t> positions;
    for (const char* label : {"dev.noids", "dev.lower", "dev.mixed", "dev.longer", "dev.board", "dev.multi"})
        positions.push_back(std::find(walk.begin(), walk.end(), DeviceInstance(label)) - walk.begin());
    ASSERT_TRUE(std::is_sorted(positions.begin(), positions.end()) && positions.back() < walk.size())
        << "the seeded devices must be walked in the order of their instance numbers";

    RemoverOptions options;
    options.setupFault = c.fault;
    if (c.fault.rfind("device:", 0) == 0) options.setupFault = "property:" + DeviceInstance(c.fault.substr(7));
    if (c.fault.rfind("stuck:", 0) == 0) options.setupFault = "stuck:" + DeviceInstance(c.fault.substr(6));
    RemoverRun run = Run(c.wineVersion, options);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly(Join({c.removed, OEM_FIRST, Without(NT5_FILES, {c.ownFile})}));
    EXPECT_EQ(1, run.setupApiReleased) << "FreeLibrary of the setup API";
    EXPECT_EQ(c.listMade ? 1 : 0, run.listsDestroyed) << "SetupDiDestroyDeviceInfoList calls";
    std::vector<std::string> read = Upper(run.propertyReads);
    for (const std::string& label : c.notRead)
        EXPECT_EQ(read.end(), std::find(read.begin(), read.end(), DeviceInstance(label)))
            << label << " was examined after the walk had failed";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SetupFault,
    ::testing::Values(
        SetupFaultCase{
            "win2k_no_class_devs_function", "win2k", "w2k.sys", "missing:SetupDiGetClassDevsA", false, {}, {}},
        SetupFaultCase{"winxp_no_enum_function", "winxp", "wxp.sys", "missing:SetupDiEnumDeviceInfo", false, {}, {}},
        SetupFaultCase{"vista_no_property_function",
                       "vista",
                       "wdm.sys",
                       "missing:SetupDiGetDeviceRegistryPropertyA",
                       false,
                       {},
                       {}},
        SetupFaultCase{
            "win7_no_installer_function", "win7", "wdm.sys", "missing:SetupDiCallClassInstaller", false, {}, {}},
        SetupFaultCase{
            "win10_no_destroy_function", "win10", "wdm.sys", "missing:SetupDiDestroyDeviceInfoList", false, {}, {}},
        SetupFaultCase{"winxp_no_device_list", "winxp", "wxp.sys", "classdevs", false, {}, {}},
        // A failed hardware-id read ends the walk: the service keys are gone already, the
        // board's devices after the failing one stay.
        SetupFaultCase{"winxp_read_fails_before_the_board",
                       "winxp",
                       "wxp.sys",
                       "device:dev.lower",
                       true,
                       NT5_SERVICES,
                       {"dev.mixed", "dev.longer", "dev.board", "dev.multi"}},
        SetupFaultCase{"vista_read_fails_between_board_devices",
                       "vista",
                       "wdm.sys",
                       "device:dev.multi",
                       true,
                       Join({NT5_SERVICES, {"dev.board"}}),
                       {}},
        // A read that asks for more room again and again without wanting more ends the
        // walk like any other failed read instead of going round for ever.
        SetupFaultCase{"win2k_read_never_settles",
                       "win2k",
                       "w2k.sys",
                       "stuck:dev.mixed",
                       true,
                       NT5_SERVICES,
                       {"dev.longer", "dev.board", "dev.multi"}}),
    [](const ::testing::TestParamInfo<SetupFaultCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Devices the walk meets that it cannot remove or that have an empty hardware-id property:
// the walk goes on to the end either way. A failed removal sets the device bit, shown by
// box 106 together with the missing own driver file; a skipped device sets nothing.

struct DeviceWalkCase {
    const char* name;
    const char* wineVersion;
    const char* ownFile;
    std::string fault;  // "remove:<label>" or "empty:<label>"
    bool failureBox;
    std::vector<std::string> removals;  // DIF_REMOVE calls, in walk order
    std::vector<std::string> removed;   // devices gone after the run
};

void PrintTo(const DeviceWalkCase& c, std::ostream* os) { *os << c.name; }

class DeviceWalk : public RemovalTest, public ::testing::WithParamInterface<DeviceWalkCase> {};

TEST_P(DeviceWalk, GoesOnToTheEndAndCountsEveryFailedRemoval) {
    const DeviceWalkCase& c = GetParam();
    SeedArtefacts(Without(AllArtefactLabels(), {c.ownFile}));
    RemoverOptions options;
    size_t colon = c.fault.find(':');
    options.setupFault = c.fault.substr(0, colon + 1) + DeviceInstance(c.fault.substr(colon + 1));
    RemoverRun run = Run(c.wineVersion, options);
    if (c.failureBox) {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
        ExpectRestart(run, false, 0);
    } else {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
        ExpectRestart(run, true, 1);
    }
    ExpectRemovedExactly(Join({NT5_SERVICES, c.removed, OEM_FIRST, Without(NT5_FILES, {c.ownFile})}));
    ExpectCompleteDeviceWalk(run, c.removals);
}

INSTANTIATE_TEST_SUITE_P(Faults, DeviceWalk,
                         ::testing::Values(DeviceWalkCase{"winxp_first_board_device_stays",
                                                          "winxp",
                                                          "wxp.sys",
                                                          "remove:dev.board",
                                                          true,
                                                          BOARD_DEVICES,
                                                          {"dev.multi"}},
                                           DeviceWalkCase{"vista_last_board_device_stays",
                                                          "vista",
                                                          "wdm.sys",
                                                          "remove:dev.multi",
                                                          true,
                                                          BOARD_DEVICES,
                                                          {"dev.board"}},
                                           DeviceWalkCase{"win2k_empty_ids_skipped", "win2k", "w2k.sys",
                                                          "empty:dev.lower", false, BOARD_DEVICES, BOARD_DEVICES},
                                           DeviceWalkCase{"win10_board_device_with_empty_ids_skipped",
                                                          "win10",
                                                          "wdm.sys",
                                                          "empty:dev.board",
                                                          false,
                                                          {"dev.multi"},
                                                          {"dev.multi"}}),
                         [](const ::testing::TestParamInfo<DeviceWalkCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------
// A 32-bit program on 64-bit Windows can remove no device through the setup API and sees the
// 32-bit system folder under the name System32: it says so before the confirmation, and
// touches nothing. Systems without IsWow64Process, and a 64-bit process, run as before.

struct Wow64Case {
    const char* name;
    const char* wineVersion;
    OsClass osClass;
    const char* wow64;  // RemoverOptions::wow64
    bool refused;
};

void PrintTo(const Wow64Case& c, std::ostream* os) { *os << c.name; }

class Wow64 : public RemovalTest, public ::testing::WithParamInterface<Wow64Case> {};

TEST_P(Wow64, A32BitProgramOn64BitWindowsTouchesNothing) {
    const Wow64Case& c = GetParam();
    SeedArtefacts();
    RemoverOptions options;
    options.wow64 = c.wow64;
    RemoverRun run = Run(c.wineVersion, options);
    EXPECT_EQ(std::vector<std::string>{"IsWow64Process"}, run.kernelProcs) << "functions asked of kernel32";
    if (c.refused) {
        ExpectBoxes(run, {BOX_NEED_64BIT});
        ExpectRestart(run, false, 0);
        ExpectRemovedExactly({});
    } else {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
        ExpectRestart(run, true, 1);
        ExpectRemovedExactly(RemovedFromFullInstall(c.osClass, "oem.match1"));
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, Wow64,
                         ::testing::Values(Wow64Case{"winxp_wow64", "winxp", WXP, "yes", true},
                                           Wow64Case{"win10_wow64", "win10", VISTA, "yes", true},
                                           Wow64Case{"vista_64_bit_process", "vista", VISTA, "", false},
                                           Wow64Case{"win2k_without_the_function", "win2k", W2K, "missing", false}),
                         [](const ::testing::TestParamInfo<Wow64Case>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Running the program a second time.

struct SecondRunCase {
    const char* name;
    const char* wineVersion;
    bool completion;  // box 102 and the restart again, else box 106
};

void PrintTo(const SecondRunCase& c, std::ostream* os) { *os << c.name; }

class SecondRun : public RemovalTest, public ::testing::WithParamInterface<SecondRunCase> {};

TEST_P(SecondRun, RepeatsEveryDeletion) {
    const SecondRunCase& c = GetParam();
    // One device key and one marked setup-information file, as a real installation has.
    SeedArtefacts(Without(AllArtefactLabels(), Join({{"9x.short"}, OEM2})));
    RemoverRun first = Run(c.wineVersion, RemoverOptions());
    ExpectBoxes(first, {BOX_CONFIRM, BOX_COMPLETED});

    RemoverRun second = Run(c.wineVersion, RemoverOptions());
    bool nt = std::string(c.wineVersion) != "win95" && std::string(c.wineVersion) != "win98";
    if (c.completion) {
        ExpectBoxes(second, {BOX_CONFIRM, BOX_COMPLETED});
        ExpectRestart(second, true, nt ? 1 : 0);
    } else {
        ExpectBoxes(second, {BOX_CONFIRM, BOX_FAILED});
        ExpectRestart(second, false, 0);
    }
    ExpectRemovedExactly({});
}

INSTANTIATE_TEST_SUITE_P(Versions, SecondRun,
                         ::testing::Values(SecondRunCase{"win95", "win95", false},
                                           SecondRunCase{"win98", "win98", false}, SecondRunCase{"nt40", "nt40", false},
                                           SecondRunCase{"win2k", "win2k", true}, SecondRunCase{"winxp", "winxp", true},
                                           SecondRunCase{"win10", "win10", true}),
                         [](const ::testing::TestParamInfo<SecondRunCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------
// The end of the program.

TEST_F(RemovalTest, FailedRestartStillEndsWithExitCodeZero) {
    SeedArtefacts();
    RemoverOptions options;
    options.restartSucceeds = false;
    RemoverRun run = Run("winxp", options);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    ExpectRestart(run, true, 1);
}

TEST_F(RemovalTest, FailedCompletionBoxDoesNotRestart) {
    SeedArtefacts();
    RemoverOptions options;
    options.answers = "1,0";
    RemoverRun run = Run("winxp", options);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    ExpectRestart(run, false, 0);
}

TEST_F(RemovalTest, UnopenableTokenIsIgnored) {
    SeedArtefacts();
    RemoverOptions options;
    options.noToken = true;
    RemoverRun run = Run("win2k", options);
    EXPECT_EQ(std::vector<unsigned long>{0x28}, run.tokenOpens) << "OpenProcessToken calls";
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    ExpectRestart(run, true, 0);
    ExpectRemovedExactly(RemovedFromFullInstall(W2K, "oem.match1"));
}

TEST_F(RemovalTest, CommandLineIsIgnored) {
    SeedArtefacts();
    RemoverOptions options;
    options.arguments = "/q /s /uninstall=none -?";
    RemoverRun run = Run("winxp", options);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    ExpectRestart(run, true, 1);
    ExpectRemovedExactly(RemovedFromFullInstall(WXP, "oem.match1"));
}

// ---------------------------------------------------------------------------------------
// Paths that do not fit in 260 characters are never built; their deletions count as failed.

TEST_F(RemovalTest, WindowsDirectoryTooLongForThePathsFailsThoseDeletions) {
    SeedArtefacts();
    RemoverOptions options;
    // 250 characters: Windows directory + "\System32\Drivers\..." cannot be built.
    options.windowsDirectory = "C:\\" + std::string(247, 'w');
    RemoverRun run = Run("winxp", options);
    // The device walk still succeeds, so only the file bit is set: result 2.
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    ExpectRestart(run, true, 1);
    ExpectRemovedExactly(Join({NT5_SERVICES, BOARD_DEVICES}));
}

TEST_F(RemovalTest, WindowsDirectoryTooLongWithSetupApiMissingIsAFailure) {
    SeedArtefacts();
    RemoverOptions options;
    options.windowsDirectory = "C:\\" + std::string(247, 'w');
    options.failLoad = "SETUPAPI.DLL";
    RemoverRun run = Run("win2k", options);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly({});
}

// A Windows directory of a chosen length, holding the NT 4 driver and the library. The
// driver's path, directory + "\System32\Drivers\TELLAMIO.SYS", is 30 characters longer
// than the directory; it fits the 260-character buffer (with its terminating zero) up to
// 259 characters.
struct LongDirectoryCase {
    const char* name;
    size_t directoryLength;
    bool driverDeleted;
};

void PrintTo(const LongDirectoryCase& c, std::ostream* os) { *os << c.name; }

class LongWindowsDirectory : public RemovalTest, public ::testing::WithParamInterface<LongDirectoryCase> {
protected:
    std::wstring Wide(const std::string& path) { return L"\\\\?\\" + FromCodePage(CP_ACP, path); }
    bool Exists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }
    void MakeFile(const std::string& path) {
        HANDLE file =
            CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << "could not make " << path;
        CloseHandle(file);
    }
    void TearDown() override {
        for (const std::string& file : {driver_, library_}) {
            SetFileAttributesW(Wide(file).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(Wide(file).c_str());
        }
        for (const std::string& dir : {directory_ + "\\System32\\Drivers", directory_ + "\\System32", directory_})
            RemoveDirectoryW(Wide(dir).c_str());
        RemovalTest::TearDown();
    }
    std::string directory_, driver_, library_;
};

TEST_P(LongWindowsDirectory, DriverPathFitsOnlyUpTo259Characters) {
    const LongDirectoryCase& c = GetParam();
    directory_ = "C:\\" + std::string(c.directoryLength - 3, 'd');
    driver_ = directory_ + "\\System32\\Drivers\\TELLAMIO.SYS";
    library_ = directory_ + "\\System32\\TELLAMIO.DLL";
    ASSERT_EQ(c.directoryLength + 30, driver_.size());
    CreateDirectoryW(Wide(directory_).c_str(), nullptr);
    CreateDirectoryW(Wide(directory_ + "\\System32").c_str(), nullptr);
    CreateDirectoryW(Wide(directory_ + "\\System32\\Drivers").c_str(), nullptr);
    MakeFile(driver_);
    MakeFile(library_);
    // Without the event-log key the key bit is set, so a failed driver deletion shows as 106.
    SeedArtefacts(Without(AllArtefactLabels(), {"nt4.eventlog"}));

    RemoverOptions options;
    options.windowsDirectory = directory_;
    RemoverRun run = Run("nt40", options);
    if (c.driverDeleted) {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
        ExpectRestart(run, true, 1);
    } else {
        ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
        ExpectRestart(run, false, 0);
    }
    EXPECT_EQ(!c.driverDeleted, Exists(driver_)) << driver_.size() << "-character driver path still there";
    EXPECT_FALSE(Exists(library_)) << "the library in the long directory";
    ExpectRemovedExactly({"nt4.enum", "nt4.security", "nt4.service"});
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongWindowsDirectory,
                         ::testing::Values(LongDirectoryCase{"driver_path_259", 229, true},
                                           LongDirectoryCase{"driver_path_260", 230, false}),
                         [](const ::testing::TestParamInfo<LongDirectoryCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------
// The real message boxes on the screen, answered with keys and clicks.

enum class Answer { EscapeKey, ClickOk, CloseBox };

struct ScreenBox {
    bool seen = false;
    std::wstring caption;
    std::wstring text;
    bool okButton = false;
    bool cancelButton = false;
};

struct ScreenScript {
    std::vector<Answer> answers;
    std::vector<ScreenBox> seen;
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindBoxWindow(HWND window, LPARAM param) {
    WindowSearch* search = (WindowSearch*)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64];
    GetClassNameA(window, className, sizeof(className));
    if (owner == search->processId && IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    char className[64];
    GetClassNameA(child, className, sizeof(className));
    wchar_t text[512];
    if (lstrcmpiA(className, "Static") == 0 && GetWindowTextW(child, text, 512) > 0) {
        std::wstring* all = (std::wstring*)param;
        *all += text;
    }
    return TRUE;
}

bool ButtonShown(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button);
}

// Waits for each box of the program in turn, reads it and answers it as the script says.
void AnswerOnScreen(unsigned long processId, void* context) {
    ScreenScript* script = (ScreenScript*)context;
    for (Answer answer : script->answers) {
        WindowSearch search = {processId, nullptr};
        for (int i = 0; i < 400 && !search.found; ++i) {
            EnumWindows(FindBoxWindow, (LPARAM)&search);
            if (!search.found) Sleep(50);
        }
        ScreenBox box;
        if (!search.found) {
            script->seen.push_back(box);
            return;
        }
        HWND window = search.found;
        Sleep(100);  // let the box finish laying itself out
        box.seen = true;
        wchar_t caption[256];
        GetWindowTextW(window, caption, 256);
        box.caption = caption;
        EnumChildWindows(window, CollectStaticText, (LPARAM)&box.text);
        box.okButton = ButtonShown(window, IDOK);
        box.cancelButton = ButtonShown(window, IDCANCEL);
        script->seen.push_back(box);
        switch (answer) {
            case Answer::EscapeKey:
                // The key goes to the focused button; the box's dialog loop turns it into IDCANCEL.
                PostMessageW(GetDlgItem(window, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                PostMessageW(GetDlgItem(window, IDOK), WM_KEYUP, VK_ESCAPE, 0xC0010001);
                break;
            case Answer::ClickOk: PostMessageW(GetDlgItem(window, IDOK), BM_CLICK, 0, 0); break;
            case Answer::CloseBox: PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); break;
        }
        for (int i = 0; i < 200 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(25);
    }
}

void ExpectScreenBox(const ScreenBox& got, const ExpectedBox& expected, bool cancelButton) {
    ASSERT_TRUE(got.seen) << "box " << expected.id << " did not appear on the screen";
    EXPECT_EQ(ToUtf8(FromCodePage(CP_UTF8, CAPTION)), ToUtf8(got.caption)) << "caption on screen";
    std::wstring text = FromCodePage(CP_UTF8, expected.text);
    std::wstring shown = got.text;
    // The static control shows the line break as CR LF or LF; compare without CR.
    shown.erase(std::remove(shown.begin(), shown.end(), L'\r'), shown.end());
    EXPECT_EQ(ToUtf8(text), ToUtf8(shown)) << "text of box " << expected.id << " on screen";
    EXPECT_TRUE(got.okButton) << "OK button of box " << expected.id;
    EXPECT_EQ(cancelButton, got.cancelButton) << "Cancel button of box " << expected.id;
}

TEST_F(RemovalTest, EscapeAtTheConfirmationOnScreenRemovesNothing) {
    SeedArtefacts();
    RemoverOptions options;
    options.realBoxes = true;
    ScreenScript script;
    script.answers = {Answer::EscapeKey};
    RemoverRun run = Run("winxp", options, AnswerOnScreen, &script);
    ASSERT_EQ(1u, script.seen.size());
    ExpectScreenBox(script.seen[0], BOX_CONFIRM, true);
    ExpectBoxes(run, {BOX_CONFIRM});
    EXPECT_EQ(ID_CANCEL, run.boxes[0].answer) << "what the box returned for Esc";
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly({});
}

TEST_F(RemovalTest, ClosingTheConfirmationOnScreenRemovesNothing) {
    SeedArtefacts();
    RemoverOptions options;
    options.realBoxes = true;
    ScreenScript script;
    script.answers = {Answer::CloseBox};
    RemoverRun run = Run("win98", options, AnswerOnScreen, &script);
    ASSERT_EQ(1u, script.seen.size());
    ExpectBoxes(run, {BOX_CONFIRM});
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly({});
}

struct CompletionAnswerCase {
    const char* name;
    Answer answer;
};

class CompletionOnScreen : public RemovalTest, public ::testing::WithParamInterface<CompletionAnswerCase> {};

void PrintTo(const CompletionAnswerCase& c, std::ostream* os) { *os << c.name; }

// The completion box has only an OK button. The restart follows when the box returns IDOK;
// Windows returns IDOK for Esc and for closing such a box as well, Wine 8 returns IDCANCEL,
// and then the program ends without a restart.
TEST_P(CompletionOnScreen, RestartsWhenTheBoxReturnsOk) {
    SeedArtefacts();
    RemoverOptions options;
    options.realBoxes = true;
    ScreenScript script;
    script.answers = {Answer::ClickOk, GetParam().answer};
    RemoverRun run = Run("vista", options, AnswerOnScreen, &script);
    ASSERT_EQ(2u, script.seen.size());
    ExpectScreenBox(script.seen[0], BOX_CONFIRM, true);
    ExpectScreenBox(script.seen[1], BOX_COMPLETED, false);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_COMPLETED});
    int returned = run.boxes[1].answer;
    if (GetParam().answer == Answer::ClickOk) EXPECT_EQ(ID_OK, returned) << "what the box returned for its OK button";
    EXPECT_NE(0, returned) << "the box failed";
    SCOPED_TRACE("the completion box returned " + std::to_string(returned));
    ExpectRestart(run, returned == ID_OK, 1);
    ExpectRemovedExactly(RemovedFromFullInstall(VISTA, "oem.match1"));
}

INSTANTIATE_TEST_SUITE_P(Answers, CompletionOnScreen,
                         ::testing::Values(CompletionAnswerCase{"ok", Answer::ClickOk},
                                           CompletionAnswerCase{"escape", Answer::EscapeKey},
                                           CompletionAnswerCase{"close", Answer::CloseBox}),
                         [](const ::testing::TestParamInfo<CompletionAnswerCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(RemovalTest, FailureBoxOnScreen) {
    SeedArtefacts(Without(AllArtefactLabels(), {"nt4.sys", "nt4.eventlog"}));
    RemoverOptions options;
    options.realBoxes = true;
    ScreenScript script;
    script.answers = {Answer::ClickOk, Answer::ClickOk};
    RemoverRun run = Run("nt40", options, AnswerOnScreen, &script);
    ASSERT_EQ(2u, script.seen.size());
    ExpectScreenBox(script.seen[1], BOX_FAILED, false);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_FAILED});
    ExpectRestart(run, false, 0);
}

TEST_F(RemovalTest, UnknownSystemBoxOnScreen) {
    SeedArtefacts();
    RemoverOptions options;
    options.realBoxes = true;
    options.version = "3,5,0,0";
    ScreenScript script;
    script.answers = {Answer::ClickOk, Answer::ClickOk};
    RemoverRun run = Run("win10", options, AnswerOnScreen, &script);
    ASSERT_EQ(2u, script.seen.size());
    ExpectScreenBox(script.seen[1], BOX_BAD_OS, false);
    ExpectBoxes(run, {BOX_CONFIRM, BOX_BAD_OS});
    ExpectRestart(run, false, 0);
    ExpectRemovedExactly({});
}

}  // namespace
