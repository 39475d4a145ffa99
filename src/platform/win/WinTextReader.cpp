#include "platform/win/WinTextReader.h"

#include "platform/KeyActions.h"
#include "platform/TextAlign.h"

#include <QDateTime>

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// Return is CR LF in an Edit control and CR in a RichEdit one: both are
// compared as LF.
std::wstring normalized(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            out += L'\n';
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool sendBounded(HWND window, UINT message, WPARAM w, LPARAM l, DWORD_PTR* result) {
    return SendMessageTimeoutW(window, message, w, l, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                               WinTextWorker::MessageMs, result) != 0;
}

} // namespace

WinTextWorker::WinTextWorker() : m_look(this) {
    qRegisterMetaType<ReadBack>();
    m_look.setInterval(LookMs);
    connect(&m_look, &QTimer::timeout, this, &WinTextWorker::look);
}

void WinTextWorker::follow(qint64 pid, const QString&) {
    // The same program in a new run: readings of the run before are still
    // read back, and what it lacks is said again.
    if (pid == m_pid && pid > 0) {
        if (m_told)
            emit unreadable(m_reason);
        return;
    }
    stop();
    m_pid = pid;
    m_told = false;
    if (pid <= 0) {
        tell(QStringLiteral("the target window does not say which program it belongs to"));
    }
}

void WinTextWorker::expect(const ExpectedText& text) {
    if (m_told)
        return;
    QString typed = text.keys;
    typed.remove(QChar(KeyActions::DeleteMark))
        .remove(QChar(KeyActions::DownMark))
        .remove(QChar(KeyActions::RightMark));
    m_pending.push_back({text.id, normalized(typed.toStdWString())});
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_pending.size() == 1)
        m_firstPendingMs = now;
    // The keys go where the focus is now, as they are about to be typed.
    HWND front = GetForegroundWindow();
    DWORD pid = 0;
    const DWORD thread = front ? GetWindowThreadProcessId(front, &pid) : 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (qint64(pid) == m_pid && GetGUIThreadInfo(thread, &info) && info.hwndFocus)
        m_control = info.hwndFocus;
    m_lastChangeMs = now;
    // Each look is a message the target handles before its keys, and Wine
    // drops the keys a window has not read when it loses the activation:
    // none while readings come one after another, unless they have waited
    // long.
    if (now - m_firstPendingMs < LongestWaitMs)
        m_look.start(FirstLookMs);
}

void WinTextWorker::retract(const QString& id, const QString& typed) {
    // Of this reading only typed went out, to be looked for; the keys of
    // those after it did not.
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it)
        if (it->id == id) {
            m_pending.erase(it, m_pending.end());
            break;
        }
    if (!typed.isEmpty())
        expect({QLatin1Char('~') + id, typed, QString()});
}

void WinTextWorker::stop() {
    m_pending.clear();
    m_look.stop();
    m_pid = 0;
    m_control = nullptr;
    m_lastCaret = m_lastLength = size_t(-1);
}

void WinTextWorker::look() {
    m_look.setInterval(LookMs);
    if (m_pending.empty() || m_told) {
        m_look.stop();
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    HWND front = GetForegroundWindow();
    DWORD pid = 0;
    const DWORD thread = front ? GetWindowThreadProcessId(front, &pid) : 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    // The control that had the focus when the keys went is read where it
    // is, also once the user has gone to another window (a click on Stop)
    // or the target opened a dialog.
    if ((!m_control || !IsWindow(HWND(m_control))) && qint64(pid) == m_pid &&
        GetGUIThreadInfo(thread, &info) && info.hwndFocus)
        m_control = info.hwndFocus;
    else if (!m_control || !IsWindow(HWND(m_control))) {
        m_control = nullptr;
        m_lastChangeMs = now; // no key of ours goes out either
        return;
    }
    info.hwndFocus = HWND(m_control);
    wchar_t name[64] = {};
    GetClassNameW(info.hwndFocus, name, 64);
    const std::wstring cls(name);
    if (_wcsicmp(name, L"Edit") != 0 && _wcsnicmp(name, L"RichEdit", 8) != 0) {
        tell(QStringLiteral("the target's text box (%1) cannot be read back; plain text "
                            "boxes such as Notepad's can")
                 .arg(QString::fromStdWString(cls)));
        return;
    }
    DWORD start = 0, end = 0;
    DWORD_PTR length = 0, ignored = 0;
    if (!sendBounded(info.hwndFocus, EM_GETSEL, WPARAM(&start), LPARAM(&end), &ignored) ||
        !sendBounded(info.hwndFocus, WM_GETTEXTLENGTH, 0, 0, &length)) {
        if (now - m_lastChangeMs >= QuietMs)
            decide(QString(), size_t(-1), m_pending.size()); // the target does not answer
        return;
    }
    if (length > size_t(MaxChars)) {
        tell(QStringLiteral("the target's document is too long to be read back"));
        return;
    }
    if (end != m_lastCaret || length != m_lastLength) {
        m_lastCaret = end;
        m_lastLength = length;
        m_lastChangeMs = now;
        return; // keys are still arriving
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!sendBounded(info.hwndFocus, WM_GETTEXT, WPARAM(length + 1), LPARAM(text.data()), &got))
        return;
    text.resize(std::min<size_t>(got, length));
    const std::wstring upToCaret = normalized(text.substr(0, std::min<size_t>(end, text.size())));
    size_t total = 0;
    for (const Pending& p : m_pending)
        total += p.text.size();
    const size_t from = upToCaret.size() > total ? upToCaret.size() - total : 0;
    const QString before = QString::fromStdWString(upToCaret.substr(from));
    std::vector<QString> pieces;
    for (const Pending& p : m_pending)
        pieces.push_back(QString::fromStdWString(p.text));
    if (TextAlign::whole(before, pieces) || now - m_lastChangeMs >= QuietMs)
        decide(before, from, pieces.size());
    else if (const size_t n = TextAlign::settled(TextAlign::align(before, pieces)); n > 0)
        decide(before, from, n);
}

void WinTextWorker::tell(const QString& reason) {
    m_told = true;
    m_reason = reason;
    m_pending.clear();
    emit unreadable(reason);
}

void WinTextWorker::decide(const QString& before, size_t from, size_t count) {
    std::vector<QString> pieces;
    for (const Pending& p : m_pending)
        pieces.push_back(QString::fromStdWString(p.text));
    const std::vector<TextAlign::Found> found = TextAlign::align(before, pieces);
    std::vector<ReadBack> results;
    for (size_t i = 0; i < count; ++i) {
        ReadBack r{m_pending[i].id, ReadBack::Result::Verified, QString(), false, QString()};
        if (from == size_t(-1)) {
            r.result = ReadBack::Result::Unverified;
            r.holds = QStringLiteral("the target did not answer within %1 s").arg(QuietMs / 1000);
        } else if (found[i].found) {
            r.where = QStringLiteral("at character %1").arg(from + size_t(found[i].at));
        } else {
            r.result = ReadBack::Result::Changed;
            r.holds = found[i].instead;
        }
        results.push_back(r);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + count);
    if (m_pending.empty())
        m_look.stop();
    else
        m_firstPendingMs = QDateTime::currentMSecsSinceEpoch();
    for (const ReadBack& r : results)
        if (!r.id.startsWith(QLatin1Char('~'))) // the rest of a cut reading
            emit done(r);
}

std::unique_ptr<TargetReader> createTargetReader() {
    return std::make_unique<ThreadedReader<WinTextWorker>>();
}
