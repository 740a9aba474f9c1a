#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"

// Takes the frame at the front of the endpoint's receive buffer into `frame` once all of it is
// there. A frame that has arrived only in part stays buffered, and the result is false. Only the
// buffer is looked at, never the socket.
bool TakeWholeFrame(NetSocket& endpoint, Frame& frame);
// Shows the frame at the front of the endpoint's receive buffer in place, once all of it is there,
// without taking it: the caller discards its Size() bytes when done with it. The view is valid
// until the buffer next changes. False while only part of the frame has arrived, and always on an
// endpoint with a receiver thread, whose buffer cannot be shown in place. Only the buffer is
// looked at, never the socket.
bool PeekWholeFrame(const NetSocket& endpoint, FrameView& frame);
// Whether a whole frame is at the front of the endpoint's receive buffer.
bool WholeFrameBuffered(NetSocket& endpoint);

// Receives what the endpoint holds without waiting, then takes a whole frame as
// TakeWholeFrame does.
bool TakeFrame(NetSocket& endpoint, Frame& frame);

// Sends one frame; 1 when the endpoint refused it or the value is too long.
int SendFrame(NetSocket& endpoint, const Frame& frame);
