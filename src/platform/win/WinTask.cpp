#include "platform/win/WinTask.h"

WinTask& WinTaskTable::add(WinTask task) {
    if (tasks_.size() >= size_t(MaxId)) {
        auto oldest = order_.begin();
        for (auto it = order_.begin(); it != order_.end(); ++it)
            if (it->second < oldest->second)
                oldest = it;
        tasks_.erase(oldest->first);
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

WinTask* WinTaskTable::find(std::int16_t id) {
    const auto it = tasks_.find(id);
    return it == tasks_.end() ? nullptr : &it->second;
}
