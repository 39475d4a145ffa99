#include "DeviceWatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <sys/stat.h>
#include <utility>

namespace {
// udev names an adapter a moment after its node appears; a node still
// without a name after this long belongs to a device that has none.
constexpr int NamingMs = 3000;

// Where udev names serial devices by their serial number. A test gives a
// folder of its own.
const QString& namesFolder() {
    static const QString folder =
        qEnvironmentVariable("PARVELO_SERIAL_BY_ID", QStringLiteral("/dev/serial/by-id"));
    return folder;
}

// What tells one appearance of a node from the next: the link's own entry
// and the device it leads to. A node made anew differs in one of them.
struct Stamp {
    bool present = false;
    ino_t link = 0, node = 0;
    dev_t device = 0;
    timespec changed{};
    bool operator==(const Stamp& o) const {
        return present == o.present && link == o.link && node == o.node && device == o.device &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

Stamp stampOf(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat own = {};
    struct stat target = {};
    Stamp s;
    if (::lstat(name.constData(), &own) != 0 || ::stat(name.constData(), &target) != 0)
        return s;
    s.present = true;
    s.link = own.st_ino;
    s.node = target.st_ino;
    s.device = target.st_rdev;
    s.changed = target.st_ctim;
    return s;
}

bool isPseudoTerminal(const QString& node) {
    return node.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo(node).isSymLink();
}

// The nearest folder that exists on the way to path: the by-id folder
// itself goes when its last adapter goes.
QString existingFolder(QString path) {
    while (!path.isEmpty() && path != QLatin1String("/") && !QFileInfo(path).isDir())
        path = QFileInfo(path).absolutePath();
    return path.isEmpty() ? QStringLiteral("/") : path;
}
} // namespace

struct DeviceWatch::Private {
    DeviceWatch* q;
    QFileSystemWatcher folders;
    QTimer naming;
    DeviceIdentity device;
    Stamp before; // the node as it was when the watch began
    QString told; // the stranger last reported
    bool toldUnnamed = false;
    bool active = false;

    void watchFolders() {
        QStringList wanted{existingFolder(QFileInfo(device.node).absolutePath())};
        if (!device.name.isEmpty())
            wanted << existingFolder(namesFolder());
        wanted.removeDuplicates();
        const QStringList watched = folders.directories();
        for (const QString& f : watched)
            if (!wanted.contains(f))
                folders.removePath(f);
        for (const QString& f : wanted)
            if (!watched.contains(f))
                folders.addPath(f);
    }

    void check() {
        if (!active)
            return;
        const Stamp now = stampOf(device.node);
        if (!now.present || now == before)
            return;
        // A pseudo-terminal goes for good with the program that made it;
        // the next one given its number belongs to another program (a
        // device server restarted makes a new one: reach it by a link of
        // its own, which is followed).
        if (device.name.isEmpty() && isPseudoTerminal(device.node)) {
            if (!std::exchange(toldUnnamed, true))
                emit q->stranger(QString());
            return;
        }
        const QString name = device.name.isEmpty() ? QString() : identify(device.node).name;
        if (name == device.name) {
            q->cancel();
            emit q->back();
        } else if (name.isEmpty()) {
            if (!naming.isActive() && !toldUnnamed)
                naming.start(NamingMs);
        } else if (name != told) {
            told = name;
            emit q->stranger(name);
        }
    }

    void unnamed() {
        if (!active || !stampOf(device.node).present)
            return;
        // The name may have come with a folder that was watched too late.
        const QString name = identify(device.node).name;
        if (name == device.name) {
            q->cancel();
            emit q->back();
        } else if (name.isEmpty() && !std::exchange(toldUnnamed, true)) {
            emit q->stranger(QString());
        }
    }
};

DeviceWatch::DeviceWatch(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->q = this;
    d->naming.setSingleShot(true);
    connect(&d->folders, &QFileSystemWatcher::directoryChanged, this, [this] {
        // A folder may have appeared since (the by-id folder with its first
        // adapter).
        d->watchFolders();
        d->check();
    });
    connect(&d->naming, &QTimer::timeout, this, [this] { d->unnamed(); });
}

DeviceWatch::~DeviceWatch() = default;

DeviceIdentity DeviceWatch::identify(const QString& node) {
    DeviceIdentity id{node, {}};
    const QString target = QFileInfo(node).canonicalFilePath();
    if (target.isEmpty())
        return id;
    const QFileInfoList names =
        QDir(namesFolder())
            .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : names) {
        if (entry.canonicalFilePath() == target) {
            id.name = entry.fileName();
            break;
        }
    }
    return id;
}

QString DeviceWatch::adapterName(const QString& node) {
    const QString name = identify(node).name;
    return name.isEmpty() ? QString() : namesFolder() + QLatin1Char('/') + name;
}

void DeviceWatch::watch(const DeviceIdentity& device) {
    cancel();
    d->device = device;
    d->before = stampOf(device.node);
    d->active = true;
    d->watchFolders();
    // It may be back already; say so from the event loop, as later.
    QTimer::singleShot(0, this, [this] { d->check(); });
}

void DeviceWatch::cancel() {
    d->active = false;
    d->naming.stop();
    d->told.clear();
    d->toldUnnamed = false;
    const QStringList watched = d->folders.directories();
    if (!watched.isEmpty())
        d->folders.removePaths(watched);
}
