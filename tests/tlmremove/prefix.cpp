#include "prefix.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <stdexcept>

namespace {

enum class Kind { File, Key, Device };

struct Artefact {
    const char* label;
    Kind kind;
    // Files: "W\..." (Windows directory) or "S\..." (system directory).
    // Keys: below HKEY_LOCAL_MACHINE (Wine 8 keeps CurrentControlSet as a key of its own and
    // has no ControlSet001 or ControlSet002 until they are made). Devices: the instance id.
    std::string path;
    // Files: the bytes. Devices: the hardware-id multi-string (empty: no hardware id).
    // Keys: subkeys to create below it, separated by '|'.
    std::string content;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

const char BOARD_ID[] = "PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31";

std::string MultiString(std::initializer_list<std::string> ids) {
    std::string s;
    for (const std::string& id : ids) s += id + '\0';
    return s + '\0';
}

// A line of 496 characters and "Tellam" straddling the first 499-character piece.
std::string SplitMarkText() { return "[Version]\n; " + std::string(494, 'x') + "Tellam-6X board\n"; }

std::string Utf16MarkText() {
    std::string ascii = "[Version]\r\n; Tellam-6X board\r\n";
    std::string bytes = "\xff\xfe";
    for (char c : ascii) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

std::string LongOemName() {
    // Windows directory + "\INF\" + this name does not fit in 260 characters.
    return "OEM0" + std::string(242, 'L') + ".INF";
}

const std::vector<Artefact>& Artefacts() {
    static const std::vector<Artefact> list = {
        // The package's files.
        {"nt4.sys", Kind::File, "W\\System32\\Drivers\\TELLAMIO.SYS", "nt4 driver\n"},
        {"w2k.sys", Kind::File, "W\\System32\\Drivers\\TLMW2K.SYS", "w2k driver\n", FILE_ATTRIBUTE_READONLY},
        {"wxp.sys", Kind::File, "W\\System32\\Drivers\\TLMWXP.SYS", "wxp driver\n",
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {"wdm.sys", Kind::File, "W\\System32\\Drivers\\TLMWDM.SYS", "wdm driver\n"},
        {"vxd", Kind::File, "S\\TELLAMIO.VXD", "vxd\n", FILE_ATTRIBUTE_HIDDEN},
        {"dll", Kind::File, "S\\TELLAMIO.DLL", "library\n", FILE_ATTRIBUTE_READONLY},
        {"98.inf", Kind::File, "W\\INF\\OTHER\\KORVANETELLAMIO.INF", "[Version]\n; Tellam-6X\n"},
        // Setup-information files Windows copied under OEM names.
        {"oem.long", Kind::File, "W\\INF\\" + LongOemName(), "[Version]\n; Tellam-6X\n"},
        {"oem.case", Kind::File, "W\\INF\\OEM90.INF", "[Version]\n; tellam TELLAM TELLAm\n"},
        {"oem.case.pnf", Kind::File, "W\\INF\\OEM90.PNF", "pnf\n"},
        {"oem.utf16", Kind::File, "W\\INF\\OEM91.INF", Utf16MarkText()},
        {"oem.utf16.pnf", Kind::File, "W\\INF\\OEM91.PNF", "pnf\n"},
        {"oem.split", Kind::File, "W\\INF\\OEM92.INF", SplitMarkText()},
        {"oem.split.pnf", Kind::File, "W\\INF\\OEM92.PNF", "pnf\n"},
        // "Tellam" whose 'T' is the trail byte of the double-byte character 0x83 0x54.
        {"oem.trail", Kind::File, "W\\INF\\OEM93.INF", "[Version]\n; \x83Tellam-6X\n"},
        {"oem.trail.pnf", Kind::File, "W\\INF\\OEM93.PNF", "pnf\n"},
        // The board's file: the mark follows double-byte text on a later line.
        {"oem.match1", Kind::File, "W\\INF\\OEM95.INF",
         "[Version]\nSignature=\"$Windows NT$\"\n; \x8a\xee\x94\xc2 \x83TTellam-6X\n", FILE_ATTRIBUTE_READONLY},
        {"oem.match1.pnf", Kind::File, "W\\INF\\OEM95.PNF", "pnf\n", FILE_ATTRIBUTE_READONLY},
        {"oem.match2", Kind::File, "W\\INF\\OEM96.INF", "[Version]\n; Tellam-4X\n"},
        {"oem.match2.pnf", Kind::File, "W\\INF\\OEM96.PNF", "pnf\n"},
        // Files that only look like the package's.
        {"decoy.driver", Kind::File, "W\\System32\\Drivers\\TLMW2K.SY_", "decoy\n"},
        {"decoy.dll", Kind::File, "S\\TELLAMIO2.DLL", "decoy\n"},
        {"decoy.inf", Kind::File, "W\\INF\\TELLAM.INF", "[Version]\n; Tellam-6X\n"},
        {"decoy.98.pnf", Kind::File, "W\\INF\\OTHER\\KORVANETELLAMIO.PNF", "pnf\n"},

        // Windows 9x device keys, with subkeys and values.
        {"9x.full", Kind::Key, "ENUM\\PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31&REV_01",
         "BUS_00&DEV_0A&FUNC_00|BUS_00&DEV_0A&FUNC_00\\Device Parameters"},
        {"9x.short", Kind::Key, "ENUM\\PCI\\VEN_7E31&DEV_0C51", "BUS_00&DEV_0B&FUNC_00"},
        {"9x.decoy", Kind::Key, "ENUM\\PCI\\VEN_7E31&DEV_0C52", "BUS_00&DEV_0C&FUNC_00"},
        // NT 4 service and event-log keys.
        {"nt4.service", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCI", ""},
        {"nt4.enum", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCI\\Enum", ""},
        {"nt4.security", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCI\\Security", ""},
        {"nt4.parameters", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCI\\Parameters", ""},
        {"nt4.eventlog", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\TELLAMPCI", ""},
        {"nt4.decoy", Kind::Key, "SYSTEM\\CurrentControlSet\\Services\\TELLAMPCIX", "Enum|Security"},
        // NT 5/6 service keys, each with its Enum and Security subkeys.
        {"svc.1.w2k", Kind::Key, "SYSTEM\\ControlSet001\\Services\\tlmw2k", "Enum|Security"},
        {"svc.2.w2k", Kind::Key, "SYSTEM\\ControlSet002\\Services\\tlmw2k", "Enum|Security"},
        {"svc.1.wxp", Kind::Key, "SYSTEM\\ControlSet001\\Services\\tlmwxp", "Enum|Security"},
        {"svc.2.wxp", Kind::Key, "SYSTEM\\ControlSet002\\Services\\tlmwxp", "Enum|Security"},
        {"svc.1.wdm", Kind::Key, "SYSTEM\\ControlSet001\\Services\\tlmwdm", "Enum|Security"},
        {"svc.2.wdm", Kind::Key, "SYSTEM\\ControlSet002\\Services\\tlmwdm", "Enum|Security"},
        {"svc.decoy", Kind::Key, "SYSTEM\\ControlSet001\\Services\\tlmw2kx", "Enum|Security"},

        // Devices. The one without hardware id comes first in the walk.
        {"dev.noids", Kind::Device, "ROOT\\TLMREMOVETEST\\0000", ""},
        {"dev.lower", Kind::Device, "ROOT\\TLMREMOVETEST\\0001",
         MultiString({"pci\\ven_7e31&dev_0c51&subsys_0c517e31"})},
        {"dev.mixed", Kind::Device, "ROOT\\TLMREMOVETEST\\0002",
         MultiString({"PCI\\VEN_7e31&DEV_0c51&SUBSYS_0c517e31", "PCI\\VEN_7e31&DEV_0c51"})},
        {"dev.longer", Kind::Device, "ROOT\\TLMREMOVETEST\\0003",
         MultiString({"PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31&REV_01", "PCI\\VEN_7E31&DEV_0C51"})},
        {"dev.board", Kind::Device, "ROOT\\TLMREMOVETEST\\0004", MultiString({BOARD_ID})},
        {"dev.multi", Kind::Device, "ROOT\\TLMREMOVETEST\\0005",
         MultiString({"PCI\\VEN_7E31&DEV_0C51&SUBSYS_0C517E31&REV_01", BOARD_ID, "PCI\\VEN_7E31&DEV_0C51", BOARD_ID})},
    };
    return list;
}

const Artefact& Find(const std::string& label) {
    for (const Artefact& a : Artefacts())
        if (label == a.label) return a;
    throw std::runtime_error("unknown artefact " + label);
}

std::string Upper(std::string s) {
    CharUpperBuffA(&s[0], (DWORD)s.size());
    return s;
}

std::string WindowsDirectory() {
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}

std::string SystemDirectory() {
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    return dir;
}

std::string FilePath(const Artefact& a) {
    return (a.path[0] == 'W' ? WindowsDirectory() : SystemDirectory()) + a.path.substr(1);
}

std::wstring LongPath(const std::string& path) {
    std::wstring wide = L"\\\\?\\";
    for (char c : path) wide.push_back((wchar_t)(unsigned char)c);
    return wide;
}

std::string Canonical(const Artefact& a) {
    switch (a.kind) {
        case Kind::File: return "FILE:" + Upper(FilePath(a));
        case Kind::Key: return "KEY:" + Upper(a.path);
        case Kind::Device: return "DEV:" + Upper(a.path);
    }
    return "";
}

void Check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error("seeding failed: " + what + " (error " + std::to_string(GetLastError()) + ")");
}

const GUID TEST_CLASS = {0x7e310c51, 0x5eed, 0x4a11, {0x8b, 0x0a, 0x7e, 0x31, 0x0c, 0x51, 0x00, 0x01}};

void SeedFile(const Artefact& a) {
    std::string path = FilePath(a);
    size_t slash = path.find_last_of('\\');
    CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    HANDLE file =
        CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(file != INVALID_HANDLE_VALUE, "create " + path);
    DWORD written = 0;
    WriteFile(file, a.content.data(), (DWORD)a.content.size(), &written, nullptr);
    CloseHandle(file);
    Check(written == a.content.size(), "write " + path);
    if (a.attributes != FILE_ATTRIBUTE_NORMAL)
        Check(SetFileAttributesW(LongPath(path).c_str(), a.attributes), "attributes of " + path);
}

void SeedKey(const Artefact& a) {
    std::vector<std::string> keys = {a.path};
    size_t start = 0;
    while (start < a.content.size()) {
        size_t bar = a.content.find('|', start);
        keys.push_back(a.path + "\\" +
                       a.content.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    for (const std::string& k : keys) {
        HKEY key;
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, k.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        SetLastError(r);
        Check(r == ERROR_SUCCESS, "key " + k);
        const char value[] = "Tellam";
        RegSetValueExA(key, "Description", 0, REG_SZ, (const BYTE*)value, sizeof(value));
        DWORD start = 3;
        RegSetValueExA(key, "Start", 0, REG_DWORD, (const BYTE*)&start, sizeof(start));
        RegCloseKey(key);
    }
}

void SeedDevice(const Artefact& a) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&TEST_CLASS, nullptr);
    Check(set != INVALID_HANDLE_VALUE, "device list");
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    Check(SetupDiCreateDeviceInfoA(set, a.path.c_str(), &TEST_CLASS, nullptr, nullptr, 0, &device), "device " + a.path);
    if (!a.content.empty())
        Check(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, (const BYTE*)a.content.data(),
                                                (DWORD)a.content.size()),
              "hardware ids of " + a.path);
    Check(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device), "register " + a.path);
    SetupDiDestroyDeviceInfoList(set);
}

void RemoveDevice(const std::string& instance) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (SetupDiOpenDeviceInfoA(set, instance.c_str(), nullptr, 0, &device))
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    SetupDiDestroyDeviceInfoList(set);
}

void Remove(const Artefact& a) {
    switch (a.kind) {
        case Kind::File: {
            std::wstring path = LongPath(FilePath(a));
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
            break;
        }
        case Kind::Key: RegDeleteTreeA(HKEY_LOCAL_MACHINE, a.path.c_str()); break;
        case Kind::Device: RemoveDevice(a.path); break;
    }
}

void ListKeys(HKEY root, const std::string& path, std::set<std::string>& out) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out.insert("KEY:" + Upper(path));
    std::vector<std::string> children;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& child : children) ListKeys(root, path + "\\" + child, out);
}

void ListFiles(const std::string& dir, std::set<std::string>& out) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(LongPath(dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name;
        for (const wchar_t* p = found.cFileName; *p; ++p) name.push_back((char)*p);
        out.insert("FILE:" + Upper(dir + "\\" + name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::vector<std::string> OemSearchOrder() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((WindowsDirectory() + "\\INF\\OEM*.INF").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back("FILE:" + Upper(WindowsDirectory() + "\\INF\\" + found.cFileName));
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

}  // namespace

std::vector<std::string> AllArtefactLabels() {
    std::vector<std::string> labels;
    for (const Artefact& a : Artefacts())
        if (std::string(a.label) != "nt4.parameters")  // only where a case asks for it
            labels.push_back(a.label);
    return labels;
}

void SeedArtefacts(const std::vector<std::string>& labels) {
    for (const std::string& label : labels.empty() ? AllArtefactLabels() : labels) {
        const Artefact& a = Find(label);
        switch (a.kind) {
            case Kind::File: SeedFile(a); break;
            case Kind::Key: SeedKey(a); break;
            case Kind::Device: SeedDevice(a); break;
        }
    }
}

static bool KeyExists(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CleanArtefacts() {
    // Parent keys the seeding makes when the prefix does not have them; they go again once
    // empty (a key with subkeys is never deleted here).
    static const char* const parents[] = {"ENUM\\PCI",
                                          "ENUM",
                                          "SYSTEM\\ControlSet001\\Services",
                                          "SYSTEM\\ControlSet001",
                                          "SYSTEM\\ControlSet002\\Services",
                                          "SYSTEM\\ControlSet002"};
    static std::vector<const char*> madeHere;
    static bool checked = false;
    if (!checked) {
        for (const char* parent : parents)
            if (!KeyExists(parent)) madeHere.push_back(parent);
        checked = true;
    }
    for (const Artefact& a : Artefacts()) Remove(a);
    for (const char* parent : madeHere) RegDeleteKeyA(HKEY_LOCAL_MACHINE, parent);
    SetWineVersion("");
}

void RemoveArtefact(const std::string& label) { Remove(Find(label)); }

std::string DeviceInstance(const std::string& label) { return Upper(Find(label).path); }

std::vector<std::string> DeviceWalkOrder() {
    std::vector<std::string> order;
    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) return order;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        char id[512];
        if (SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof(id), nullptr)) order.push_back(Upper(id));
    }
    SetupDiDestroyDeviceInfoList(devices);
    return order;
}

std::set<std::string> TakeSnapshot() {
    std::set<std::string> s;
    std::string windows = WindowsDirectory();
    for (const std::string& dir :
         {windows + "\\INF", windows + "\\INF\\OTHER", windows + "\\System32\\Drivers", SystemDirectory()})
        ListFiles(dir, s);
    ListKeys(HKEY_LOCAL_MACHINE, "ENUM", s);
    ListKeys(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", s);
    ListKeys(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services", s);
    ListKeys(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Services", s);

    HDEVINFO devices = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (devices != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof(device);
        for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            char id[512];
            if (SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof(id), nullptr)) s.insert("DEV:" + Upper(id));
        }
        SetupDiDestroyDeviceInfoList(devices);
    }
    return s;
}

std::set<std::string> EntriesOf(const std::set<std::string>& snapshot, const std::vector<std::string>& labels) {
    std::set<std::string> entries;
    for (const std::string& label : labels) {
        const Artefact& a = Find(label);
        std::string name = Canonical(a);
        for (const std::string& entry : snapshot)
            if (entry == name || (a.kind == Kind::Key && entry.rfind(name + "\\", 0) == 0)) entries.insert(entry);
    }
    return entries;
}

std::string FirstInSearchOrder(const std::vector<std::string>& labels) {
    for (const std::string& entry : OemSearchOrder())
        for (const std::string& label : labels)
            if (entry == Canonical(Find(label))) return label;
    return "";
}

int SearchPosition(const std::string& label) {
    std::vector<std::string> order = OemSearchOrder();
    auto it = std::find(order.begin(), order.end(), Canonical(Find(label)));
    return it == order.end() ? -1 : (int)(it - order.begin());
}

void SetWineVersion(const std::string& version) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (version.empty())
        RegDeleteValueA(key, "Version");
    else
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE*)version.c_str(), (DWORD)version.size() + 1);
    RegCloseKey(key);
}
