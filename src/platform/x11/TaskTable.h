#pragma once

#include "platform/x11/Task.h"

#include <map>

// Hands out task numbers 1..32767, cycling, never one still in use. When
// every number is taken the oldest task is dropped.
class TaskTable {
public:
    static constexpr std::int16_t MaxId = 32767;

    Task& add(Task task); // assigns task.id
    Task* find(std::int16_t id);
    void remove(std::int16_t id) { tasks_.erase(id); }
    int size() const { return int(tasks_.size()); }

private:
    std::map<std::int16_t, Task> tasks_;
    std::int16_t lastId_ = 0;
    std::uint64_t serial_ = 0;
    std::map<std::int16_t, std::uint64_t> order_;
};
