#pragma once

#include "platform/win/WinProcesses.h"
#include "platform/win/WinTask.h"

#include <windows.h>

#include <string>
#include <vector>

// Finds the top-level windows of a task and tells what kind they are.
namespace WinWindows {
// Top-level windows, topmost first.
std::vector<HWND> topLevel();

// Exists, is visible (a minimised window counts: it can be restored) and is
// not cloaked (a window of another virtual desktop, or a suspended app).
bool isUsable(HWND window);

// Main: unowned, not a tool window, not of the dialog class; the only kind
// that keys are typed into. Dialog: of the dialog class (#32770, message
// boxes included) or owned by another window. Other: tool windows
// (palettes, floating toolbars) and windows that refuse activation.
enum class Role { Main, Dialog, Other };
Role roleOf(HWND window);

std::wstring titleOf(HWND window);

// A spreadsheet window with no workbook in it: Excel (class XLMAIN) shows its
// start screen, or all its workbooks are closed. Keys would go to the start
// screen's buttons, or nowhere.
bool showsNoWorkbook(HWND window);

// Whether a window belongs to a task. The process of a packaged app's frame
// (ApplicationFrameHost's ApplicationFrameWindow) is that of its content.
//  1. its process is the task's process or a descendant of it; else
//  2. it must be related by name: its executable has the name of, or lives
//     in the same program folder (not a system folder) as, the launched
//     program or an executable seen in the task's process family. That
//     covers a program that handed over to an instance that was already
//     running. It must be new (not there at launch), unless the started
//     process has ended: then it handed over to a window already open.
//  3. once the started process has ended, a new packaged app's frame also
//     counts (a stub that starts the app by another name).
//  2 and 3 count only while the task never had a window: a task whose own
//  window has gone must never pick up some other window.
enum class Match { None, OwnProcess, ByName };
Match classify(HWND window, const WinTask& task, const WinProcesses& processes);

// "C:\\Office\\EXCEL.EXE" -> "excel"; shells and script hosts give "" (they
// say nothing about which program it is).
std::wstring programName(const std::wstring& executablePath);

// The task's main window: its known window while usable, else the topmost
// matching main window, own-process windows first. nullptr: none.
HWND findFor(const WinTask& task, const WinProcesses& processes);

// A dialog of the task that stands in front of its main window: a dialog of
// the task is the foreground window, or the main window is disabled by a
// modal dialog (then that dialog, or the main window when the dialog cannot
// be told). nullptr: none. *title: the dialog's title.
HWND blockingDialog(const WinTask& task, const WinProcesses& processes, std::wstring* title);
} // namespace WinWindows
