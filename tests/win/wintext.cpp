// Reads back what an editor holds: writes the text of the first Edit control
// of the top-level window of class CLASS (Notepad's is "Notepad") to OUT as
// UTF-8, byte for byte what the control has. Exit status 1: no such window.
//   wintext.exe CLASS OUT
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: wintext.exe CLASS OUT\n");
        return 2;
    }
    HWND top = FindWindowW(argv[1], nullptr);
    HWND edit = top ? FindWindowExW(top, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit)
        return 1;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return 1;
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &got))
        return 1;
    text.resize(got);
    std::string utf8(size_t(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr,
                                                0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), int(utf8.size()),
                        nullptr, nullptr);
    FILE* out = _wfopen(argv[2], L"wb");
    if (!out)
        return 3;
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    std::fclose(out);
    return 0;
}
