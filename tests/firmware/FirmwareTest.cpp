// The WMI client and the firmware's method calls against the simulator: what reaches WMI, in which order,
// how each answer is taken, the retries, the bounds of a slow or stalled firmware, and the objects released.
// The simulator runs in this process by a virtual clock: a stall moves it on, so that the bounds cost no wall time.
#include "firmware/Clock.h"
#include "firmware/FirmwareCalls.h"
#include "firmware/FirmwareState.h"
#include "firmware/WmiClient.h"
#include "sim/VirtualClock.h"
#include "tests/driver/DialogWindows.h"
#include "tests/support/Files.h"
#include "tests/support/SimRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>

using namespace testsupport;

namespace {

VirtualClock& TestClock() {
    static VirtualClock clock;  // made on the first call, by the tests' thread: the client
    return clock;
}

}  // namespace

extern "C" __declspec(dllexport) ClockSource* PelloranVirtualClock() { return &TestClock(); }

namespace {

const std::string kPath = "\\\\SIMULATOR\\root\\wmi:TolvekManagement.InstanceName=\"Tolvek_";
constexpr int kUnwritten = 0x7777;  // a status word no call may leave behind

// The arguments this program last passed to CoInitializeSecurity while its import was taken over (Wine's own
// sets nothing and answers S_OK whatever it is given, so only the call itself can be seen).
std::vector<ULONG_PTR> g_securityArguments;
HRESULT WINAPI RecordSecurity(PSECURITY_DESCRIPTOR sd, LONG services, SOLE_AUTHENTICATION_SERVICE* list, void* reserved1,
                              DWORD level, DWORD impersonation, void* authentication, DWORD capabilities, void* reserved3) {
    g_securityArguments = {ULONG_PTR(sd), ULONG_PTR(services), ULONG_PTR(list), ULONG_PTR(reserved1), level,
                           impersonation, ULONG_PTR(authentication), capabilities, ULONG_PTR(reserved3)};
    return S_OK;
}

// While it lives, this executable's calls of an imported function go to another one: its import address table
// entry is swapped, and swapped back at the end.
class ImportTakenOver {
public:
    ImportTakenOver(const char* dll, const char* function, void* replacement) {
        void* original = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(dll), function));
        auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); import->Name != 0; ++import)
            for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk); entry->u1.Function != 0; ++entry)
                if (reinterpret_cast<void*>(entry->u1.Function) == original) m_entry = &entry->u1.Function;
        if (m_entry != nullptr) Swap(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~ImportTakenOver() {
        if (m_entry != nullptr) Swap(m_original);
    }
    bool active() const { return m_entry != nullptr; }

private:
    void Swap(ULONG_PTR value) {
        DWORD protection = 0;
        ::VirtualProtect(m_entry, sizeof(*m_entry), PAGE_READWRITE, &protection);
        m_original = std::exchange(*m_entry, value);
        ::VirtualProtect(m_entry, sizeof(*m_entry), protection, &protection);
    }
    decltype(IMAGE_THUNK_DATA::u1.Function)* m_entry = nullptr;
    ULONG_PTR m_original = 0;
};

class FirmwareTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetClockSource(&TestClock());
        InitComSecurity();
    }

    // A fresh client on its own scenario.
    void Prepare(const std::string& scenario) {
        TearDown();
        TestClock().Forget();
        static int runs = 0;
        m_run = std::make_unique<SimRun>(FreshFolder("firmware-" + std::to_string(++runs)));
        m_run->Scenario(scenario);
        g_pWmiClient = new WmiClient();
    }

    // The same, connected and queried as the dialog does; the instance count.
    int Start(const std::string& scenario) {
        Prepare(scenario);
        m_connected = ConnectNamespace(L"root\\wmi", Deadline(kFirmwareBoundMs), &m_answer);
        return m_connected ? QueryInstances(L"TolvekManagement", Deadline(kFirmwareBoundMs)) : -1;
    }

    void TearDown() override {
        delete g_pWmiClient;
        g_pWmiClient = nullptr;
    }

    std::unique_ptr<SimRun> m_run;
    bool m_connected = false;  // what the last start's connection answered
    HRESULT m_answer = S_OK;
};

TEST_F(FirmwareTest, ComInTheMultithreadedApartmentAndOnlySOkFromConnectServerAsAConnection) {
    EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE) << "not a change of model";
    EXPECT_EQ(Start("Answers.ConnectServer=WBEM_S_FALSE"), -1);
    EXPECT_FALSE(m_connected) << "a warning with the namespace is no connection";
    EXPECT_EQ(m_answer, WBEM_E_FAILED);
    EXPECT_TRUE(!g_pWmiClient->bConnected && g_pWmiClient->pServices == nullptr);
    EXPECT_EQ(QueryInstances(L"TolvekManagement", Deadline(kFirmwareBoundMs)), 0);
    EXPECT_TRUE(m_run->Log("ExecQuery").empty());
    EXPECT_EQ(m_run->Log("ConnectServer").at(0)["flags"], "0x80") << "an abandoned connection ends within 2 minutes";
    // The namespace that came with the warning is released, not kept (the worker's locator and it both go).
    EXPECT_TRUE(WaitUntil([&] { return m_run->Log("Free").size() == 2; })) << m_run->Log("Free").size();
}

// A thread that something else made single-threaded keeps its apartment: COM is not the client's to end there, yet
// the process's security is set all the same, with the program's arguments.
TEST_F(FirmwareTest, AThreadAlreadySingleThreadedStillSetsTheProcessSecurity) {
    const ImportTakenOver security("ole32.dll", "CoInitializeSecurity", reinterpret_cast<void*>(&RecordSecurity));
    ASSERT_TRUE(security.active());
    g_securityArguments.clear();
    bool ours = true;
    std::thread([&] {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ours = InitComSecurity();
        ::CoUninitialize();
    }).join();
    EXPECT_FALSE(ours);
    EXPECT_EQ(g_securityArguments, (std::vector<ULONG_PTR>{0, ULONG_PTR(-1), 0, 0, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                                           RPC_C_IMP_LEVEL_IMPERSONATE, 0, EOAC_SECURE_REFS, 0}));
}

TEST_F(FirmwareTest, QueryCountsTheInstancesKeepsTheLastCountedOneFirstAndBoundsItsText) {
    ASSERT_EQ(Start("Instances=3"), 3);
    const SimLogEntry query = m_run->Log("ExecQuery").at(0);
    EXPECT_EQ(query["lang"] + ": " + query["query"], "WQL: Select * From TolvekManagement");
    EXPECT_EQ(query["flags"], "0x30") << "forward only, returning at once";
    // A forward-only enumerator refuses to rewind: only the last object counted has its path.
    const BSTR* paths = g_pWmiClient->pInstancePaths;
    ASSERT_NE(paths, nullptr);
    EXPECT_EQ(std::string(paths[0], paths[0] + ::SysStringLen(paths[0])), kPath + "2\"");
    EXPECT_TRUE(paths[1] == nullptr && paths[2] == nullptr);
    EXPECT_EQ(QueryInstances(std::wstring(300, L'X').c_str(), Deadline(kFirmwareBoundMs)), 0);
    ASSERT_EQ(m_run->Log("ExecQuery").size(), 2u);
    EXPECT_EQ(m_run->Log("ExecQuery")[1]["query"], "Select * From " + std::string(185, 'X')) << "cut to its room";
}

TEST_F(FirmwareTest, SetDeviceControlPutsBothValuesAndExecutesOnTheFoundPath) {
    ASSERT_EQ(Start(""), 1);
    EXPECT_EQ(SetDeviceControl(3, Deadline(kFirmwareBoundMs)), S_OK);
    std::vector<SimLogEntry> calls;
    for (const SimLogEntry& entry : m_run->Log())
        if (entry.event != "Free" && (!calls.empty() || entry.event == "GetObject")) calls.push_back(entry);
    calls.erase(std::remove_if(calls.begin(), calls.end(), [](const SimLogEntry& e) { return e.event == "SetBlanket"; }),
                calls.end());
    std::string events;
    for (const SimLogEntry& call : calls) events += call.event + " ";
    // The class lookup and the method return at once; their answers are awaited through call results.
    ASSERT_EQ(events, "GetObject Answer GetResultObject GetMethod SpawnInstance Put Put ExecMethod Answer GetResultObject ");
    EXPECT_EQ(calls[0]["path"] + " " + calls[0]["flags"], "TolvekManagement 0x10");
    EXPECT_EQ(calls[3]["name"] + " " + calls[3]["outsig"], "device_ctrl <null>");
    EXPECT_EQ(calls[4]["this"], calls[3]["in"]) << "in-parameters spawned from the method's definition";
    for (int i : {5, 6}) {
        EXPECT_EQ(calls[i]["this"], calls[4]["out"]);
        EXPECT_EQ(calls[i]["vt"] + " " + calls[i]["type"], "3 0") << "VT_I4, its own type deciding";
    }
    EXPECT_EQ(calls[5]["name"] + "=" + calls[5]["value"], "ctrl_param=3");
    EXPECT_EQ(calls[6]["name"] + "=" + calls[6]["value"], "device_id=393249");
    EXPECT_EQ(calls[7]["path"], kPath + "0\"");
    EXPECT_EQ(calls[7]["method"] + " " + calls[7]["flags"], "device_ctrl 0x10");
    EXPECT_EQ(calls[7]["in"], calls[4]["out"]);
    EXPECT_TRUE(g_pWmiClient->params.empty());
}

// Any integer type, as the unsigned bit pattern it carries (a negative narrow one must not fake bit 16).
TEST_F(FirmwareTest, OnlyAnIntegerStatusIsAStatusWordAndNeverSignExtended) {
    const std::tuple<std::string, std::string, int> cases[] = {
        {"I4", "65537", 0x10001}, {"UI4", "65537", 0x10001}, {"I8", "65537", 0x10001}, {"I2", "0xFFFF", 0xFFFF},
        {"I1", "0xFD", 0xFD}, {"I8", "0xFFFFFFFFFFFFFFFF", kUnwritten}, {"UI8", "0x100010001", kUnwritten},
        {"BSTR", "65537", kUnwritten}, {"R8", "65537", kUnwritten}, {"NULL", "65537", kUnwritten}, {"MISSING", "65537", kUnwritten}};
    for (const auto& [type, word, read] : cases) {
        SCOPED_TRACE(type + " " + word);
        ASSERT_EQ(Start("StatusWord=" + word + ";StatusType=" + type), 1);
        int status = kUnwritten;
        EXPECT_EQ(SUCCEEDED(GetDeviceStatus(status, Deadline(kFirmwareBoundMs))), read != kUnwritten) << "no status word is a failed read";
        EXPECT_EQ(status, read);
        EXPECT_EQ(m_run->Log("Put")[0]["value"], "393249") << "device_id";
    }
}

// Only a failure that may pass is tried again, by the class definition's lookup as by the method: the first
// attempt fails with the code, a second would succeed. A dead connection (the WMI service stopped or restarted)
// cannot pass, however long it is tried.
TEST_F(FirmwareTest, OnlyAFailureThatMayPassIsTriedAgain) {
    const std::pair<const char*, bool> codes[] = {
        {"WBEM_E_FAILED", true}, {"WBEM_E_TIMED_OUT", true}, {"WBEM_E_SERVER_TOO_BUSY", true}, {"RPC_E_CALL_REJECTED", true},
        {"RPC_E_DISCONNECTED", false}, {"RPC_E_SERVER_DIED", false}, {"RPC_E_SERVER_DIED_DNE", false},
        {"RPC_S_SERVER_UNAVAILABLE", false}, {"WBEM_E_SHUTTING_DOWN", false},
        {"WBEM_E_INVALID_METHOD", false}, {"WBEM_E_INVALID_PARAMETER", false}, {"WBEM_E_ACCESS_DENIED", false},
        {"E_ACCESSDENIED", false}, {"WBEM_E_NOT_FOUND", false}};
    for (const auto& [code, mayPass] : codes)
        for (const std::string kind : {"GetObject", "device_ctrl"}) {
            SCOPED_TRACE(std::string(code) + " " + kind);
            ASSERT_EQ(Start("Answers." + kind + "=" + code), 1);
            EXPECT_EQ(SUCCEEDED(SetDeviceControl(1, Deadline(kFirmwareBoundMs))), mayPass);
            EXPECT_EQ(m_run->Log(kind == "GetObject" ? "GetObject" : "ExecMethod").size(), mayPass ? 2u : 1u);
        }
}

TEST_F(FirmwareTest, StepsBeforeTheMethodMustAnswerSOk) {
    for (const char* step : {"GetObject", "GetMethod", "SpawnInstance"}) {
        SCOPED_TRACE(step);
        ASSERT_EQ(Start(std::string("Answers.") + step + "=WBEM_S_FALSE"), 1);  // a success code, with the object
        EXPECT_EQ(SetDeviceControl(1, Deadline(kFirmwareBoundMs)), WBEM_S_FALSE);
        EXPECT_TRUE(m_run->Log("ExecMethod").empty());
        EXPECT_TRUE(g_pWmiClient->params.empty());
    }
}

TEST_F(FirmwareTest, AStatusCallThatExecutesNothingNeverReportsAnEarlierAnswer) {
    ASSERT_EQ(Start("StatusWord=65537"), 1);
    int status = kUnwritten;
    ASSERT_EQ(GetDeviceStatus(status, Deadline(kFirmwareBoundMs)), S_OK);
    m_run->Scenario("Answers.GetObject=WBEM_S_FALSE");
    ASSERT_TRUE(ConnectNamespace(L"root\\wmi", Deadline(kFirmwareBoundMs)));  // the same client, on a namespace that now stops early
    status = kUnwritten;
    EXPECT_TRUE(FAILED(GetDeviceStatus(status, Deadline(kFirmwareBoundMs))));
    EXPECT_EQ(status, kUnwritten);
}

// Six retries in all, half a second apart, however the call's steps share them (a step that succeeds hands its
// slot on to the next); the attempts of a call made late in a longer deadline are timed from the call's start.
TEST_F(FirmwareTest, AFailingCallIsTriedAgainSixTimesHalfASecondApart) {
    ASSERT_EQ(Start("Answers.GetObject=WBEM_E_SERVER_TOO_BUSY,WBEM_E_SERVER_TOO_BUSY;Answers.device_ctrl=WBEM_E_TRANSPORT_FAILURE*"), 1);
    const Deadline deadline(kStartupBoundMs);
    ClockSleep(1000);
    EXPECT_EQ(SetDeviceControl(1, deadline), WBEM_E_TRANSPORT_FAILURE);
    std::vector<SimLogEntry> attempts = m_run->Log("GetObject");
    ASSERT_EQ(attempts.size(), 3u);
    const std::vector<SimLogEntry> methods = m_run->Log("ExecMethod");
    ASSERT_EQ(methods.size(), 5u);
    attempts.insert(attempts.end(), methods.begin() + 1, methods.end());
    for (size_t i = 1; i < attempts.size(); ++i) EXPECT_GE(attempts[i].t() - attempts[i - 1].t(), 450) << i;
}

// A start-up step that stalls is given up at the start's bound and learned nothing: the firmware is not available,
// never without an object or a status; a slow step that answers within the bound is taken.
TEST_F(FirmwareTest, AStartUpStepGivenUpAtTheBoundLearnedNothing) {
    struct Row {
        const char* scenario;
        FirmwareReading::Outcome outcome;
        int status;
        int path;  // the instance the status call addressed (-1: none was made)
    };
    const Row rows[] = {
        {"Answers.ConnectServer=never", FirmwareReading::kNotAvailable, 0, -1},
        {"Answers.ConnectServer=@10800", FirmwareReading::kNotAvailable, 0, -1},
        {"Answers.Next=never", FirmwareReading::kNotAvailable, 0, -1},
        {"Answers.GetObject=never", FirmwareReading::kNotAvailable, 0, -1},
        {"Answers.device_status=never", FirmwareReading::kNotAvailable, 0, 0},
        {"Answers.ConnectServer=@8500;Answers.Next=@2500", FirmwareReading::kNotAvailable, 0, -1},
        {"SlowLogOn=1", FirmwareReading::kNotAvailable, 0, 0},
        {"StatusWord=0x10003;Answers.*=@5000", FirmwareReading::kStatus, 0x10003, 0},            // a cold machine
        {"StatusWord=0x10001;Answers.device_status=@5000", FirmwareReading::kStatus, 0x10001, 0},  // a cold provider
        // An end of the enumeration that does not come: the status call addresses the last instance counted, in time.
        {"StatusWord=0x10001;Answers.Next=S_OK,never;Answers.device_status=@300", FirmwareReading::kStatus, 0x10001, 0},
        {"Instances=3;StatusWord=0x10003;Answers.Next=S_OK,S_OK,S_OK,never;Answers.device_status=@300",
         FirmwareReading::kStatus, 0x10003, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.scenario);
        Prepare(row.scenario);
        const ULONGLONG started = ClockNowMs();
        const FirmwareReading reading = ReadFirmwareAtStart(Deadline(kStartupBoundMs));
        EXPECT_LE(ClockNowMs() - started, kStartupBoundMs);
        EXPECT_EQ(reading.outcome, row.outcome);
        EXPECT_EQ(reading.outcome == FirmwareReading::kNotAvailable, LearnedNothing(reading.hr));
        EXPECT_EQ(reading.status, row.status);
        const std::vector<SimLogEntry> calls = m_run->Log("ExecMethod");
        ASSERT_EQ(calls.size(), row.path < 0 ? 0u : 1u) << "a start-up status read is tried once";
        if (row.path >= 0) {
            EXPECT_EQ(calls[0]["path"], kPath + std::to_string(row.path) + "\"");
        }
    }
    // The connection that came after the bound is released, never used, once its time has come.
    Prepare("Answers.ConnectServer=@10800");
    ReadFirmwareAtStart(Deadline(kStartupBoundMs));
    ClockSleep(1000);
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<SimLogEntry> freed = m_run->Log("Free");
        return std::any_of(freed.begin(), freed.end(), [](const SimLogEntry& e) { return e["kind"] == "Services"; });
    }));
}

// A click's control call and read-back share one bound below the 5 s after which Windows calls a window that
// handles no message not responding, however they stall; a late answer acts when it comes.
TEST_F(FirmwareTest, AClickAndItsReadBackShareOneBound) {
    constexpr ULONGLONG kNotRespondingMs = 5000;
    const std::tuple<const char*, FirmwareReading::Outcome, int> rows[] = {
        {"Answers.device_ctrl=never", FirmwareReading::kStatus, 0x10000},
        {"Answers.device_ctrl=never;Answers.device_status=never", FirmwareReading::kNotAvailable, 0},
        {"Answers.device_ctrl=@6000", FirmwareReading::kStatus, 0x10000}};
    for (const auto& [scenario, outcome, status] : rows) {
        SCOPED_TRACE(scenario);
        ASSERT_EQ(Start(scenario), 1);
        const ULONGLONG started = ClockNowMs();
        const FirmwareChange change = ChangeFirmware(3);
        EXPECT_LT(ClockNowMs() - started, kNotRespondingMs);
        EXPECT_EQ(change.sent, WBEM_E_TIMED_OUT);
        EXPECT_EQ(change.readBack.outcome, outcome);
        EXPECT_EQ(change.readBack.status, status);
    }
    ClockSleep(kFirmwareBoundMs);  // the late answer of the last row comes
    EXPECT_TRUE(WaitUntil([&] { return ReadFirmwareStatus(Deadline(kFirmwareBoundMs)).status == 0x10003; }));
}

}  // namespace
