#pragma once

#include "net/NetSocket.h"
#include "server/RelayMessage.h"

#include <cstdint>

// Takes the frame at the front of the endpoint's receive buffer once all of it is there: its
// header into `header` and its value into `value`, which has room for MAX_VALUE_LENGTH bytes.
// A frame that has arrived only in part stays buffered, and the result is false.
// Looks only at the buffer, never at the socket.
bool TakeWholeFrame(NetSocket& endpoint, FrameHeader& header, std::uint8_t* value);
// Whether a whole frame is at the front of the endpoint's receive buffer.
bool WholeFrameBuffered(NetSocket& endpoint);
