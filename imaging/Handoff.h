#pragma once
// Slots passed from one thread to another and back: the producer takes a
// free slot, fills it and queues it; the consumer takes the oldest queued
// one and frees it once done with it. A few slots keep both threads busy
// without either running far ahead.
#include <condition_variable>
#include <mutex>
#include <vector>

template <typename Slot>
class Handoff {
public:
    // Every slot free, nothing queued, open.
    void Reset(std::vector<Slot*> slots) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free = std::move(slots);
        m_queue.clear();
        m_finished = m_closed = false;
    }
    // A free slot, waiting for one; null once closed.
    Slot* TakeFree() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_free.empty() || m_closed; });
        if (m_closed) return nullptr;
        Slot* slot = m_free.back();
        m_free.pop_back();
        return slot;
    }
    void Queue(Slot* slot) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(slot);
        m_changed.notify_all();
    }
    // The oldest queued slot, waiting for one; null once closed, or once
    // finished and nothing is left.
    Slot* TakeQueued() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_finished || m_closed; });
        if (m_closed || m_queue.empty()) return nullptr;
        Slot* slot = m_queue.front();
        m_queue.erase(m_queue.begin());
        return slot;
    }
    void Free(Slot* slot) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free.push_back(slot);
        m_changed.notify_all();
    }
    // Nothing more will be queued.
    void Finish() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }
    // Every wait gives up, now and later.
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot*> m_free;
    std::vector<Slot*> m_queue;  // oldest first
    bool m_finished = false;
    bool m_closed = false;
};
