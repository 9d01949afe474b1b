// The settings dialog: initialisation from the firmware's state, the commands, the minimised icon.
#include "ui/PelloranDlg.h"

#include "firmware/FirmwareCalls.h"
#include "firmware/FirmwareState.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"
#include "lang/LangFile.h"
#include "lang/Language.h"
#include "prefs/ModePreference.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"

#include <cstdlib>
#include <new>
#include <utility>

namespace {

constexpr wchar_t kCaption[] = L"Pelloran";
constexpr wchar_t kNoManagementObject[] = L"Can't get WMI TolvekManagement object";
constexpr wchar_t kNoStatus[] = L"Can't get WMI Pelloran status";
constexpr UINT kFatalStyle = MB_OK | MB_ICONEXCLAMATION;

std::wstring LangFilePath() { return GetModuleDir() + kLangFileName; }

// Marks a firmware call as in flight for as long as it lives.
class CallInFlight {
public:
    explicit CallInFlight(bool& flag) : m_flag(flag) { m_flag = true; }
    ~CallInFlight() { m_flag = false; }
    CallInFlight(const CallInFlight&) = delete;
    CallInFlight& operator=(const CallInFlight&) = delete;

private:
    bool& m_flag;
};

}  // namespace

BEGIN_MESSAGE_MAP(CPelloranDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_ENABLE, OnBnClickedEnable)
    ON_BN_CLICKED(IDC_DISABLE, OnBnClickedDisable)
    ON_WM_DESTROY()
    ON_BN_CLICKED(IDC_ADAPTER_MODE, OnBnClickedAdapterMode)
    ON_BN_CLICKED(IDC_ADAPTER_BATTERY_MODE, OnBnClickedAdapterBatteryMode)
    ON_COMMAND(IDM_POLICY_NOT_APPLIED, OnChangeNotApplied)
END_MESSAGE_MAP()

CPelloranDlg::CPelloranDlg()
    : CDialog(IDD_PELLORAN_DIALOG),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_PELLORAN))) {}

// The icon is shared and the firmware connection outlives the dialog: neither is released here.
CPelloranDlg::~CPelloranDlg() = default;

INT_PTR CPelloranDlg::DoModal() {
    // A language written from right to left gets the whole dialog mirrored (the label after the
    // state, Enable at the right, the radio buttons' circles at the right, the scroll bar at the
    // left) and every text read from right to left. The mirroring is given when the window is
    // created, so the language is chosen before the window exists.
    ChooseLanguage();
    const bool rightToLeft = IsRightToLeftLanguage(m_nLanguage);
    m_dwAddedExStyle = rightToLeft ? WS_EX_LAYOUTRTL : 0;
    m_dwAddedControlExStyle = rightToLeft ? WS_EX_RTLREADING : 0;
    return CDialog::DoModal();
}

void CPelloranDlg::ChooseLanguage() { m_nLanguage = LanguageNumberFromLangId(::GetUserDefaultLangID()); }

std::wstring CPelloranDlg::GetLangText(int key, const std::wstring& filePath) const {
    return ReadLangValue(m_nLanguage, key, filePath, kShortTextRoom);
}

void CPelloranDlg::AppendLangText(int key, const std::wstring& filePath) {
    AppendLangValue(m_strDescription, m_nLanguage, key, filePath);
}

BOOL CPelloranDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AddAboutEntryAndIcons();
    m_bFirmwareReady = 0;
    m_policy = ReadUsbChargingPolicy();
    ShowTexts();
    m_bComInitialized = InitComSecurity();
    g_pWmiClient = new (std::nothrow) WmiClient();
    if (g_pWmiClient != nullptr)
        ShowFirmwareState();
    else
        ShowUnavailable();
    if (!m_policy.IsSet()) return TRUE;
    LockSwitches();
    return FALSE;  // the focus is set
}

void CPelloranDlg::AddAboutEntryAndIcons() {
    if (HMENU sysMenu = GetSystemMenu(FALSE)) {
        const std::wstring about = AfxLoadString(IDS_ABOUTBOX);
        if (!about.empty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
}

void CPelloranDlg::ShowTexts() {
    const std::wstring path = LangFilePath();
    for (const auto& [id, key] : {std::pair{IDC_ADAPTER_MODE, kKeyAdapterMode}, {IDC_ADAPTER_BATTERY_MODE, kKeyAdapterBatteryMode},
                                  {IDC_STATUS_LABEL, kKeyStatusLabel}, {IDC_ENABLE, kKeyOnText}, {IDC_DISABLE, kKeyOffText}})
        SetDlgItemText(id, GetLangText(key, path).c_str());
    m_strDescription.clear();
    // Under a policy, the description says first, in a paragraph of its own, who decides.
    if (m_policy.IsSet()) m_strDescription = LangTextOr(kKeyManaged, kEnglishManaged) + L"\r\n\r\n";
    for (int key : kDescriptionKeys) AppendLangText(key, path);
    SetDlgItemText(IDC_DESCRIPTION, m_strDescription.c_str());
}

void CPelloranDlg::ShowFirmwareState() {
    // Whatever the firmware does, it holds up the start for the start-up's bound at most: the connection,
    // the query and the calls below share that time.
    const Deadline startup(kStartupBoundMs);
    const CallInFlight call(m_bCallInFlight);
    const FirmwareReading reading = ReadFirmwareAtStart(startup);
    // Without a connection, or when a step learned nothing in time, the firmware is not available, and the
    // dialog never calls it again: what it did not learn is no reason for a fatal message.
    if (reading.outcome == FirmwareReading::kNotAvailable) return ShowUnavailable();
    if (reading.outcome == FirmwareReading::kNoManagementObject) EndWithMessage(kNoManagementObject);
    m_bFirmwareReady = 1;
    if (reading.outcome == FirmwareReading::kNoStatus) EndWithMessage(kNoStatus);
    ShowFeatureState(reading.status);
    // A policy's state is sent instead, unless the firmware is in it already.
    if (m_policy.IsSet() && reading.Mode() != m_policy.control) return ApplyPolicy(startup);
    // The firmware is handed back the very mode it reported.
    if (reading.Mode() == PELLORAN_CTRL_ADAPTER || reading.Mode() == PELLORAN_CTRL_ADAPTER_BATTERY)
        SetDeviceControl(reading.Mode(), startup);
}

void CPelloranDlg::ApplyPolicy(const Deadline& startup) {
    // Still the start: the change and its read-back each within a call's bound and the start's deadline.
    const HRESULT sent = SetDeviceControl(m_policy.control, startup.Sooner(kFirmwareBoundMs));
    const FirmwareReading reading = ReadFirmwareStatus(startup.Sooner(kFirmwareBoundMs));
    ShowReadBack(reading);
    // The warning waits for the end of the start, so that the dialog is on screen behind it. A message posted to
    // a window that is still being created stays queued until its modal loop runs.
    if (FAILED(sent) || reading.outcome != FirmwareReading::kStatus || reading.Mode() != m_policy.control)
        ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDM_POLICY_NOT_APPLIED, 0), 0 /* from no control */);
}

void CPelloranDlg::LockSwitches() {
    DisableSwitches();
    // The description is the one control left to read: it gets the focus with its caret at the start and nothing
    // selected (the dialog manager, given the focus to set, would select the whole text of an edit control).
    const HWND description = GetDlgItem(IDC_DESCRIPTION);
    ::SetFocus(description);
    ::SendMessageW(description, EM_SETSEL, 0 /* start */, 0 /* end: an empty selection */);
}

void CPelloranDlg::OnChangeNotApplied() { WarnNotApplied(); }

void CPelloranDlg::WarnNotApplied() const {
    MessageBox(LangTextOr(kKeyChangeNotApplied, kEnglishChangeNotApplied).c_str(), kCaption,
               WarningStyle(IsRightToLeftLanguage(m_nLanguage)));
}

void CPelloranDlg::EndWithMessage(const wchar_t* text) const {
    MessageBox(text, kCaption, kFatalStyle);
    std::exit(0);
}

void CPelloranDlg::ShowFeatureState(int status) const {
    const int mode = status & PELLORAN_STATUS_MODE_MASK;
    const bool known = mode == PELLORAN_CTRL_ADAPTER || mode == PELLORAN_CTRL_ADAPTER_BATTERY;
    // While off, and for a mode the dialog does not know, the radio buttons show the mode the user chose last,
    // so that closing stores that choice again, never a guess.
    CheckMode(known ? mode == PELLORAN_CTRL_ADAPTER : StoredModeIsAdapter());
    const bool on = mode != PELLORAN_CTRL_OFF;  // an unknown mode keeps the on form, with live commands
    ShowStateText(on);
    EnableSwitchControls(on);
}

void CPelloranDlg::ShowUnavailable() const {
    SetDlgItemText(IDC_STATUS_TEXT, LangTextOr(kKeyNotAvailable, kEnglishNotAvailable).c_str());
    DisableSwitches();
    CheckMode(StoredModeIsAdapter());
}

void CPelloranDlg::DisableSwitches() const {
    for (int id : {IDC_ENABLE, IDC_DISABLE, IDC_ADAPTER_MODE, IDC_ADAPTER_BATTERY_MODE}) EnableDlgItem(id, FALSE);
}

void CPelloranDlg::ShowReadBack(const FirmwareReading& reading) const {
    if (reading.outcome == FirmwareReading::kStatus)
        ShowFeatureState(reading.status);
    else
        ShowUnavailable();
}

bool CPelloranDlg::StoredModeIsAdapter() const {
    int stored = 0;  // a registry that cannot be opened leaves it, which is not Adapter Mode
    // Under a policy the dialog writes no mode, not even the default for one that cannot be read.
    if (m_policy.IsSet() && !PeekModePreference(stored)) return true;
    if (!m_policy.IsSet()) AccessModePreference(MODE_PREFERENCE_READ, stored);
    return stored == 1;
}

void CPelloranDlg::CheckMode(bool adapterOnly) const {
    CheckDlgButton(IDC_ADAPTER_MODE, adapterOnly ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_ADAPTER_BATTERY_MODE, adapterOnly ? BST_UNCHECKED : BST_CHECKED);
}

std::wstring CPelloranDlg::LangTextOr(int key, const wchar_t* english) const {
    const std::wstring text = GetLangText(key, LangFilePath());
    return text.empty() ? std::wstring(english) : text;
}

void CPelloranDlg::EnableSwitchControls(bool on) const {
    EnableDlgItem(IDC_ENABLE, !on);
    EnableDlgItem(IDC_DISABLE, on);
    EnableDlgItem(IDC_ADAPTER_MODE, on);
    EnableDlgItem(IDC_ADAPTER_BATTERY_MODE, on);
}

void CPelloranDlg::ShowStateText(bool on) const {
    const std::wstring text = GetLangText(on ? kKeyOnText : kKeyOffText, LangFilePath());
    SetDlgItemText(IDC_STATUS_TEXT, text.c_str());
}

void CPelloranDlg::SendControl(int controlValue) {
    if (m_bFirmwareReady != 1) return;
    m_bCheckedAdapter = IsDlgButtonChecked(IDC_ADAPTER_MODE) == BST_CHECKED;  // what the call is made for
    FirmwareChange change;
    {
        const CallInFlight call(m_bCallInFlight);
        change = ChangeFirmware(controlValue);
    }
    if (SUCCEEDED(change.sent)) return;
    // The firmware did not take it: the dialog shows what the firmware reports instead, or that its state is
    // not available, and says so.
    ShowReadBack(change.readBack);
    WarnNotApplied();
}

bool CPelloranDlg::IgnoresClick(int controlId) {
    if (!m_bCallInFlight) return false;
    // A thread that an input method made single-threaded dispatches messages while it waits for the firmware,
    // so a click may come in during a call: it starts nothing, and the buttons show what they showed before.
    if (controlId == IDC_ADAPTER_MODE || controlId == IDC_ADAPTER_BATTERY_MODE) CheckMode(m_bCheckedAdapter);
    return true;
}

void CPelloranDlg::OnBnClickedEnable() {
    if (IgnoresClick(IDC_ENABLE)) return;
    EnableSwitchControls(true);
    ShowStateText(true);
    // One value, the mode checked when the click came (a change that is not applied may check another).
    if (IsDlgButtonChecked(IDC_ADAPTER_MODE))
        SendControl(PELLORAN_CTRL_ADAPTER);
    else if (IsDlgButtonChecked(IDC_ADAPTER_BATTERY_MODE))
        SendControl(PELLORAN_CTRL_ADAPTER_BATTERY);
}

void CPelloranDlg::OnBnClickedDisable() {
    if (IgnoresClick(IDC_DISABLE)) return;
    EnableSwitchControls(false);
    ShowStateText(false);
    SendControl(PELLORAN_CTRL_OFF);
}

void CPelloranDlg::OnBnClickedAdapterMode() {
    if (!IgnoresClick(IDC_ADAPTER_MODE)) SendControl(PELLORAN_CTRL_ADAPTER);
}

void CPelloranDlg::OnBnClickedAdapterBatteryMode() {
    if (!IgnoresClick(IDC_ADAPTER_BATTERY_MODE)) SendControl(PELLORAN_CTRL_ADAPTER_BATTERY);
}

void CPelloranDlg::OnDestroy() {
    // The mode is the user's choice only while no policy decides.
    int adapterOnly = IsDlgButtonChecked(IDC_ADAPTER_MODE) ? 1 : 0;
    if (!m_policy.IsSet()) AccessModePreference(MODE_PREFERENCE_WRITE, adapterOnly);
    ReleaseWmiObjects();  // COM objects go before COM ends; the client record itself stays
    if (m_bComInitialized) ::CoUninitialize();  // only the initialisation that was this dialog's own
    CDialog::OnDestroy();
}

bool IsAboutCommand(UINT nID) { return (nID & 0xFFF0) == IDM_ABOUTBOX; }

UINT WarningStyle(bool rightToLeft) {
    // A language written from right to left reads the warning from right to left, aligned at the right.
    return MB_OK | MB_ICONWARNING | (rightToLeft ? MB_RTLREADING | MB_RIGHT : 0);
}

void CPelloranDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if (IsAboutCommand(nID)) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    CDialog::OnSysCommand(nID, lParam);
}

POINT CenteredIconOrigin(const RECT& client, int cxIcon, int cyIcon) {
    return {(client.right - client.left - cxIcon + 1) / 2, (client.bottom - client.top - cyIcon + 1) / 2};
}

void CPelloranDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(*this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const POINT origin = CenteredIconOrigin(client, cxIcon, cyIcon);
    dc.DrawIcon(origin.x, origin.y, m_hIcon);
}

HCURSOR CPelloranDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
