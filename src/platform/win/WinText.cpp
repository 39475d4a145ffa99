#include "platform/win/WinText.h"

#include <windows.h>

#include <cwctype>

std::string WinText::utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                            nullptr);
    return out;
}

std::wstring WinText::wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), size);
    return out;
}

std::string WinText::systemMessage(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.'))
        text.pop_back();
    if (text.empty())
        return "system error " + std::to_string(code);
    return utf8(text);
}

namespace {
std::wstring lower(std::wstring s) {
    for (wchar_t& c : s)
        c = wchar_t(std::towlower(c));
    return s;
}

size_t lastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}
} // namespace

std::wstring WinText::lowerFileName(const std::wstring& path) {
    const size_t cut = lastSeparator(path);
    return lower(cut == std::wstring::npos ? path : path.substr(cut + 1));
}

std::wstring WinText::lowerFolder(const std::wstring& path) {
    const size_t cut = lastSeparator(path);
    return cut == std::wstring::npos ? std::wstring() : lower(path.substr(0, cut));
}
