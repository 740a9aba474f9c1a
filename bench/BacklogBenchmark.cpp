#include "bench/RelayBenchmarks.h"

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "protocol/FrameSocket.h"
#include "sync/Clock.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr std::uint32_t BACKLOG_BYTES = 10u * 1024u * 1024u;
// Small enough that the loopback connection takes it without waiting for the reader.
constexpr std::size_t WRITE_CHUNK = 16u * 1024u;

// Moves BACKLOG_BYTES from `writer` into the receive buffer of `reader`.
bool BuildBacklog(NetSocket& writer, NetSocket& reader) {
    const std::vector<std::uint8_t> chunk(WRITE_CHUNK, 0x5A);
    std::uint32_t written = 0;
    while (written < BACKLOG_BYTES) {
        const std::uint32_t size = std::min<std::uint32_t>(WRITE_CHUNK, BACKLOG_BYTES - written);
        if (writer.Send(chunk.data(), static_cast<int>(size), 0, nullptr) != 0) {
            return false;
        }
        written += size;
        reader.Receive(false);
    }
    for (int attempt = 0; attempt < 1000 && reader.BufferedBytes() < BACKLOG_BYTES; ++attempt) {
        reader.Receive(false);
    }
    return reader.BufferedBytes() == BACKLOG_BYTES;
}

// Takes one piece from the front of the reader's buffer; false when none is left.
using TakeOne = bool (*)(NetSocket& reader);

// A library Read of one largest frame's size, which first asks the socket for pending bytes.
bool ReadOneChunk(NetSocket& reader) {
    std::uint8_t bytes[MAX_FRAME_SIZE];
    return reader.Read(bytes, MAX_FRAME_SIZE) == 0;
}

// The relay's whole-frame reader, which looks only at the buffer (the backlog's bytes read as
// frames of 94 bytes).
bool TakeOneFrame(NetSocket& reader) {
    static Frame frame;
    return TakeWholeFrame(reader, frame);
}

// Takes a 10 MB receive buffer apart piece by piece, as a reader of frames would after falling
// behind.
void DrainBacklog(benchmark::State& state, TakeOne takeOne) {
    NetSocket listener;
    NetSocket writer;
    if (listener.Open(NS_TCP | NS_SERVER, 0, nullptr) != 0 ||
        writer.Open(NS_TCP, listener.LocalPort(), "127.0.0.1") != 0) {
        state.SkipWithError("no loopback connection");
        return;
    }
    std::unique_ptr<NetSocket> reader;
    for (int attempt = 0; attempt < 1000 && !reader; ++attempt) {
        reader.reset(listener.Accept());
    }
    if (!reader) {
        state.SkipWithError("no loopback connection");
        return;
    }
    // What is left after the last whole piece is shorter than a frame.
    std::uint8_t rest[MAX_FRAME_SIZE];
    std::int64_t reads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!BuildBacklog(writer, *reader)) {
            state.SkipWithError("the backlog could not be built");
            return;
        }
        state.ResumeTiming();
        while (takeOne(*reader)) {
            ++reads;
        }
        state.PauseTiming();
        reader->Read(rest, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * BACKLOG_BYTES);
    state.counters["reads"] = static_cast<double>(reads) / static_cast<double>(state.iterations());
    state.counters["cpu_per_read"] = benchmark::Counter(
        static_cast<double>(reads), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

void RegisterBacklogBenchmark() {
    benchmark::RegisterBenchmark("DrainBacklog/10MB/frame_reads", DrainBacklog, ReadOneChunk)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("DrainBacklog/10MB/whole_frames", DrainBacklog, TakeOneFrame)
        ->Unit(benchmark::kMillisecond);
}
