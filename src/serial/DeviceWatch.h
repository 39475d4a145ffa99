#pragma once

#include <QObject>
#include <QString>
#include <memory>

// Which device a port was: the node it was opened by and, where the system
// names devices for good (a USB adapter's serial number), that name.
struct DeviceIdentity {
    QString node;
    QString name; // empty when the system gives the device none
};

// Tells when a device that went away is back. It waits on the folders the
// device would appear in, so a long wait costs nothing. One file per
// platform, chosen by the build.
class DeviceWatch : public QObject {
    Q_OBJECT
public:
    explicit DeviceWatch(QObject* parent = nullptr);
    ~DeviceWatch() override;

    // The identity of node while it is there.
    static DeviceIdentity identify(const QString& node);
    // How the system names the adapter behind node for good, for the
    // journal: its path under /dev/serial/by-id on Linux, the port's device
    // description on Windows; empty when the system gives none.
    static QString adapterName(const QString& node);

    // From now on, back() once the device is there again: a node that is
    // there now counts only once it has been made anew. Replaces any
    // earlier watch.
    void watch(const DeviceIdentity& device);
    void cancel();

signals:
    void back();
    // Another device is at the node (name: its name, empty when it has
    // none, or when the node is a pseudo-terminal made anew); it is left
    // alone, and the watch goes on. Once per device.
    void stranger(const QString& name);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
