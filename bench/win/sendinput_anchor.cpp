// sendinput_anchor: the least a Windows program can do to type a serial
// line's readings, for the figures under Wine beside Parvelo's: a blocking
// ReadFile on the port, then SendInput with each character as a Unicode key
// and Return, into whatever window is in front. Nothing is checked or held.
//   sendinput_anchor.exe COM1 [baud]

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

static void typeLine(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), n);
    std::vector<INPUT> keys;
    for (wchar_t unit : text) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = unit;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
        keys.push_back(in);
        in.ki.dwFlags |= KEYEVENTF_KEYUP;
        keys.push_back(in);
    }
    INPUT ret{};
    ret.type = INPUT_KEYBOARD;
    ret.ki.wVk = VK_RETURN;
    keys.push_back(ret);
    ret.ki.dwFlags = KEYEVENTF_KEYUP;
    keys.push_back(ret);
    SendInput(UINT(keys.size()), keys.data(), sizeof(INPUT));
}

int wmain(int argc, wchar_t** argv) {
    std::wstring name = L"\\\\.\\" + std::wstring(argc > 1 ? argv[1] : L"COM1");
    HANDLE port = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return 1;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = argc > 2 ? DWORD(_wtoi(argv[2])) : 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);
    // A read waits for its first byte, then ends at a 10 ms pause.
    COMMTIMEOUTS t{10, 0, 0, 0, 0};
    SetCommTimeouts(port, &t);
    std::string pending;
    char buf[4096];
    DWORD got;
    while (ReadFile(port, buf, sizeof buf, &got, nullptr)) {
        pending.append(buf, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            typeLine(line);
        }
    }
    return 0;
}
