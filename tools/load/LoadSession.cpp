#include "tools/load/LoadSession.h"

#include "protocol/FrameSocket.h"

#include <cstdio>

namespace {

constexpr std::int64_t MICROS_PER_SECOND = 1000000;

std::int64_t Interval(double perSecond) {
    // A rate of 0 sends nothing within any run's duration.
    return perSecond > 0.0 ? static_cast<std::int64_t>(MICROS_PER_SECOND / perSecond)
                           : 3600 * MICROS_PER_SECOND * 2;
}

}  // namespace

LoadSession::LoadSession(const LoadOptions& runOptions, std::uint64_t seed, LoadClock runClock)
    : options(runOptions),
      clock(runClock),
      random(seed),
      directedInterval(Interval(runOptions.rate)),
      broadcastInterval(Interval(runOptions.broadcasts)),
      broadcasterInterval(Interval(runOptions.broadcasterRate)) {}

void LoadSession::AddSteady(PlayerId id, std::unique_ptr<NetSocket> endpoint) {
    LoadPlayer player;
    player.id = id;
    player.endpoint = std::move(endpoint);
    player.broadcaster = steady.size() < options.broadcasters;
    steady.push_back(std::move(player));
    // The well-behaved players' ids lead the targets, in the order they joined.
    targets.resize(steady.size());
    targets.back() = id;
    check.AddPlayer(id);
}

ChaosPlayer& LoadSession::AddChaos() {
    chaos.push_back(std::make_unique<ChaosPlayer>());
    return *chaos.back();
}

ChaosWorld LoadSession::World(bool sending) {
    targets.resize(steady.size());
    stalled.clear();
    for (const auto& player : chaos) {
        if (player->Joined()) {
            targets.push_back(player->Id());
        }
        if (player->StoppedForGood()) {
            stalled.push_back(player->Id());
        }
    }
    return ChaosWorld{
        options.port,        random,  check,       tally, targets, stalled, directedInterval,
        options.chaosFaults, sending, &unreadBytes};
}

void LoadSession::StepChaos(ChaosPlayer& player) {
    ChaosWorld world = World(true);
    player.Step(clock(), world);
}

void LoadSession::Begin() {
    const std::int64_t start = clock();
    // Spread the players' first sends over one interval, so the load is even.
    for (std::size_t index = 0; index < steady.size(); ++index) {
        const std::int64_t interval =
            steady[index].broadcaster ? broadcasterInterval : directedInterval;
        steady[index].nextSend = start + interval * static_cast<std::int64_t>(index) /
                                             static_cast<std::int64_t>(steady.size());
    }
    nextBroadcast = start + broadcastInterval / 2;
}

void LoadSession::Tick(bool sending) {
    const std::int64_t now = clock();
    if (sending) {
        SendDue(now);
    }
    if (!chaos.empty()) {
        ChaosWorld world = World(sending);
        for (const auto& player : chaos) {
            player->Step(now, world);
        }
    }
    ReceiveAll();
}

std::size_t LoadSession::Pick(std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
}

void LoadSession::SendDue(std::int64_t now) {
    for (std::size_t index = 0; index < steady.size(); ++index) {
        LoadPlayer& player = steady[index];
        const std::int64_t interval = player.broadcaster ? broadcasterInterval : directedInterval;
        while (player.nextSend <= now) {
            player.nextSend += interval;
            if (player.broadcaster) {
                Send(player, BROADCAST_ID, now);
                continue;
            }
            const std::size_t other = Pick(steady.size() - 1);
            Send(player, steady[other >= index ? other + 1 : other].id, now);
        }
    }
    while (nextBroadcast <= now) {
        nextBroadcast += broadcastInterval;
        const std::size_t sender = Pick(steady.size() + chaos.size());
        if (sender < steady.size()) {
            Send(steady[sender], BROADCAST_ID, now);
        } else {
            ChaosWorld world = World(true);
            chaos[sender - steady.size()]->Broadcast(now, world);
        }
    }
}

void LoadSession::Send(LoadPlayer& sender, PlayerId target, std::int64_t now) {
    if (!sender.connected) {
        return;
    }
    const LoadFrame frame{sender.id, sender.nextSequence++, target, now, false, options.fullValues};
    check.RecordSent(frame);
    if (SendFrame(*sender.endpoint, EncodeLoadFrame(frame)) != 0) {
        MarkLost(sender);
    }
}

void LoadSession::ReceiveAll() {
    Frame frame;
    for (LoadPlayer& player : steady) {
        while (TakeFrame(*player.endpoint, frame)) {
            check.RecordReceived(player.id, frame, clock());
        }
    }
}

void LoadSession::CheckConnections() {
    for (LoadPlayer& player : steady) {
        if (player.connected && !player.endpoint->IsConnected()) {
            MarkLost(player);
        }
    }
}

void LoadSession::MarkLost(LoadPlayer& player) {
    if (player.connected) {
        player.connected = false;
        ++connectionsLost;
        std::printf("Player %u lost its connection.\n", static_cast<unsigned>(player.id));
    }
}

void LoadSession::Leave() {
    Frame leave;
    leave.id = MSG_LEAVE;
    leave.target = SERVER_ID;
    for (LoadPlayer& player : steady) {
        // A server that greets nobody relays the leave message to everybody.
        if (!options.noGreeting) {
            SendFrame(*player.endpoint, leave);
        }
        player.endpoint->Close();
    }
    for (const auto& player : chaos) {
        player->Close();
    }
}
