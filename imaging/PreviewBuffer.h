#pragma once
// The program's one growable byte array. Running out of memory for it is not
// something the program can work around: it says so and ends.
#include <cstddef>
#include <cstdint>

class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // Sets the size; bytes that become new are 0. When memory cannot be had,
    // the out-of-memory handler runs and the program ends.
    void Resize(size_t size);
    // The same, but false, with nothing changed, when memory cannot be had.
    bool TryResize(size_t size);
    void Clear();  // size 0, memory released

    uint8_t* Data() { return m_pData; }
    const uint8_t* Data() const { return m_pData; }
    size_t Size() const { return m_nSize; }
    bool Empty() const { return m_nSize == 0; }
    uint8_t& operator[](size_t i) { return m_pData[i]; }
    const uint8_t& operator[](size_t i) const { return m_pData[i]; }

private:
    uint8_t* m_pData = nullptr;
    size_t m_nSize = 0;
    size_t m_nCapacity = 0;
};

// A preview: width x height x 3 bytes, R, G, B, top row first, no row gaps.
using PreviewBuffer = ByteBuffer;

// What Resize does when memory cannot be had, before the program ends with
// exit status 1: nothing by default; the window says so in a box.
// Replaceable so tests can observe it.
using OutOfMemoryHandler = void (*)();
OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler);
