// Texts of the dialog, looked up in the language file beside the executable.
#pragma once

#include <windows.h>

#include <string>

// Appended to the executable's directory to name the language file.
constexpr wchar_t kLangFileName[] = L"\\PelloranLang.ini";

// Room (terminating zero included) for a short text and for a paragraph of the description.
constexpr DWORD kShortTextRoom = 256;
constexpr DWORD kParagraphRoom = 1000;

// Key numbers whose values make up the description, in order; 0 also starts a new line.
constexpr int kDescriptionKeys[] = {1, 0, 2, 0, 3, 0, 0, 4, 0, 5, 0, 6, 0, 7};

// The part of a path before its last backslash; empty when there is none.
std::wstring DirectoryOfPath(const wchar_t* path);

// The directory of the program's executable file.
std::wstring GetModuleDir();

// Value of key "S<key>" in section "<language>" of the file, cut to room - 1 characters; empty when missing.
std::wstring ReadLangValue(int language, int key, const std::wstring& filePath, DWORD room);

// Appends to the description: a line break first when key is 0, then the paragraph of that key.
void AppendLangValue(std::wstring& description, int language, int key, const std::wstring& filePath);

// Keys of the short texts.
constexpr int kKeyStatusLabel = 8;         // label in front of the state
constexpr int kKeyOnText = 9;              // Enable button, and the state while on
constexpr int kKeyOffText = 10;            // Disable button, and the state while off
constexpr int kKeyAdapterMode = 11;        // "Adapter Mode" radio button
constexpr int kKeyAdapterBatteryMode = 12; // "Adapter + Battery Mode" radio button
constexpr int kKeyChangeNotApplied = 13;   // message after a change the firmware did not apply
constexpr int kKeyNotAvailable = 14;       // the state while the firmware cannot be reached or read
constexpr int kKeyManaged = 15;            // first paragraph of the description while a policy sets the feature

// The English texts of keys 13 and 14, shown when the language file has none.
constexpr wchar_t kEnglishChangeNotApplied[] =
    L"The change was not applied. Pelloran now shows the current state of USB Charging.";
constexpr wchar_t kEnglishNotAvailable[] = L"Not available";
// The English text of key 15, shown when the language file has none.
constexpr wchar_t kEnglishManaged[] = L"This setting is managed by your organization.";
