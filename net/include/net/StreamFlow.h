#pragma once

#include "net/ByteBuffer.h"

#include <cstddef>

// Output that a stream socket could not take at once is kept up to this many bytes; a connection
// that falls further behind is shut down.
inline constexpr std::size_t KEPT_OUTPUT_LIMIT = 1u << 20;

// How a stream connection keeps pace with its peer, apart from the socket calls: the receive limit
// on the input it buffers, the output it keeps while the socket cannot take it, and whether the
// connection has failed or fell behind. NetSocket holds one and makes the calls.
class StreamFlow {
public:
    // The most unread bytes to buffer; 0, the default, is no limit.
    void SetReceiveLimit(std::size_t bytes) { receiveLimit = bytes; }
    // Room for input after `buffered` unread bytes, at most `largest`.
    std::size_t ReceiveRoom(std::size_t buffered, std::size_t largest) const;
    // True when `buffered` unread bytes fill the receive limit.
    bool InputFull(std::size_t buffered) const;

    // The most bytes one send call is given; 0, the default, is no limit.
    void LimitEachWrite(std::size_t bytes) { writeLimit = bytes; }
    // What one send call is given of `rest` bytes.
    std::size_t NextWrite(std::size_t rest) const;

    const ByteBuffer& KeptOutput() const { return keptOutput; }
    // Whether `length` more bytes would take the kept output past KEPT_OUTPUT_LIMIT.
    bool WouldPassLimit(std::size_t length) const;
    // Keeps `length` more bytes of output; when they would pass the limit nothing is kept and
    // the connection has failed by falling behind. True when kept.
    bool KeepOutput(const void* data, std::size_t length);
    // Drops the first `written` bytes of kept output, which the socket took.
    void Written(std::size_t written) { keptOutput.Consume(written); }
    void DropKeptOutput() { keptOutput.Clear(); }

    // The connection can carry no more output; what is kept is dropped.
    void Fail();
    bool HasFailed() const { return failed; }
    bool FellBehind() const { return fellBehind; }
    // A new connection: nothing kept, nothing failed. The limits stay as they were set.
    void Restart();

private:
    ByteBuffer keptOutput;
    std::size_t receiveLimit = 0;
    std::size_t writeLimit = 0;
    bool failed = false;
    bool fellBehind = false;
};
