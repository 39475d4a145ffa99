#pragma once

#include "platform/TargetReader.h"

#include <QThread>

// A TargetReader whose Worker (a QObject with follow(pid, windowClass),
// expect(), retract() and the signals done() and unreadable()) lives on a
// thread of its own: a target that answers slowly holds up only that thread.
template <typename Worker> class ThreadedReader : public TargetReader {
public:
    ThreadedReader() : m_worker(new Worker) {
        m_worker->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        QObject::connect(m_worker, &Worker::done, this, &TargetReader::readBack);
        QObject::connect(m_worker, &Worker::unreadable, this, &TargetReader::unreadable);
        m_thread.setObjectName(QStringLiteral("read-back"));
        m_thread.start();
    }
    ~ThreadedReader() override {
        m_thread.quit();
        m_thread.wait();
    }
    void follow(qint64 pid, const QString& windowClass) override {
        post([pid, windowClass](Worker* w) { w->follow(pid, windowClass); });
    }
    void expect(const ExpectedText& text) override {
        post([text](Worker* w) { w->expect(text); });
    }
    void retract(const QString& id, const QString& typed) override {
        post([id, typed](Worker* w) { w->retract(id, typed); });
    }

    // Runs f(worker) on the worker's thread, after what was posted before.
    template <typename F> void post(F f) {
        QMetaObject::invokeMethod(m_worker, [w = m_worker, f] { f(w); });
    }

private:
    QThread m_thread;
    Worker* m_worker;
};
