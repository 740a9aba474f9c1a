#pragma once

#include "net/NetSocket.h"
#include "sync/Clock.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Waiting is generous so that a loaded machine does not make a test fail; a correct endpoint
// ends every wait long before this.
inline constexpr int WAIT_MS = 10000;

// Polls `condition` every millisecond until it holds or `timeoutMs` have passed.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = WAIT_MS);

// Calls Receive(false) until at least `count` bytes are buffered.
bool ReceiveAtLeast(NetSocket& endpoint, std::uint32_t count, int timeoutMs = WAIT_MS);

// Every buffered byte, as text.
std::string TakeAll(NetSocket& endpoint);

// Bytes that differ from their neighbours, so that a lost, repeated or reordered piece shows.
std::vector<std::uint8_t> PatternBytes(std::size_t count, unsigned seed = 1);

// A listener on a free loopback port, a client connected to it and the accepted endpoint.
struct LoopbackPair {
    NetSocket listener;
    NetSocket client;
    std::unique_ptr<NetSocket> accepted;

    bool Connect(int listenerFlags = NS_TCP | NS_SERVER, int clientFlags = NS_TCP);
};

// A datagram receiver on a free loopback port and a sender that writes to it.
struct DatagramPair {
    NetSocket receiver;
    NetSocket sender;

    bool Open(int receiverFlags = NS_UDP);
    // Sends one datagram from `sender` to the receiver's port at `host`; Send's result.
    int Send(const void* data, int length, const char* host = "127.0.0.1");
};

// Takes the next pending connection of `listener`, waiting for it to arrive.
std::unique_ptr<NetSocket> AcceptOne(NetSocket& listener);
