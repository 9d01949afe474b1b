// The settings dialog: shows whether the USB charging feature is on, switches it and chooses its mode.
#pragma once

#include "firmware/FirmwareState.h"
#include "framework/Afx.h"
#include "prefs/UsbChargingPolicy.h"

#include <string>

class CPelloranDlg : public CDialog {
public:
    CPelloranDlg();
    ~CPelloranDlg() override;

    // Runs the dialog, mirrored for a language written from right to left.
    INT_PTR DoModal() override;
    BOOL OnInitDialog() override;

    int m_bFirmwareReady = 0;     // 1 once the firmware's management object has been found
    int m_nLanguage = 1;          // section of the language file
    std::wstring m_strDescription;
    HICON m_hIcon;
    bool m_bComInitialized = false;  // the dialog's thread joined COM itself and leaves it when it ends
    bool m_bCallInFlight = false;    // a firmware call is being made: clicks start nothing
    bool m_bCheckedAdapter = false;  // Adapter Mode was checked when the latest click's call started
    UsbChargingPolicy m_policy;      // the machine's policy, read once at start; while set, the switches stay locked

protected:
    // Sets m_nLanguage from the language of the user's locale.
    void ChooseLanguage();
    // The text of key S<key> in this dialog's language.
    std::wstring GetLangText(int key, const std::wstring& filePath) const;
    // Appends key S<key> (after a line break when key is 0) to the description.
    void AppendLangText(int key, const std::wstring& filePath);

    // void OnSysCommand(UINT nID, LPARAM lParam)
    void OnSysCommand(UINT nID, LPARAM lParam);
    // void OnPaint()
    void OnPaint();
    // HCURSOR OnQueryDragIcon()
    HCURSOR OnQueryDragIcon();
    // void OnBnClickedX()
    void OnBnClickedEnable();
    void OnBnClickedDisable();
    void OnBnClickedAdapterMode();
    void OnBnClickedAdapterBatteryMode();
    // void OnDestroy()
    void OnDestroy();
    // void OnCommandHandler(): the warning that the policy's state was not applied, once the start is over
    void OnChangeNotApplied();

    DECLARE_MESSAGE_MAP()

private:
    // The About entry at the end of the system menu, then the window icons.
    void AddAboutEntryAndIcons();
    // Every text of the dialog but its caption and the state, from the language file.
    void ShowTexts();
    // Connects to the firmware, finds its management object and shows the state it reports; ends the
    // program with a message when there is no such object or no valid status.
    void ShowFirmwareState();
    // Shows one of the two fatal messages, then ends the program.
    [[noreturn]] void EndWithMessage(const wchar_t* text) const;
    // Shows the state of a valid status word: the off form with the stored mode, the on form with the
    // reported mode, or, for a mode the dialog does not know, the on form with the stored mode.
    void ShowFeatureState(int status) const;
    // Shows that the firmware's state is not available: every switch disabled, the stored mode checked.
    void ShowUnavailable() const;
    // Says that a change was not applied, and that the dialog shows the state read back.
    void WarnNotApplied() const;
    // Disables Enable, Disable and both modes.
    void DisableSwitches() const;
    // Shows the state read back after a change: by the rules of the start, or not available without a valid status.
    void ShowReadBack(const FirmwareReading& reading) const;
    // Whether the mode the user chose last is Adapter Mode (a value that cannot be read is not).
    bool StoredModeIsAdapter() const;
    // Checks one radio button and clears the other.
    void CheckMode(bool adapterOnly) const;
    // The text of a key, or the English text when the key is missing or empty.
    std::wstring LangTextOr(int key, const wchar_t* english) const;
    // Enables the controls of the on form, or those of the off form.
    void EnableSwitchControls(bool on) const;
    // Sets the state text to the on or off text, read anew from the language file.
    void ShowStateText(bool on) const;
    // Sends a control value made by a click, only while the firmware is ready; one it does not take is
    // undone on screen (the state read back, or not available) and said. The whole click stays within
    // kClickBoundMs, below the 5 s after which Windows calls the window not responding.
    void SendControl(int controlValue);
    // Whether a click on the control comes while a firmware call is in flight: then it starts nothing and a
    // mode button it checked is set back.
    bool IgnoresClick(int controlId);
    // Puts the firmware into the policy's state within the start-up's deadline, reads it back and shows it; when
    // the firmware is not in that state afterwards, the warning is posted, to be shown once the start is over.
    void ApplyPolicy(const Deadline& startup);
    // Disables every switch and gives the focus to the description, its caret at the start.
    void LockSwitches();
};

// True for the system commands that open the about box: the low four bits do not count.
bool IsAboutCommand(UINT nID);

// The style of the warning that a change was not applied, read from right to left where the dialog is.
UINT WarningStyle(bool rightToLeft);

// Where an icon of cx by cy pixels stands centred in the client rectangle (truncating division).
POINT CenteredIconOrigin(const RECT& client, int cxIcon, int cyIcon);
