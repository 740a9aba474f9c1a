#include "net/ByteBuffer.h"

#include <algorithm>
#include <cstring>

void ByteBuffer::Append(const void* data, std::size_t length) {
    if (length == 0) {
        return;
    }
    std::memcpy(PrepareAppend(length), data, length);
    Commit(length);
}

std::uint8_t* ByteBuffer::PrepareAppend(std::size_t length) {
    if (storage.size() - writeIndex < length) {
        const std::size_t unread = Size();
        // Moving costs the unread bytes; doing it only when at least as many have been
        // consumed since keeps the cost per byte constant.
        if (storage.size() - unread >= length && readIndex >= unread) {
            std::memmove(storage.data(), storage.data() + readIndex, unread);
        } else {
            std::vector<std::uint8_t> grown(std::max(storage.size() * 2, unread + length));
            // An empty vector's data() may be null, which memcpy must not get even for 0 bytes.
            if (unread > 0) {
                std::memcpy(grown.data(), storage.data() + readIndex, unread);
            }
            storage.swap(grown);
        }
        readIndex = 0;
        writeIndex = unread;
    }
    return storage.data() + writeIndex;
}

void ByteBuffer::Consume(std::size_t length) {
    readIndex += std::min(length, Size());
    if (readIndex == writeIndex) {
        Clear();
    }
}

void ByteBuffer::Clear() {
    readIndex = 0;
    writeIndex = 0;
    // A backlog that has drained gives its storage back, so that a peer that was once slow or
    // fast does not hold a large buffer for the rest of its connection.
    if (storage.size() > RETAINED_CAPACITY) {
        std::vector<std::uint8_t>().swap(storage);
    }
}

std::size_t ByteBuffer::Find(const std::uint8_t* pattern, std::size_t length) const {
    if (length == 0) {
        return 0;
    }
    const std::uint8_t* begin = Data();
    const std::uint8_t* end = begin + Size();
    const std::uint8_t* found = std::search(begin, end, pattern, pattern + length);
    return static_cast<std::size_t>(found - begin);
}
