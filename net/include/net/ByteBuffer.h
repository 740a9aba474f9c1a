#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes in arrival order: appended at the back, consumed from the front by moving a read index.
// The unread bytes are always one contiguous run at Data(), so a message in them can be used in
// place. They move to the front only when an append needs the room and at least as many bytes
// have been consumed, so every byte costs amortised O(1).
class ByteBuffer {
public:
    // Storage larger than this is released whenever the buffer becomes empty.
    static constexpr std::size_t RETAINED_CAPACITY = 256u * 1024u;

    std::size_t Size() const { return writeIndex - readIndex; }
    bool Empty() const { return readIndex == writeIndex; }
    const std::uint8_t* Data() const { return storage.data() + readIndex; }
    std::size_t Capacity() const { return storage.size(); }

    void Append(const void* data, std::size_t length);
    // Room for `length` more bytes at the back; Commit makes the first `written` of them part of
    // the buffer.
    std::uint8_t* PrepareAppend(std::size_t length);
    void Commit(std::size_t written) { writeIndex += written; }
    // The room the storage already has after the last byte: a read can fill it, then Commit,
    // without anything moving or growing.
    std::uint8_t* SpareRoom() { return storage.data() + writeIndex; }
    std::size_t SpareRoomSize() const { return storage.size() - writeIndex; }
    void Consume(std::size_t length);
    void Clear();
    // Index of the first occurrence of `pattern`, or Size() when there is none.
    std::size_t Find(const std::uint8_t* pattern, std::size_t length) const;

private:
    std::vector<std::uint8_t> storage;
    std::size_t readIndex = 0;
    std::size_t writeIndex = 0;
};
