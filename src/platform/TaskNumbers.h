#pragma once

#include <cstdint>
#include <map>
#include <utility>

// Hands out task numbers 1..32767, cycling, never one still in use. When
// every number is taken the oldest task is dropped. Task is a struct with an
// std::int16_t id. Plain C++, so that every backend's core can use it.
template <typename Task> class TaskNumbers {
public:
    static constexpr std::int16_t MaxId = 32767;

    Task& add(Task task) { // assigns task.id
        if (int(tasks_.size()) >= MaxId) {
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
    Task* find(std::int16_t id) {
        const auto it = tasks_.find(id);
        return it == tasks_.end() ? nullptr : &it->second;
    }
    void remove(std::int16_t id) {
        tasks_.erase(id);
        order_.erase(id);
    }
    int size() const { return int(tasks_.size()); }

private:
    std::map<std::int16_t, Task> tasks_;
    std::map<std::int16_t, std::uint64_t> order_; // when each was added
    std::int16_t lastId_ = 0;
    std::uint64_t serial_ = 0;
};
