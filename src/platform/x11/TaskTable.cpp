#include "platform/x11/TaskTable.h"

Task& TaskTable::add(Task task) {
    if (int(tasks_.size()) >= MaxId) {
        std::int16_t oldest = 0;
        std::uint64_t oldestSerial = UINT64_MAX;
        for (const auto& [id, serial] : order_) {
            if (serial < oldestSerial) {
                oldestSerial = serial;
                oldest = id;
            }
        }
        tasks_.erase(oldest);
        order_.erase(oldest);
    }
    std::int16_t id = lastId_;
    do {
        id = id >= MaxId ? 1 : std::int16_t(id + 1);
    } while (tasks_.count(id));
    lastId_ = id;
    task.id = id;
    order_[id] = ++serial_;
    return tasks_[id] = std::move(task);
}

Task* TaskTable::find(std::int16_t id) {
    const auto it = tasks_.find(id);
    return it == tasks_.end() ? nullptr : &it->second;
}
