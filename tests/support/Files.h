// Files of the tests under Wine: the build machine's paths as Wine sees them, whole files read and written,
// fresh folders for a test's files, and the texts of a program's version block.
#pragma once

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// A Unix path of the build machine as Wine sees it (drive Z: maps the Unix root).
inline std::wstring WinPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return path;
}

inline std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

// The text as a file in UTF-16LE with a byte-order mark, the form of the language file.
inline std::string Utf16File(const std::wstring& text) {
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// A fresh, empty folder of this test program under the build's folder of test files.
inline std::wstring FreshFolder(const std::string& name) {
    const std::wstring folder = WinPath(PELLORAN_BINARY_DIR "/testfiles/" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// A text of a file's version block, from the string table its translation names ("CompanyName", ...).
inline std::wstring VersionText(const std::wstring& file, const std::wstring& key) {
    std::string block(::GetFileVersionInfoSizeW(file.c_str(), nullptr), '\0');
    const WORD* translation = nullptr;
    const wchar_t* text = nullptr;
    UINT size = 0;
    if (block.empty() || !::GetFileVersionInfoW(file.c_str(), 0, DWORD(block.size()), &block[0]) ||
        !::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void**)&translation, &size) || size < 4)
        return L"";
    wchar_t path[128];
    std::swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], key.c_str());
    return ::VerQueryValueW(block.data(), path, (void**)&text, &size) && text != nullptr ? text : L"";
}

}  // namespace testsupport
