#pragma once

// The app folder: AppState, the one record of values that several windows share,
// and the settings schema with its store. It includes only base/ and the plain
// values of serial/SerialChoice.h.

#include <QString>
#include <cstdint>

// The values more than one window needs while the program runs. One record,
// alive for the whole process.
struct AppState {
    bool StopFlag = false;
    std::int16_t TaskId = 0;
    QString OpenPathName;
    QString SavePathName;
    QString ExeFileName;
    // Kept as the text read from the store (the Option dialog writes a
    // number as text); compared as a number when a line is completed, so
    // text that is not a number fails there, not at start-up.
    QString InsertDate = QStringLiteral("0");
    std::int16_t InsertTime = 0;
    // The settings profile chosen on the command line (--profile NAME), so
    // that each instrument's Parvelo keeps its own; empty: the usual file.
    QString Profile;

    static AppState& instance();
};
