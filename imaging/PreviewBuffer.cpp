#include "imaging/PreviewBuffer.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

void DefaultOutOfMemory() {}

OutOfMemoryHandler& Handler() {
    static OutOfMemoryHandler handler = DefaultOutOfMemory;
    return handler;
}

[[noreturn]] void OutOfMemory() {
    if (OutOfMemoryHandler h = Handler()) h();
    // Whatever the handler did, the buffer the caller asked for does not
    // exist, and every caller goes on to write into it.
    std::exit(1);
}

// Handing a preview-sized block back to the C library and asking for one
// again with the next photograph costs more than the rest of a small
// photograph's preview: once 128 KiB lie free at the top of its heap, glibc
// gives them back to the system, and every page of the next block faults in
// anew. So the last released block of about a preview's size is kept for the
// next buffer that needs one.
constexpr size_t KEEP_MIN = 64 * 1024;
constexpr size_t KEEP_MAX = 2 * 1024 * 1024;  // above the largest preview, 800 x 600 x 3

struct KeptBlock {
    std::mutex mutex;
    void* data = nullptr;
    size_t capacity = 0;
};

KeptBlock& Kept() {
    static KeptBlock kept;
    return kept;
}

void* TakeKeptBlock(size_t size, size_t& capacity) {
    if (size < KEEP_MIN || size > KEEP_MAX) return nullptr;
    KeptBlock& kept = Kept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (!kept.data || kept.capacity < size) return nullptr;
    capacity = kept.capacity;
    kept.capacity = 0;
    return std::exchange(kept.data, nullptr);
}

void Release(void* data, size_t capacity) {
    if (data && capacity >= KEEP_MIN && capacity <= KEEP_MAX) {
        KeptBlock& kept = Kept();
        std::lock_guard<std::mutex> lock(kept.mutex);
        std::swap(kept.data, data);
        kept.capacity = capacity;
    }
    std::free(data);
}

}  // namespace

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler) {
    return std::exchange(Handler(), handler ? handler : DefaultOutOfMemory);
}

ByteBuffer::~ByteBuffer() { Release(m_pData, m_nCapacity); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_nSize(std::exchange(other.m_nSize, 0)),
      m_nCapacity(std::exchange(other.m_nCapacity, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        Release(m_pData, m_nCapacity);
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_nCapacity = std::exchange(other.m_nCapacity, 0);
    }
    return *this;
}

void ByteBuffer::Resize(size_t size) {
    if (!TryResize(size)) OutOfMemory();
}

bool ByteBuffer::TryResize(size_t size) {
    if (size > m_nCapacity && !m_pData) m_pData = static_cast<uint8_t*>(TakeKeptBlock(size, m_nCapacity));
    if (size > m_nCapacity) {
        // Grow geometrically so that a buffer filled bit by bit is not
        // copied once per step, but never ask for more than needed when the
        // doubling itself would be out of reach.
        size_t want = m_nCapacity > size / 2 ? m_nCapacity + m_nCapacity / 2 : size;
        if (want < size) want = size;
        void* p = std::realloc(m_pData, want);
        if (!p && want != size) {
            want = size;
            p = std::realloc(m_pData, want);
        }
        if (!p) return false;
        m_pData = static_cast<uint8_t*>(p);
        m_nCapacity = want;
    }
    if (size > m_nSize) std::memset(m_pData + m_nSize, 0, size - m_nSize);
    m_nSize = size;
    return true;
}

void ByteBuffer::Clear() {
    Release(m_pData, m_nCapacity);
    m_pData = nullptr;
    m_nSize = 0;
    m_nCapacity = 0;
}
