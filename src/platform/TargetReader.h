#pragma once

#include <QObject>
#include <QString>
#include <memory>

// One reading about to be typed, as the target should hold it afterwards.
struct ExpectedText {
    // The reading's, in the journal. One that begins with '~' marks the rest
    // of a reading cut short before: looked for, never reported.
    QString id;
    QString keys; // what is typed: text, TAB, CR LF and the key marks
    QString data; // the reading's data: in a spreadsheet, the cell that holds it must show it
};

// What the target holds where a reading's keys went.
struct ReadBack {
    enum class Result { Verified, Changed, Unverified };
    QString id;
    Result result = Result::Unverified;
    QString where;     // the cell ("A7") or the place in the text
    bool cell = false; // where is a spreadsheet's cell
    QString holds;     // Changed: what the target shows instead; Unverified: why
};

// Reads back what a target did with the keys typed into it, through the
// desktop's accessibility interface. Asynchronous on both sides: nothing it
// does waits on the target, and a target that does not answer in time gives
// an Unverified result, never a stall. One implementation per backend.
class TargetReader : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // From now on the keys go to the window of the program with this process
    // id; windowClass tells what kind of program it is.
    virtual void follow(qint64 pid, const QString& windowClass) = 0;
    // Called before the keys of a reading are sent, in the order they are.
    virtual void expect(const ExpectedText& text) = 0;
    // The keys of this reading did not all go out (typing was cut): of them
    // only typed did, which is looked for but not reported; those expected
    // after it did not go out at all.
    virtual void retract(const QString& id, const QString& typed) = 0;

signals:
    void readBack(const ReadBack& result);
    // The target cannot be read back at all, and what the user can do about
    // it; said once per follow().
    void unreadable(const QString& reason);
};

// The implementation for the session the program runs in.
std::unique_ptr<TargetReader> createTargetReader();

Q_DECLARE_METATYPE(ReadBack)
