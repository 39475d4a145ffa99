#pragma once

#include "LineAssembler.h"
#include "LineText.h"
#include "app/SettingsSchema.h"
#include "base/AppError.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <optional>

// The key typed after a reading.
enum class AfterKey { Return, Tab, Down, Right, None };

// What a run asks of the instrument and what of each line it types: the
// [Data] settings, read and checked. The defaults type every line as
// received.
struct DataOptions {
    QByteArray request;     // sent at Read Start, and every requestEveryMs
    int requestEveryMs = 0; // 0: only at Read Start
    // Sent once at Read Start, before the request: the instrument's answer
    // is journalled as its identification, not typed.
    QByteArray identify;
    QRegularExpression keep; // lines that do not match are skipped; empty: none are
    bool numberOnly = false;
    QString decimal = QStringLiteral("."); // "locale" already resolved
    bool unitColumn = false;
    // The values of a line: its capture groups where it matches (the whole
    // match without a group); lines that do not match are skipped. Empty:
    // the whole line is the one value.
    QRegularExpression pick;
    AfterKey after = AfterKey::Return;
    int perRow = 1; // N >= 2: TAB between readings, Return after every N-th
    LineEnd lineEnd = LineEnd::CR;
    Encoding encoding = Encoding::Utf8;
    QString described; // the settings as stored, for the journal's run record

    static constexpr int MaxPerRow = 256;

    // Err::DataSettingInvalid naming the key, the value and what to do.
    static std::optional<DataOptions> from(const DataSettings& settings, AppError* error);

    // "S\r\n", "\e P", "\x1BP": \r \n \t \e \\ and \xHH, other characters as
    // UTF-8. nullopt with *why for a broken escape.
    static std::optional<QByteArray> unescape(const QString& text, QString* why);

    // The data to type for one received line (decoded already), its values
    // TAB-separated, or nullopt when it is skipped, with *why.
    std::optional<QString> shape(const QString& line, QString* why) const;

    // What is typed after a reading at *column of a row (0 for the first),
    // which moves on to where the next reading goes: "\r\n" for Return,
    // "\t", KeyActions' arrow marks, or nothing.
    QString keyAfter(int* column) const;
};
