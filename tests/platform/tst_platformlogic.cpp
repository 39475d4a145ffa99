// Logic of the desktop layer that needs no X server: which keys a text
// becomes, the gap rule for repeated keys, borrowing spare keys, and which
// windows belong to a started program.
#include "platform/KeyActions.h"
#include "platform/TextAlign.h"
#include "platform/x11/KeystrokePlan.h"
#include "platform/x11/Keysyms.h"
#include "platform/x11/ProcessTree.h"
#include "platform/x11/SpareKeyPool.h"
#include "platform/x11/TaskTable.h"
#include "platform/x11/WindowMatch.h"
#include "platform/x11/X11ClientEnvironment.h"

#include <QTest>

#include <unistd.h>

namespace {
KeyAction ch(char32_t c) {
    return {KeyAction::Character, c};
}
const KeyAction tab{KeyAction::Tab, 0};
const KeyAction ret{KeyAction::Return, 0};

// A tiny keyboard: '1' and '!' share key 10, 'a'/'A' key 38, Tab 23, Return 36.
std::optional<KeyPosition> tinyKeyboard(const KeyAction& a) {
    if (a.kind == KeyAction::Tab)
        return KeyPosition{23, 0};
    if (a.kind == KeyAction::Return)
        return KeyPosition{36, 0};
    switch (a.character) {
    case '1':
        return KeyPosition{10, 0};
    case '!':
        return KeyPosition{10, KeyPosition::Shift};
    case 'a':
        return KeyPosition{38, 0};
    case 'A':
        return KeyPosition{38, KeyPosition::Shift};
    case '.':
        return KeyPosition{60, 0};
    case '~':
        return KeyPosition{35, KeyPosition::Level3};
    default:
        return std::nullopt;
    }
}
} // namespace

class TestPlatformLogic : public QObject {
    Q_OBJECT
private slots:
    void printableCharactersAreThemselves() {
        const QString text = QStringLiteral("+%^~(){}[] °µ±é日本語");
        const std::vector<KeyAction> actions = KeyActions::fromText(text);
        const QList<uint> ucs = text.toUcs4();
        QCOMPARE(actions.size(), std::size_t(ucs.size()));
        for (int i = 0; i < ucs.size(); ++i)
            QCOMPARE(actions[i], ch(ucs[i]));
    }

    void lineEndsAndTabs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // T = Tab, R = Return
        QTest::newRow("tab") << "a\tb"
                             << "aTb";
        QTest::newRow("crlf is one return") << "1\r\n"
                                            << "1R";
        QTest::newRow("lone cr") << "1\r2"
                                 << "1R2";
        QTest::newRow("lone lf dropped") << "1\n2"
                                         << "12";
        QTest::newRow("lf cr") << "1\n\r2"
                               << "1R2";
        QTest::newRow("cr cr lf") << "\r\r\n"
                                  << "RR";
        QTest::newRow("esc dropped") << "a\x1b[2Jb"
                                     << "a[2Jb";
        QTest::newRow("ctrl codes dropped") << QString("a\x01\x03\x08\x7f"
                                                       "b")
                                            << "ab";
        QTest::newRow("c1 dropped") << QString::fromUtf8("a\xc2\x85\xc2\x9b"
                                                         "b")
                                    << "ab";
        QTest::newRow("nul dropped") << QString(QChar(0)) + "x"
                                     << "x";
        QTest::newRow("repeated kept") << "11"
                                       << "11";
        QTest::newRow("arrow marks") << QString("1\x1e"
                                                "2\x1f")
                                     << QString::fromUtf8("1↓2→");
    }
    void lineEndsAndTabs() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QString got;
        for (const KeyAction& a : KeyActions::fromText(text))
            got += a.kind == KeyAction::Tab      ? QStringLiteral("T")
                   : a.kind == KeyAction::Return ? QStringLiteral("R")
                   : a.kind == KeyAction::Down   ? QString::fromUtf8("↓")
                   : a.kind == KeyAction::Right  ? QString::fromUtf8("→")
                                                 : QString::fromUcs4(&a.character, 1);
        QCOMPARE(got, expected);
    }

    void unpairedSurrogateIsNotTyped() {
        QString text = QStringLiteral("a");
        text += QChar(0xd800);
        text += QLatin1Char('b');
        for (const KeyAction& a : KeyActions::fromText(text))
            QVERIFY(a.character < 0xd800 || a.character > 0xdfff);
    }

    void keysyms() {
        QCOMPARE(Keysyms::keysymFor('a'), 0x61UL);
        QCOMPARE(Keysyms::keysymFor(0xb0), 0xb0UL);        // degree
        QCOMPARE(Keysyms::keysymFor(0x3bc), 0x10003bcUL);  // Greek mu
        QCOMPARE(Keysyms::keysymFor(0x65e5), 0x10065e5UL); // 日
        QCOMPARE(Keysyms::characterOf(0x10065e5UL), char32_t(0x65e5));
        QCOMPARE(Keysyms::characterOf(0x20ac), char32_t(0x20ac)); // EuroSign
        QCOMPARE(Keysyms::characterOf(0xff09), char32_t(0));      // Tab is no character
        QCOMPARE(Keysyms::characterOf(0xffb1), char32_t(0));      // KP_1
        QCOMPARE(Keysyms::characterOf(0xfe51), char32_t(0));      // dead_acute
    }

    void repeatedKeyGetsGap() {
        const auto strokes = KeystrokePlan::plan(KeyActions::fromText("1.511\r\n"), tinyKeyboard);
        // 5 is unknown to the tiny keyboard and skipped: 1 . 1 1 Return
        QCOMPARE(strokes.size(), std::size_t(5));
        QVERIFY(!strokes[0].gapBefore);
        QVERIFY(!strokes[2].gapBefore);
        QVERIFY(strokes[3].gapBefore);
        QCOMPARE(strokes[4].keycode, std::uint8_t(36));
        QVERIFY(!strokes[4].gapBefore);
    }

    void sameKeyOtherLevelAlsoGetsGap() {
        const auto strokes = KeystrokePlan::plan(KeyActions::fromText("1!aA"), tinyKeyboard);
        QCOMPARE(strokes.size(), std::size_t(4));
        QCOMPARE(strokes[1], (Keystroke{10, KeyPosition::Shift, true}));
        QCOMPARE(strokes[3], (Keystroke{38, KeyPosition::Shift, true}));
        QVERIFY(!strokes[2].gapBefore);
    }

    void gapAcrossCalls() {
        const auto strokes = KeystrokePlan::plan(KeyActions::fromText("1"), tinyKeyboard, 10);
        QVERIFY(strokes.at(0).gapBefore);
    }

    void missingCounted() {
        int missing = -1;
        const auto strokes =
            KeystrokePlan::plan(KeyActions::fromText("a°~\t"), tinyKeyboard, 0, &missing);
        QCOMPARE(missing, 1);
        QCOMPARE(strokes.size(), std::size_t(3));
        QCOMPARE(strokes[1].modifiers, std::uint8_t(KeyPosition::Level3));
    }

    void sparePoolReusesAndRecycles() {
        SpareKeyPool pool({200, 201});
        auto g1 = pool.acquire(0xb0, 100);
        QVERIFY(g1 && g1->needsRemap);
        pool.markUsed(g1->keycode, 10);
        auto again = pool.acquire(0xb0, 100);
        QVERIFY(again && !again->needsRemap && again->keycode == g1->keycode);
        auto g2 = pool.acquire(0xb5, 100);
        QVERIFY(g2 && g2->needsRemap && g2->keycode != g1->keycode);
        pool.markUsed(g2->keycode, 11);
        // Both pinned in this batch: a third character must wait for the next.
        QVERIFY(!pool.acquire(0xb1, 100));
        pool.endBatch(50);
        auto g3 = pool.acquire(0xb1, 100);
        QVERIFY(g3 && g3->needsRemap);
        QCOMPARE(g3->notBeforeMs, std::int64_t(150)); // last use 50 + settle 100
        QCOMPARE(pool.borrowedKeys().size(), std::size_t(2));
        pool.forgetAll();
        QVERIFY(pool.borrowedKeys().empty());
    }

    void reservedTwinIsNeverTakenForAnotherCharacter() {
        SpareKeyPool pool({200, 201});
        const auto twin = pool.acquire('1', 0, true);
        QVERIFY(twin && twin->needsRemap);
        QCOMPARE(pool.holder('1'), std::optional<std::uint8_t>(twin->keycode));
        QCOMPARE(pool.takeable(), 1);
        const auto a = pool.acquire(0xb0, 0);
        QVERIFY(a && a->keycode != twin->keycode);
        pool.endBatch(10);
        // The only other key is recycled; the twin keeps its character.
        const auto b = pool.acquire(0xb5, 0);
        QVERIFY(b && b->keycode == a->keycode);
        QCOMPARE(pool.holder('1'), std::optional<std::uint8_t>(twin->keycode));
        QVERIFY(!pool.holder(0xb0));
    }

    void sparePoolFollowsNewKeymap() {
        SpareKeyPool pool({200, 201, 202});
        const auto a = pool.acquire(0xb0, 0);
        pool.markUsed(a->keycode, 1);
        const auto b = pool.acquire(0xb5, 0);
        pool.markUsed(b->keycode, 1);
        pool.endBatch(2);
        // New layout: a's key was wiped (empty again), b's key kept its
        // character, 202 got a real symbol, 210 became empty.
        pool.reconcile({a->keycode, 210}, [&](std::uint8_t k) -> unsigned long {
            return k == b->keycode ? 0xb5 : k == 202 ? 0x61 : 0;
        });
        QCOMPARE(pool.size(), 3);
        const auto again = pool.acquire(0xb0, 0);
        QVERIFY(again && again->needsRemap);
        const auto kept = pool.acquire(0xb5, 0);
        QVERIFY(kept && !kept->needsRemap && kept->keycode == b->keycode);
        QVERIFY(!pool.isBorrowed(202));
    }

    void emptyPoolGivesNothing() {
        SpareKeyPool pool;
        QVERIFY(!pool.acquire(0xb0, 0));
    }

    void statParsing() {
        QCOMPARE(ProcessTree::parentFromStat("123 (cat) S 45 123 ..."), pid_t(45));
        QCOMPARE(ProcessTree::parentFromStat("7 (a) b) c) R 99 1 1"), pid_t(99));
        QCOMPARE(ProcessTree::parentFromStat("garbage"), pid_t(-1));
    }

    void descendants() {
        // localc (100) -> oosplash (101) -> soffice.bin (102); 200 unrelated.
        const ProcessTree tree({{1, 0}, {100, 1}, {101, 100}, {102, 101}, {200, 1}});
        QVERIFY(tree.isSelfOrDescendant(102, 100));
        QVERIFY(tree.isSelfOrDescendant(100, 100));
        QVERIFY(!tree.isSelfOrDescendant(200, 100));
        QVERIFY(!tree.isSelfOrDescendant(100, 102));
        QVERIFY(!tree.isSelfOrDescendant(0, 100));
        QCOMPARE(tree.family(100).size(), std::size_t(3));
        QVERIFY(tree.family(555).empty());
    }

    void cyclicMapTerminates() {
        const ProcessTree tree({{5, 6}, {6, 5}});
        QVERIFY(!tree.isSelfOrDescendant(5, 7));
    }

    void procTreeSeesThisProcess() {
        const ProcessTree tree = ProcessTree::fromProc();
        QVERIFY(tree.contains(getpid()));
        QVERIFY(tree.isSelfOrDescendant(getpid(), getppid()));
        QVERIFY(ProcessTree::executableOf(getpid()).endsWith("tst_platformlogic"));
    }

    void ownWindowMatches() {
        const ProcessTree tree({{1, 0}, {100, 1}, {101, 100}, {102, 101}, {200, 1}});
        Task task;
        task.pid = 100;
        task.path = "/usr/bin/localc";
        WindowCandidate calc{11, 102, "/usr/lib/libreoffice/program/soffice.bin", "libreoffice",
                             "libreoffice-calc"};
        QCOMPARE(WindowMatch::classify(calc, task, tree), WindowMatch::Kind::OwnProcess);
        WindowCandidate other{12, 200, "/usr/bin/xterm", "xterm", "XTerm"};
        QCOMPARE(WindowMatch::classify(other, task, tree), WindowMatch::Kind::NoMatch);
    }

    void handedOverWindowMatchesByProgramFolder() {
        // Second localc: its oosplash handed over to the running soffice.bin
        // (pid 50, not ours) and ended.
        const ProcessTree tree({{1, 0}, {50, 1}});
        Task task;
        task.pid = 300;
        task.path = "/usr/bin/localc";
        task.executables = {"/usr/bin/dash", "/usr/lib/libreoffice/program/oosplash"};
        task.windowsAtLaunch = {11};
        WindowCandidate fresh{13, 50, "/usr/lib/libreoffice/program/soffice.bin", "libreoffice",
                              "libreoffice-calc"};
        QCOMPARE(WindowMatch::classify(fresh, task, tree), WindowMatch::Kind::ByName);
        WindowCandidate old = fresh;
        old.id = 11; // existed before the launch
        QCOMPARE(WindowMatch::classify(old, task, tree), WindowMatch::Kind::NoMatch);
        // A shell in /usr/bin says nothing: an unrelated program there is no match.
        WindowCandidate xterm{14, 60, "/usr/bin/xterm", "xterm", "XTerm"};
        QCOMPARE(WindowMatch::classify(xterm, task, tree), WindowMatch::Kind::NoMatch);
    }

    void endedTaskNeverTakesAnotherWindow() {
        // The first xterm was found, then killed; a second xterm appeared later.
        const ProcessTree tree({{1, 0}, {400, 1}});
        Task task;
        task.pid = 399;
        task.path = "/usr/bin/xterm";
        task.executables = {"/usr/bin/xterm"};
        task.hadWindow = true;
        WindowCandidate second{21, 400, "/usr/bin/xterm", "xterm", "XTerm"};
        QCOMPARE(WindowMatch::classify(second, task, tree), WindowMatch::Kind::NoMatch);
        task.hadWindow = false; // never had one: a hand-over is plausible
        QCOMPARE(WindowMatch::classify(second, task, tree), WindowMatch::Kind::ByName);
    }

    void windowWithoutPidMatchesByClassWhileAlive() {
        const ProcessTree tree({{1, 0}, {500, 1}});
        Task task;
        task.pid = 500;
        task.path = "/opt/tool/bin/mytool";
        task.hadWindow = true;
        WindowCandidate w{31, 0, {}, "mytool", "Mytool"};
        QCOMPARE(WindowMatch::classify(w, task, tree), WindowMatch::Kind::ByName);
        const ProcessTree ended(std::unordered_map<pid_t, pid_t>{{1, 0}});
        QCOMPARE(WindowMatch::classify(w, task, ended), WindowMatch::Kind::NoMatch);
        WindowCandidate unnamed{32, 0, {}, "other", "Other"};
        QCOMPARE(WindowMatch::classify(unnamed, task, tree), WindowMatch::Kind::NoMatch);
    }

    void programNames() {
        QCOMPARE(WindowMatch::programName("/usr/lib/libreoffice/program/soffice.bin"),
                 QStringLiteral("soffice"));
        QCOMPARE(WindowMatch::programName("/usr/bin/dash"), QString());
    }

    void taskIdsStayInRange() {
        TaskTable table;
        QCOMPARE(table.add(Task{}).id, std::int16_t(1));
        QCOMPARE(table.add(Task{}).id, std::int16_t(2));
        table.remove(1);
        for (int i = 0; i < 40000; ++i) {
            const std::int16_t id = table.add(Task{}).id;
            QVERIFY(id >= 1 && id <= 32767);
        }
        QCOMPARE(table.size(), 32767);
        QVERIFY(table.find(0) == nullptr);
    }

    // On Wayland a target must come up as an X11 client, whatever the user
    // chose for its toolkit; the rest of the environment passes unchanged.
    void targetEnvironmentSelectsX11OnWaylandOnly() {
        using namespace X11ClientEnvironment;
        const QStringList user = {"HOME=/home/u",
                                  "WAYLAND_DISPLAY=wayland-0",
                                  "QT_QPA_PLATFORM=wayland",
                                  "XDG_SESSION_TYPE=wayland",
                                  "LANG=de_DE.UTF-8",
                                  "A=b=c"};
        QVERIFY(isWaylandSession(user));
        QVERIFY(isWaylandSession({"XDG_SESSION_TYPE=Wayland"}));
        QVERIFY(!isWaylandSession({"XDG_SESSION_TYPE=x11", "WAYLAND_DISPLAY="}));

        // Readable through the accessibility bus, unless the user said otherwise.
        const QStringList readable = withAccessibility(user);
        QCOMPARE(forTarget(user, false), readable);
        QCOMPARE(readable.mid(0, user.size()), user);
        QVERIFY(readable.contains("GNOME_ACCESSIBILITY=1"));
        QCOMPARE(withAccessibility({"GNOME_ACCESSIBILITY=0"}).count("GNOME_ACCESSIBILITY=1"), 0);
        const QStringList env = forTarget(user, true);
        for (const char* kept :
             {"HOME=/home/u", "WAYLAND_DISPLAY=wayland-0", "LANG=de_DE.UTF-8", "A=b=c"})
            QVERIFY2(env.contains(kept), qPrintable(kept));
        QVERIFY(!env.contains("QT_QPA_PLATFORM=wayland"));
        QVERIFY(!env.contains("XDG_SESSION_TYPE=wayland"));
        for (const char* x11 : {"QT_QPA_PLATFORM=xcb", "GDK_BACKEND=x11", "SDL_VIDEODRIVER=x11",
                                "XDG_SESSION_TYPE=x11"})
            QCOMPARE(env.count(x11), 1);
        QCOMPARE(env.size(), readable.size() - 2 + overrides().size());
    }

    // Readings streaming into a text without a pause: one whose keys the
    // target dropped is decided as soon as a later one has landed, the
    // last one still on its way stays open.
    void readBackDecidesWhatLandedWhileKeysKeepComing() {
        const std::vector<QString> pieces = {"0027 23.5\n", "0028 23.5\n", "0029 23.5\n",
                                             "0030 23.5\n"};
        // 0028 lost, 0030 not there yet: the window before the caret is as
        // long as all four, so it begins in the text before them.
        const QString before = QString("ld 23.5\n0026 23.5\n0027 23.5\n0029 23.5\n").right(40);
        const std::vector<TextAlign::Found> found = TextAlign::align(before, pieces);
        QCOMPARE(TextAlign::settled(found), std::size_t(3));
        QVERIFY(found[0].found && !found[1].found && found[2].found);
        QCOMPARE(found[1].instead, QString());
        QVERIFY(!TextAlign::whole(before, pieces));
        // Nothing landed yet: nothing can be decided before the target is quiet.
        QCOMPARE(TextAlign::settled(TextAlign::align("0026 23.5\n", pieces)), std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestPlatformLogic)
#include "tst_platformlogic.moc"
