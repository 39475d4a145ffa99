#pragma once

#include <QString>

// The record that opens each run in the journal: who ran it, on which
// computer and Parvelo, on which port and adapter, with which serial and
// Data settings; what makes the run's readings attributable. Its text is
// one "name: value" line per item.
namespace RunRecord {
constexpr char Event[] = "started";
// The instrument's answer to the Data setting Identify, or that none came.
constexpr char IdentityEvent[] = "instrument";

struct Run {
    QString port;    // as in the journal: "ComN device"
    QString adapter; // DeviceWatch::adapterName; empty: none
    QString serialSettings;
    int handshaking = 0;
    QString data; // DataOptions::described
};
QString text(const Run& run);
} // namespace RunRecord
