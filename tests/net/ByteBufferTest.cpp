#include "net/ByteBuffer.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

namespace {

std::string Contents(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Size());
}

std::size_t FindText(const ByteBuffer& buffer, const std::string& pattern) {
    return buffer.Find(reinterpret_cast<const std::uint8_t*>(pattern.data()), pattern.size());
}

}  // namespace

TEST(ByteBufferTest, CountsFollowEveryOperation) {
    ByteBuffer buffer;
    EXPECT_TRUE(buffer.Empty());
    EXPECT_EQ(buffer.Size(), 0u);

    buffer.Append("hello", 5);
    EXPECT_FALSE(buffer.Empty());
    EXPECT_EQ(Contents(buffer), "hello");

    buffer.Consume(2);
    EXPECT_EQ(buffer.Size(), 3u);
    EXPECT_EQ(Contents(buffer), "llo");

    buffer.Append("", 0);
    EXPECT_EQ(buffer.Size(), 3u);

    std::uint8_t* room = buffer.PrepareAppend(10);
    std::memcpy(room, "wor", 3);
    EXPECT_EQ(buffer.Size(), 3u) << "prepared room is not part of the buffer";
    buffer.Commit(3);
    EXPECT_EQ(Contents(buffer), "llowor");

    buffer.Consume(100);
    EXPECT_TRUE(buffer.Empty());
    EXPECT_EQ(buffer.Size(), 0u);

    buffer.Append("ab", 2);
    EXPECT_EQ(Contents(buffer), "ab");
    buffer.Clear();
    EXPECT_TRUE(buffer.Empty());
    buffer.Append("z", 1);
    EXPECT_EQ(Contents(buffer), "z");
}

TEST(ByteBufferTest, FindGivesThePositionOfTheFirstOccurrenceFromTheReadIndex) {
    ByteBuffer buffer;
    buffer.Append("xxab\r\ncd\r\n", 10);
    EXPECT_EQ(FindText(buffer, "\r\n"), 4u);
    EXPECT_EQ(FindText(buffer, "x"), 0u);
    EXPECT_EQ(FindText(buffer, "d\r\n"), 7u) << "a match that ends the buffer";
    EXPECT_EQ(FindText(buffer, ""), 0u);
    EXPECT_EQ(FindText(buffer, "\n\n"), buffer.Size()) << "no match is Size()";
    EXPECT_EQ(FindText(buffer, "xxab\r\ncd\r\n!"), buffer.Size()) << "longer than the buffer";

    buffer.Consume(3);
    EXPECT_EQ(FindText(buffer, "\r\n"), 1u);
    EXPECT_EQ(FindText(buffer, "xx"), buffer.Size()) << "consumed bytes are not searched";

    ByteBuffer high;
    high.Append("\x7f\xfe\x7f\xfe\x80", 5);
    EXPECT_EQ(FindText(high, "\xfe\x80"), 3u);
}

// Appends and consumes of odd sizes, checked after every step against a deque, so that any
// compaction or growth that loses, repeats or reorders a byte shows.
TEST(ByteBufferTest, CompactionKeepsOrderAcrossManyOddSizedSteps) {
    ByteBuffer buffer;
    std::deque<std::uint8_t> reference;
    const std::vector<std::uint8_t> source = PatternBytes(4096, 7);
    std::uint32_t state = 12345;
    auto next = [&](std::uint32_t bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    };
    for (int step = 0; step < 20000; ++step) {
        const std::size_t length = 1 + 2 * next(700);
        const std::size_t offset = next(static_cast<std::uint32_t>(source.size() - length));
        switch (next(3)) {
            case 0:
                buffer.Append(source.data() + offset, length);
                reference.insert(reference.end(), source.begin() + static_cast<long>(offset),
                                 source.begin() + static_cast<long>(offset + length));
                break;
            case 1: {
                // Commits only part of the prepared room, as a short receive does.
                const std::size_t written = length / 3;
                std::memcpy(buffer.PrepareAppend(length), source.data() + offset, written);
                buffer.Commit(written);
                reference.insert(reference.end(), source.begin() + static_cast<long>(offset),
                                 source.begin() + static_cast<long>(offset + written));
                break;
            }
            default: {
                const std::size_t taken = std::min(length, reference.size());
                buffer.Consume(length);
                reference.erase(reference.begin(), reference.begin() + static_cast<long>(taken));
                break;
            }
        }
        ASSERT_EQ(buffer.Size(), reference.size()) << "step " << step;
        ASSERT_TRUE(std::equal(reference.begin(), reference.end(), buffer.Data()))
            << "step " << step;
    }
}

TEST(ByteBufferTest, LargeDataAppendedInChunksIsTakenBackWhole) {
    const std::vector<std::uint8_t> data = PatternBytes(12u << 20, 3);
    ByteBuffer buffer;
    std::size_t appended = 0;
    std::size_t consumed = 0;
    // Keeps a backlog of several MB while reading in small pieces from the front.
    while (consumed < data.size()) {
        if (appended < data.size()) {
            const std::size_t chunk = std::min<std::size_t>(65521, data.size() - appended);
            buffer.Append(data.data() + appended, chunk);
            appended += chunk;
        }
        const std::size_t backlog = appended - consumed;
        const std::size_t read =
            appended == data.size() ? backlog : std::min<std::size_t>(259 * 97, backlog);
        ASSERT_EQ(std::memcmp(buffer.Data(), data.data() + consumed, read), 0)
            << "at byte " << consumed;
        buffer.Consume(read);
        consumed += read;
        ASSERT_EQ(buffer.Size(), appended - consumed);
    }
    EXPECT_TRUE(buffer.Empty());
    EXPECT_LE(buffer.Capacity(), ByteBuffer::RETAINED_CAPACITY)
        << "a drained backlog keeps its storage";
}

TEST(ByteBufferTest, SmallStorageIsKeptAcrossDrains) {
    ByteBuffer buffer;
    const std::string text(1000, 'k');
    buffer.Append(text.data(), text.size());
    const std::size_t capacity = buffer.Capacity();
    buffer.Consume(text.size());
    EXPECT_EQ(buffer.Capacity(), capacity);
    buffer.Append(text.data(), text.size());
    EXPECT_EQ(Contents(buffer), text);
}
