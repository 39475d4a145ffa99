#pragma once

#include <cstdint>
#include <sys/types.h>
#include <utility>
#include <vector>

class X11Connection;

// The spare keys this program has mapped, kept on the X server (a property
// of the root window) with our process id. A program killed while it typed
// cannot give its keys back, and may leave a modifier pressed; the next start
// finds its record, sees that the process is gone, and puts the keyboard back
// as it was. Several instances share the property, from other hosts too:
// each owns its records, and only records of this host are judged by their
// process id.
class KeyLoans {
public:
    using Loan = std::pair<std::uint8_t, unsigned long>; // keycode, keysym

    explicit KeyLoans(X11Connection& connection);
    ~KeyLoans(); // a clean exit leaves no record

    // Gives back the keys of instances that no longer run and releases any
    // modifier key that is down, if such an instance was found; then marks
    // this instance as one that types here. Returns the keys given back.
    int recoverFromDeadInstances();
    // Replaces this instance's records: the keys it holds now.
    void record(const std::vector<Loan>& loans);

    // The records as stored: (pid, host, keycode, keysym); keycode 0 marks
    // an instance without borrowed keys. Exposed for tests.
    struct Entry {
        pid_t pid = 0;
        std::uint32_t host = 0; // a hash of the host name
        std::uint8_t keycode = 0;
        unsigned long keysym = 0;
    };
    std::vector<Entry> entries() const;

private:
    void write(const std::vector<Entry>& entries);
    // Replaces this instance's records with own, keeping everyone else's.
    void replaceOwn(const std::vector<Entry>& own);
    void releaseModifiers();

    X11Connection& connection_;
    unsigned long atom_ = 0;
};
