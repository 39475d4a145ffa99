#pragma once

#include <QString>
#include <cstdint>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

// A snapshot of the parent relation of processes. Built from /proc, or from
// a map in tests.
class ProcessTree {
public:
    ProcessTree() = default;
    explicit ProcessTree(std::unordered_map<pid_t, pid_t> parentOf);

    // Reads /proc/<pid>/stat of every process.
    static ProcessTree fromProc();

    bool contains(pid_t pid) const { return parentOf_.count(pid) != 0; }
    // True when pid is root itself or one of its descendants.
    bool isSelfOrDescendant(pid_t pid, pid_t root) const;
    // root (if alive) and all its living descendants.
    std::vector<pid_t> family(pid_t root) const;

    // The parent pid from the text of /proc/<pid>/stat, -1 if malformed.
    // The command name in parentheses may itself contain ") ".
    static pid_t parentFromStat(const QByteArray& statText);
    // Resolved /proc/<pid>/exe, empty when unknown (ended, or not ours).
    static QString executableOf(pid_t pid);
    // Processor time the process has used so far (user and system), in ms.
    static std::int64_t cpuMsOf(pid_t pid);

private:
    std::unordered_map<pid_t, pid_t> parentOf_;
};
