#pragma once

#include "protocol/Frame.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// The frame format written out by hand, apart from the protocol's encoder and decoder, so that a
// test of the relay's frames does not rest on the code it checks. The tests, the fault tests and
// the fuzzer make and read every frame of their own here.

// The bytes of one frame, whose value holds at most 255 bytes.
std::vector<std::uint8_t> EncodeTestFrame(std::uint8_t id, std::uint16_t target,
                                          std::string_view value);
// Reads the whole frame at the front of `bytes` into `frame`: its size on the wire, or 0, leaving
// `frame` as it was, when it is not all there.
std::size_t DecodeTestFrame(const std::uint8_t* bytes, std::size_t size, Frame& frame);
// Cuts the whole frames off the front of `bytes`; the bytes of a frame that has arrived only in
// part stay behind.
std::vector<Frame> TakeWholeFrames(std::vector<std::uint8_t>& bytes);
