// The settings dialog: initialisation from the firmware's state, the commands, the minimised icon.
#include "ui/PelloranDlg.h"

#include "firmware/FirmwareCalls.h"
#include "firmware/PelloranCodes.h"
#include "firmware/WmiClient.h"
#include "lang/LangFile.h"
#include "lang/Language.h"
#include "prefs/ModePreference.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"

#include <cstdlib>
#include <new>

namespace {

constexpr wchar_t kCaption[] = L"Pelloran";
constexpr wchar_t kNoManagementObject[] = L"Can't get WMI TolvekManagement object";
constexpr wchar_t kNoStatus[] = L"Can't get WMI Pelloran status";
constexpr UINT kFatalStyle = MB_OK | MB_ICONEXCLAMATION;

std::wstring LangFilePath() { return GetModuleDir() + kLangFileName; }

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
    // created, so the language's direction is settled before the window exists.
    const bool rightToLeft = IsRightToLeftLanguage(LanguageNumberFromLangId(::GetUserDefaultLangID()));
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

    // The About entry at the end of the system menu, then the window icons.
    if (HMENU sysMenu = GetSystemMenu(FALSE)) {
        const std::wstring about = AfxLoadString(IDS_ABOUTBOX);
        if (!about.empty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bFirmwareReady = 0;
    ChooseLanguage();

    // Every text of the dialog but its caption comes from the language file.
    const std::wstring path = LangFilePath();
    const std::wstring statusLabel = GetLangText(kKeyStatusLabel, path);
    const std::wstring onText = GetLangText(kKeyOnText, path);
    const std::wstring offText = GetLangText(kKeyOffText, path);
    const std::wstring adapterMode = GetLangText(kKeyAdapterMode, path);
    const std::wstring adapterBatteryMode = GetLangText(kKeyAdapterBatteryMode, path);
    SetDlgItemText(IDC_ADAPTER_MODE, adapterMode.c_str());
    SetDlgItemText(IDC_ADAPTER_BATTERY_MODE, adapterBatteryMode.c_str());
    SetDlgItemText(IDC_STATUS_LABEL, statusLabel.c_str());
    SetDlgItemText(IDC_ENABLE, onText.c_str());
    SetDlgItemText(IDC_DISABLE, offText.c_str());

    m_strDescription.clear();
    for (int key : kDescriptionKeys) AppendLangText(key, path);
    SetDlgItemText(IDC_DESCRIPTION, m_strDescription.c_str());

    // The default state, the on form in Adapter Mode, stays while the firmware reports nothing usable.
    SetDlgItemText(IDC_STATUS_TEXT, onText.c_str());
    EnableDlgItem(IDC_ENABLE, FALSE);
    EnableDlgItem(IDC_DISABLE, TRUE);
    CheckDlgButton(IDC_ADAPTER_MODE, BST_CHECKED);
    CheckDlgButton(IDC_ADAPTER_BATTERY_MODE, BST_UNCHECKED);

    m_bComInitialized = InitComSecurity();
    g_pWmiClient = new (std::nothrow) WmiClient();
    if (g_pWmiClient == nullptr) return FALSE;

    // Whatever the firmware does, it holds up the start for the start-up's bound at most: the connection,
    // the query and the calls below share that time.
    const FirmwareTimeLimit startup(kStartupBoundMs);

    // Without a connection the dialog works on its own and never calls the firmware.
    if (!ConnectNamespace(L"root\\wmi")) return TRUE;

    if (QueryInstances(L"TolvekManagement") == 0) {
        MessageBox(kNoManagementObject, kCaption, kFatalStyle);
        std::exit(0);
    }
    m_bFirmwareReady = 1;

    int status = 0;
    if (FAILED(GetDeviceStatus(status)) || (status & PELLORAN_STATUS_PRESENT) == 0) {
        MessageBox(kNoStatus, kCaption, kFatalStyle);
        std::exit(0);
    }

    switch (status & PELLORAN_STATUS_MODE_MASK) {
    case PELLORAN_CTRL_OFF: {
        // While off, the dialog shows the mode the user chose last. A registry that cannot be
        // opened leaves the status word in place, which is never 1 here.
        int stored = status;
        AccessModePreference(MODE_PREFERENCE_READ, stored);
        const bool adapterOnly = stored == 1;
        CheckDlgButton(IDC_ADAPTER_MODE, adapterOnly ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(IDC_ADAPTER_BATTERY_MODE, adapterOnly ? BST_UNCHECKED : BST_CHECKED);
        SetDlgItemText(IDC_STATUS_TEXT, offText.c_str());
        EnableSwitchControls(false);
        break;
    }
    case PELLORAN_CTRL_ADAPTER:
    case PELLORAN_CTRL_ADAPTER_BATTERY: {
        const bool adapterOnly = (status & PELLORAN_STATUS_MODE_MASK) == PELLORAN_CTRL_ADAPTER;
        SetDlgItemText(IDC_STATUS_TEXT, onText.c_str());
        EnableDlgItem(IDC_ENABLE, FALSE);
        EnableDlgItem(IDC_DISABLE, TRUE);
        CheckDlgButton(IDC_ADAPTER_MODE, adapterOnly ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(IDC_ADAPTER_BATTERY_MODE, adapterOnly ? BST_UNCHECKED : BST_CHECKED);
        // The firmware is handed back the very mode it reported.
        SetDeviceControl(adapterOnly ? PELLORAN_CTRL_ADAPTER : PELLORAN_CTRL_ADAPTER_BATTERY);
        break;
    }
    default:
        break;  // a mode the dialog does not know: the default state stays
    }
    return TRUE;
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

void CPelloranDlg::SendControl(int controlValue) const {
    if (m_bFirmwareReady == 1) SetDeviceControl(controlValue);
}

void CPelloranDlg::OnBnClickedEnable() {
    EnableSwitchControls(true);
    ShowStateText(true);
    if (IsDlgButtonChecked(IDC_ADAPTER_MODE)) SendControl(PELLORAN_CTRL_ADAPTER);
    if (IsDlgButtonChecked(IDC_ADAPTER_BATTERY_MODE)) SendControl(PELLORAN_CTRL_ADAPTER_BATTERY);
}

void CPelloranDlg::OnBnClickedDisable() {
    EnableSwitchControls(false);
    ShowStateText(false);
    SendControl(PELLORAN_CTRL_OFF);
}

void CPelloranDlg::OnBnClickedAdapterMode() { SendControl(PELLORAN_CTRL_ADAPTER); }

void CPelloranDlg::OnBnClickedAdapterBatteryMode() { SendControl(PELLORAN_CTRL_ADAPTER_BATTERY); }

void CPelloranDlg::OnDestroy() {
    int adapterOnly = IsDlgButtonChecked(IDC_ADAPTER_MODE) ? 1 : 0;
    AccessModePreference(MODE_PREFERENCE_WRITE, adapterOnly);
    ReleaseWmiObjects();  // COM objects go before COM ends; the client record itself stays
    if (m_bComInitialized) ::CoUninitialize();  // only the initialisation that was this dialog's own
    CDialog::OnDestroy();
}

bool IsAboutCommand(UINT nID) { return (nID & 0xFFF0) == IDM_ABOUTBOX; }

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
