#include "tools/load/ChaosPlayer.h"

#include "tools/load/Greeting.h"
#include "tools/load/LoadStamp.h"

namespace {

constexpr std::int64_t MILLISECOND = 1000;
constexpr std::int64_t SECOND = 1000 * MILLISECOND;

// A small window makes a reader that stops fill the server's output within a run.
constexpr int RECEIVE_WINDOW_BYTES = 4096;
constexpr std::size_t READ_LIMIT = 64 * 1024;
// A flood keeps this much queued and writes it as fast as the socket takes it.
constexpr std::size_t FLOOD_QUEUE_BYTES = 16 * 1024;
// How long the server may take to end a connection whose player left or half-closed.
constexpr std::int64_t END_DEADLINE = 10 * SECOND;
// The server drops a player once this much output waits for it.
constexpr std::int64_t OUTPUT_BOUND_BYTES = 1024 * 1024;
// A reader that stopped for good and was not dropped by then gives up its connection.
constexpr std::int64_t STALL_LIMIT = 30 * SECOND;
// Ids this far up are held by nobody while the server has fewer than 59,998 players, since it
// gives out the lowest free id.
constexpr PlayerId FIRST_UNHELD_ID = 60000;

// Takes the whole frame at `offset` of `bytes`, if it is all there, and moves past it.
bool TakeFrameFromBytes(const std::string& bytes, std::size_t& offset, Frame& frame) {
    const std::size_t size = DecodeFrame(
        reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset, bytes.size() - offset, frame);
    offset += size;
    return size > 0;
}

void AppendFrame(std::string& bytes, const Frame& frame) {
    std::uint8_t encoded[MAX_FRAME_SIZE];
    const std::size_t size = EncodeFrame(frame, encoded);
    bytes.append(reinterpret_cast<const char*>(encoded), size);
}

}  // namespace

std::int64_t ChaosPlayer::Between(std::int64_t lowest, std::int64_t highest,
                                  ChaosWorld& world) const {
    return std::uniform_int_distribution<std::int64_t>(lowest, highest)(world.random);
}

void ChaosPlayer::Step(std::int64_t now, ChaosWorld& world) {
    switch (phase) {
        case Phase::Away:
            if (world.sending && now >= phaseEnd) {
                StartJoining(world);
            }
            return;
        case Phase::Joining:
            Join(now, world);
            return;
        case Phase::Behaving:
            if (!ReadFrames(world)) {
                EndedByServer(now, world);
                return;
            }
            if (world.sending) {
                QueueDueFrames(now, world);
            }
            if (!WriteQueued(world)) {
                EndedByServer(now, world);
                return;
            }
            if (world.sending && now >= phaseEnd && outgoing.empty()) {
                StartFault(now, world);
            }
            return;
        case Phase::Faulting:
            ContinueFault(now, world);
            return;
        case Phase::AwaitingEnd:
            if (!ReadFrames(world)) {
                EndedByServer(now, world);
            } else if (now >= phaseEnd) {
                ++world.tally.keptAfterLeaving;
                GoAway(now, world, false);
            }
            return;
    }
}

void ChaosPlayer::Broadcast(std::int64_t now, ChaosWorld& world) {
    if (phase == Phase::Behaving && world.sending) {
        QueueFrame(BROADCAST_ID, now, world);
    }
}

void ChaosPlayer::StartJoining(ChaosWorld& world) {
    incoming.clear();
    outgoing.clear();
    greetingsRead = 0;
    reading = true;
    mode = WriteMode::Whole;
    if (connection.Start(world.port, RECEIVE_WINDOW_BYTES)) {
        phase = Phase::Joining;
    }
}

void ChaosPlayer::Join(std::int64_t now, ChaosWorld& world) {
    const RawConnection::Status status = connection.Connect();
    if (status == RawConnection::Status::Waiting) {
        return;
    }
    if (status != RawConnection::Status::Open) {
        // Refused, for example while the listener's queue is full: try again shortly.
        connection.Close();
        phase = Phase::Away;
        phaseEnd = now + 100 * MILLISECOND;
        return;
    }
    if (!ReadFrames(world)) {
        EndedByServer(now, world);
        return;
    }
    if (phase != Phase::Joining || greetingsRead < 2) {
        return;
    }
    if (joinedBefore) {
        ++world.tally.reconnections;
    }
    joinedBefore = true;
    phase = Phase::Behaving;
    phaseEnd = now + Between(300 * MILLISECOND, 3 * SECOND, world);
    nextFrame = now + Between(0, world.directedInterval, world);
}

void ChaosPlayer::StartFault(std::int64_t now, ChaosWorld& world) {
    StartFault(world.faults[static_cast<std::size_t>(
                   Between(0, static_cast<std::int64_t>(world.faults.size()) - 1, world))],
               now, world);
}

void ChaosPlayer::StartFault(ChaosFault next, std::int64_t now, ChaosWorld& world) {
    fault = next;
    ++world.tally.faults[static_cast<std::size_t>(fault)];
    phase = Phase::Faulting;
    switch (fault) {
        case ChaosFault::ResetMidFrame: {
            QueueFrame(PickTarget(world), now, world);
            const auto part = static_cast<std::size_t>(
                Between(1, static_cast<std::int64_t>(outgoing.size()) - 1, world));
            connection.Write(outgoing.data(), part);
            GoAway(now, world, true);
            return;
        }
        case ChaosFault::CloseInOrder:
            GoAway(now, world, false);
            return;
        case ChaosFault::ShutdownSending:
            connection.ShutdownSending();
            phase = Phase::AwaitingEnd;
            phaseEnd = now + END_DEADLINE;
            return;
        case ChaosFault::LeaveMessage: {
            Frame leave;
            leave.id = MSG_LEAVE;
            leave.target = SERVER_ID;
            outgoing.clear();
            AppendFrame(outgoing, leave);
            if (!WriteQueued(world) || !outgoing.empty()) {
                EndedByServer(now, world);
                return;
            }
            phase = Phase::AwaitingEnd;
            phaseEnd = now + END_DEADLINE;
            return;
        }
        case ChaosFault::PauseReading:
            reading = false;
            phaseEnd = now + Between(500 * MILLISECOND, 4 * SECOND, world);
            return;
        case ChaosFault::StopReading:
            reading = false;
            phaseEnd = now + STALL_LIMIT;
            return;
        case ChaosFault::Flood:
            phaseEnd = now + Between(SECOND, 5 * SECOND, world);
            return;
        case ChaosFault::ByteAtATime:
            mode = WriteMode::ByteAtATime;
            for (std::int64_t count = Between(1, 3, world); count > 0; --count) {
                QueueFrame(PickTarget(world), now, world);
            }
            return;
        case ChaosFault::SplitFrames:
            mode = WriteMode::Split;
            for (std::int64_t count = Between(2, 5, world); count > 0; --count) {
                QueueFrame(PickTarget(world), now, world);
            }
            return;
        case ChaosFault::UnknownTarget:
            for (std::int64_t count = Between(1, 5, world); count > 0; --count) {
                QueueFrame(static_cast<PlayerId>(Between(FIRST_UNHELD_ID, LAST_PLAYER_ID, world)),
                           now, world);
            }
            return;
    }
}

void ChaosPlayer::ContinueFault(std::int64_t now, ChaosWorld& world) {
    if (!ReadFrames(world)) {
        EndedByServer(now, world);
        return;
    }
    bool over = false;
    switch (fault) {
        case ChaosFault::PauseReading:
            if (world.sending) {
                QueueDueFrames(now, world);
            }
            over = now >= phaseEnd;
            break;
        case ChaosFault::StopReading:
            if (world.sending) {
                QueueDueFrames(now, world);
                if (now >= phaseEnd) {
                    ++world.tally.stalledNotDropped;
                    GoAway(now, world, true);
                    return;
                }
            }
            break;
        case ChaosFault::Flood:
            // Refill and write until the socket takes no more; the queue stays bounded.
            for (int round = 0; round < 8 && world.sending && now < phaseEnd; ++round) {
                while (outgoing.size() < FLOOD_QUEUE_BYTES) {
                    const PlayerId target =
                        world.stalled.empty()
                            ? PickTarget(world)
                            : world.stalled[static_cast<std::size_t>(Between(
                                  0, static_cast<std::int64_t>(world.stalled.size()) - 1, world))];
                    QueueFrame(target, now, world);
                }
                const std::size_t before = outgoing.size();
                if (!WriteQueued(world)) {
                    EndedByServer(now, world);
                    return;
                }
                if (outgoing.size() == before) {
                    break;
                }
            }
            if (now >= phaseEnd) {
                // What the flood left queued would take minutes to be relayed at one frame per
                // pass, so the flooder ends its connection and joins again.
                outgoing.clear();
                StartFault(Between(0, 1, world) == 0 ? ChaosFault::ResetMidFrame
                                                     : ChaosFault::CloseInOrder,
                           now, world);
                return;
            }
            break;
        default:
            over = true;
            break;
    }
    if (!WriteQueued(world)) {
        EndedByServer(now, world);
        return;
    }
    if (over && outgoing.empty()) {
        reading = true;
        mode = WriteMode::Whole;
        phase = Phase::Behaving;
        phaseEnd = now + Between(300 * MILLISECOND, 3 * SECOND, world);
    }
}

void ChaosPlayer::GoAway(std::int64_t now, ChaosWorld& world, bool reset) {
    if (Joined()) {
        ++world.tally.departures;
    }
    if (reset) {
        connection.Reset();
    } else {
        connection.Close();
    }
    phase = Phase::Away;
    phaseEnd = now + Between(100 * MILLISECOND, SECOND, world);
}

bool ChaosPlayer::OwedPastOutputBound(const ChaosWorld& world) const {
    if (world.unreadBytes == nullptr) {
        return false;
    }
    const auto unread = world.unreadBytes->find(id);
    return unread != world.unreadBytes->end() && unread->second > OUTPUT_BOUND_BYTES;
}

void ChaosPlayer::EndedByServer(std::int64_t now, ChaosWorld& world) {
    if (phase == Phase::AwaitingEnd) {
        ++(fault == ChaosFault::LeaveMessage ? world.tally.endedAfterLeave
                                             : world.tally.endedAfterHalfClose);
    } else if (phase == Phase::Faulting && fault == ChaosFault::StopReading) {
        ++world.tally.droppedStoppedReaders;
    } else if (OwedPastOutputBound(world)) {
        ++world.tally.droppedBehindFloods;
    } else {
        ++world.tally.endedUnprovoked;
    }
    GoAway(now, world, false);
}

bool ChaosPlayer::ReadFrames(ChaosWorld& world) {
    if (!reading) {
        return true;
    }
    const RawConnection::Status status = connection.Read(incoming, READ_LIMIT);
    std::size_t offset = 0;
    Frame frame;
    while (TakeFrameFromBytes(incoming, offset, frame)) {
        if (greetingsRead < 2) {
            if (!IsGreeting(frame, greetingsRead, id)) {
                ++world.tally.badGreetings;
                return false;
            }
            ++greetingsRead;
            continue;
        }
        world.check.RecordReadByChaos(id, frame);
        if (world.unreadBytes != nullptr && frame.target != BROADCAST_ID) {
            (*world.unreadBytes)[id] -=
                static_cast<std::int64_t>(FRAME_HEADER_SIZE + frame.value.size());
        }
    }
    incoming.erase(0, offset);
    return status == RawConnection::Status::Open;
}

bool ChaosPlayer::WriteQueued(ChaosWorld& world) {
    if (outgoing.empty()) {
        return true;
    }
    std::size_t size = outgoing.size();
    if (mode == WriteMode::ByteAtATime) {
        size = 1;
    } else if (mode == WriteMode::Split) {
        size = static_cast<std::size_t>(Between(1, static_cast<std::int64_t>(size), world));
    }
    const long written = connection.Write(outgoing.data(), size);
    if (written < 0) {
        return false;
    }
    outgoing.erase(0, static_cast<std::size_t>(written));
    return true;
}

void ChaosPlayer::QueueFrame(PlayerId target, std::int64_t now, ChaosWorld& world) {
    const LoadFrame frame{id, nextSequence++, target, now, true};
    const Frame wire = EncodeLoadFrame(frame);
    AppendFrame(outgoing, wire);
    ++world.tally.framesSent;
    if (world.unreadBytes != nullptr && target != BROADCAST_ID) {
        (*world.unreadBytes)[target] +=
            static_cast<std::int64_t>(FRAME_HEADER_SIZE + wire.value.size());
    }
}

void ChaosPlayer::QueueDueFrames(std::int64_t now, ChaosWorld& world) {
    // After a pause in sending, start again from now rather than catching up in a burst.
    if (nextFrame < now - world.directedInterval) {
        nextFrame = now;
    }
    while (nextFrame <= now) {
        nextFrame += world.directedInterval;
        QueueFrame(PickTarget(world), now, world);
    }
}

PlayerId ChaosPlayer::PickTarget(ChaosWorld& world) const {
    if (world.targets.empty()) {
        return BROADCAST_ID;
    }
    return world.targets[static_cast<std::size_t>(
        Between(0, static_cast<std::int64_t>(world.targets.size()) - 1, world))];
}
