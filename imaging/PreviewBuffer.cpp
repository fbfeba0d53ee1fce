#include "imaging/PreviewBuffer.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/MessageBox.h"

namespace {

void DefaultOutOfMemory() {
    // An empty caption: the box carries no caption of its own.
    ShowMessageBox(L"out of memory");
}

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

}  // namespace

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler) {
    return std::exchange(Handler(), handler ? handler : DefaultOutOfMemory);
}

ByteBuffer::~ByteBuffer() { std::free(m_pData); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_nSize(std::exchange(other.m_nSize, 0)),
      m_nCapacity(std::exchange(other.m_nCapacity, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        std::free(m_pData);
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_nCapacity = std::exchange(other.m_nCapacity, 0);
    }
    return *this;
}

void ByteBuffer::Resize(size_t size) {
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
        if (!p) OutOfMemory();
        m_pData = static_cast<uint8_t*>(p);
        m_nCapacity = want;
    }
    if (size > m_nSize) std::memset(m_pData + m_nSize, 0, size - m_nSize);
    m_nSize = size;
}

void ByteBuffer::Clear() {
    std::free(m_pData);
    m_pData = nullptr;
    m_nSize = 0;
    m_nCapacity = 0;
}
