#pragma once

#include "platform/TargetReader.h"

#include <QTimer>

// A reader for a system where no target can be read back: it says why once
// per target, and nothing else.
class UnreadableTarget : public TargetReader {
public:
    explicit UnreadableTarget(QString reason) : m_reason(std::move(reason)) {}
    void follow(qint64, const QString&) override {
        QTimer::singleShot(0, this, [this] { emit unreadable(m_reason); });
    }
    void expect(const ExpectedText&) override {}
    void retract(const QString&, const QString&) override {}

private:
    QString m_reason;
};
