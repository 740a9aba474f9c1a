#include "fuzz/ScriptCheck.h"

#include "fuzz/RelayModel.h"
#include "fuzz/ServerSideView.h"
#include "testing/LoopbackClient.h"
#include "testing/RelayHarness.h"
#include "testing/TestFrames.h"

#include <array>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Total bytes one client may write: far below what the sockets and the server's receive bound
// hold, so that no write ever waits and every written byte reaches the server before a pass.
constexpr std::size_t CLIENT_WRITE_CAP = 48 * 1024;
// How long the kernel may take to carry bytes over loopback before the harness gives up. Only
// a broken connection or a wrong model ever comes near it.
constexpr auto KERNEL_PATIENCE = std::chrono::seconds(10);

// The most digits the clock greeting can have: a sign and ten digits.
constexpr std::size_t MOST_CLOCK_DIGITS = 11;

struct ClientSlot {
    LoopbackClient client;
    bool narrow = false;
    bool reading = true;
    bool halfClosed = false;
    bool reset = false;
    // The client's port, which names the connection also after the client has gone.
    std::uint16_t port = 0;
    std::vector<std::uint8_t> received;
    std::size_t parsed = 0;
    std::size_t matched = 0;
    // The length of the clock greeting's value once known, from the server's accounts or from
    // the frame read; 0 before.
    std::size_t clockDigits = 0;
    // What the server end's socket had taken at the last look after a pass.
    std::uint64_t written = 0;

    void Clear() {
        client.Reset();
        narrow = false;
        reading = true;
        halfClosed = false;
        reset = false;
        port = 0;
        received.clear();
        parsed = 0;
        matched = 0;
        clockDigits = 0;
        written = 0;
    }
};

bool IsDecimal(const std::vector<std::uint8_t>& value) {
    std::size_t at = (!value.empty() && value[0] == '-') ? 1 : 0;
    if (at >= value.size() || value.size() > 11) {
        return false;
    }
    for (; at < value.size(); ++at) {
        if (value[at] < '0' || value[at] > '9') {
            return false;
        }
    }
    return true;
}

class ScriptCheck {
public:
    explicit ScriptCheck(const FuzzScript& events);
    ~ScriptCheck();
    void Run();

private:
    [[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Apply(const ScriptEvent& event);
    bool Live(std::size_t slot) const;
    void Settle(std::size_t slot);
    void RunPass();
    void CheckServer();
    void CheckOutput(PlayerId id, std::size_t slot, const NetSocket& endpoint);
    bool KeepsOutput() const;
    void Drain(std::size_t slot);
    void CheckFrames(std::size_t slot);
    void Finish(std::size_t slot);

    const FuzzScript& script;
    std::size_t eventIndex = 0;
    RelayModel model;
    RelayHarness relay;
    ServerSideView view;
    std::array<ClientSlot, SCRIPT_SLOTS> clients;
};

ScriptCheck::ScriptCheck(const FuzzScript& events)
    : script(events),
      model(events.displayMessages, events.fairTurns, events.messagesPerPass),
      relay(events.displayMessages) {
    relay.state.options.fairTurns = events.fairTurns;
    relay.state.options.messagesPerPass = events.messagesPerPass;
    if (!relay.Listening() || !view.IsOpen()) {
        Fail("cannot set up the relay, its console or the kernel view");
    }
}

ScriptCheck::~ScriptCheck() {
    // Clients first: the server's ends then close without lingering in TIME_WAIT.
    for (ClientSlot& slot : clients) {
        slot.client.Reset();
    }
}

void ScriptCheck::Fail(const char* format, ...) {
    std::fprintf(stderr, "relay fuzz: after event %zu of %zu: ", eventIndex, script.events.size());
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::abort();
}

bool ScriptCheck::Live(std::size_t slot) const {
    const SlotPhase phase = model.Slot(slot).phase;
    return phase == SlotPhase::Queued || phase == SlotPhase::Player;
}

void ScriptCheck::Run() {
    for (eventIndex = 0; eventIndex < script.events.size(); ++eventIndex) {
        Apply(script.events[eventIndex]);
    }
    // Two last passes, so that what the script left behind is handled too; then every client
    // reads, and passes go on while the server keeps output that a socket could not take.
    RunPass();
    RunPass();
    for (ClientSlot& client : clients) {
        client.reading = true;
    }
    for (std::size_t slot = 0; slot < SCRIPT_SLOTS; ++slot) {
        if (!Live(slot) || clients[slot].reset) {
            continue;
        }
        ClientSlot& client = clients[slot];
        const auto deadline = std::chrono::steady_clock::now() + KERNEL_PATIENCE;
        while (client.matched < model.Slot(slot).expected.size()) {
            if (std::chrono::steady_clock::now() > deadline) {
                Fail("slot %zu read %zu of %zu frames", slot, client.matched,
                     model.Slot(slot).expected.size());
            }
            if (KeepsOutput()) {
                RunPass();
            } else {
                client.client.WaitReadable(10);
                Drain(slot);
            }
        }
        Drain(slot);
        if (client.parsed != client.received.size()) {
            Fail("slot %zu holds %zu bytes that are no whole frame", slot,
                 client.received.size() - client.parsed);
        }
    }
}

void ScriptCheck::Apply(const ScriptEvent& event) {
    const std::size_t slot = event.slot;
    ClientSlot& client = clients[slot];
    const bool canWrite = Live(slot) && !client.halfClosed && !client.reset;
    switch (event.kind) {
        case EventKind::Connect:
            if (model.Slot(slot).phase != SlotPhase::Free) {
                return;
            }
            client.Clear();
            if (!client.client.Connect(relay.Port(), event.narrow
                                                         ? LoopbackClient::Window::Narrow
                                                         : LoopbackClient::Window::Default)) {
                Fail("slot %zu cannot connect", slot);
            }
            // Each write goes out at once, as the script makes it.
            client.client.EnableNoDelay();
            client.narrow = event.narrow;
            client.port = client.client.LocalPort();
            model.Connect(slot);
            // Settled at once, so that connections queue in the order they were made.
            Settle(slot);
            return;
        case EventKind::WriteBytes:
            if (!canWrite ||
                model.Slot(slot).written.size() + event.bytes.size() > CLIENT_WRITE_CAP) {
                return;
            }
            if (!client.client.SendAtOnce(event.bytes)) {
                Fail("slot %zu could not write %zu bytes at once", slot, event.bytes.size());
            }
            model.Write(slot, event.bytes);
            return;
        case EventKind::HalfClose:
            if (canWrite) {
                client.client.ShutdownWrite();
                client.halfClosed = true;
                model.HalfClose(slot);
            }
            return;
        case EventKind::Reset:
            if (!Live(slot) || client.reset) {
                return;
            }
            // A reset drops what the client has not sent yet, so its bytes arrive first.
            Settle(slot);
            Drain(slot);
            client.client.Reset();
            client.reset = true;
            model.Reset(slot);
            return;
        case EventKind::ToggleReading:
            client.reading = !client.reading;
            return;
        case EventKind::Pass:
            for (int pass = 0; pass < event.passes; ++pass) {
                RunPass();
            }
            return;
    }
}

void ScriptCheck::Settle(std::size_t slot) {
    const ModelSlot& expected = model.Slot(slot);
    const std::size_t waiting = model.WaitingInSocket(slot);
    const auto deadline = std::chrono::steady_clock::now() + KERNEL_PATIENCE;
    for (int attempt = 0;; ++attempt) {
        const ServerSide side = view.Look(relay.Port(), clients[slot].port);
        bool settled = false;
        if (expected.reset) {
            settled = side.state == ServerSide::State::Missing;
        } else if (expected.finished) {
            // The FIN counts as one unread byte until a read reaches it.
            settled = side.state == ServerSide::State::PeerFinished &&
                      (waiting == 0 ? side.unread <= 1 : side.unread == waiting + 1);
        } else {
            settled = side.state == ServerSide::State::Established && side.unread == waiting;
        }
        if (settled) {
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Fail("slot %zu never settled: kernel state %d with %u unread, model %zu waiting%s%s",
                 slot, static_cast<int>(side.state), side.unread, waiting,
                 expected.finished ? ", finished" : "", expected.reset ? ", reset" : "");
        }
        if (attempt < 100) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

void ScriptCheck::RunPass() {
    for (std::size_t slot = 0; slot < SCRIPT_SLOTS; ++slot) {
        if (Live(slot)) {
            Settle(slot);
        }
    }
    relay.RunPass();
    model.Pass();
    CheckServer();
    for (std::size_t slot = 0; slot < SCRIPT_SLOTS; ++slot) {
        if (model.Slot(slot).phase == SlotPhase::Removed) {
            Finish(slot);
        } else if (Live(slot) && clients[slot].reading && !clients[slot].reset) {
            Drain(slot);
        }
    }
}

void ScriptCheck::CheckServer() {
    const std::string printed = relay.NewConsole();
    const std::string expected = model.TakeConsole();
    if (printed != expected) {
        Fail("console printed\n%s\ninstead of\n%s", printed.c_str(), expected.c_str());
    }

    const auto& players = model.Players();
    if (relay.state.registry.size() != players.size()) {
        Fail("registry holds %zu players, the model %zu", relay.state.registry.size(),
             players.size());
    }
    auto modelPlayer = players.begin();
    for (const auto& [id, player] : relay.state.registry) {
        const std::unique_ptr<NetSocket>& endpoint = player.endpoint;
        if (modelPlayer->first != id) {
            Fail("registry holds player %d where the model has %d", static_cast<int>(id),
                 static_cast<int>(modelPlayer->first));
        }
        const std::size_t slot = modelPlayer->second;
        if (!endpoint || !endpoint->IsOpen()) {
            Fail("player %d has no open endpoint", static_cast<int>(id));
        }
        if (endpoint->BufferedBytes() != model.Buffered(slot)) {
            Fail("player %d buffers %u bytes, the model %zu", static_cast<int>(id),
                 endpoint->BufferedBytes(), model.Buffered(slot));
        }
        CheckOutput(id, slot, *endpoint);
        ++modelPlayer;
    }
}

// Every byte owed to a player is either taken by its socket or kept by the server.
void ScriptCheck::CheckOutput(PlayerId id, std::size_t slot, const NetSocket& endpoint) {
    ClientSlot& client = clients[slot];
    const ServerSide side = view.SteadyLook(relay.Port(), client.port);
    const std::size_t kept = endpoint.KeptOutput();
    const std::size_t owed = model.Slot(slot).owed;
    if (client.clockDigits == 0) {
        const std::uint64_t digits = side.written + kept - owed;
        if (side.written + kept <= owed || digits > MOST_CLOCK_DIGITS) {
            Fail(
                "player %d: the server wrote %llu bytes and keeps %zu, %zu are owed but for the "
                "clock",
                static_cast<int>(id), static_cast<unsigned long long>(side.written), kept, owed);
        }
        client.clockDigits = static_cast<std::size_t>(digits);
    }
    if (side.written + kept != owed + client.clockDigits) {
        Fail("player %d: the server wrote %llu bytes and keeps %zu, the model owes it %zu",
             static_cast<int>(id), static_cast<unsigned long long>(side.written), kept,
             owed + client.clockDigits);
    }
    if (kept > 0 && !client.narrow) {
        Fail("player %d keeps %zu bytes of output, though its sockets hold megabytes",
             static_cast<int>(id), kept);
    }
    client.written = side.written;
}

bool ScriptCheck::KeepsOutput() const {
    for (const auto& [id, player] : relay.state.registry) {
        if (player.endpoint->KeptOutput() > 0) {
            return true;
        }
    }
    return false;
}

void ScriptCheck::Drain(std::size_t slot) {
    ClientSlot& client = clients[slot];
    if (client.client.Connected()) {
        client.client.ReadAvailable(client.received);
        CheckFrames(slot);
    }
}

void ScriptCheck::CheckFrames(std::size_t slot) {
    ClientSlot& client = clients[slot];
    const std::vector<ExpectedFrame>& expected = model.Slot(slot).expected;
    for (;;) {
        Frame frame;
        const std::size_t size = DecodeTestFrame(client.received.data() + client.parsed,
                                                 client.received.size() - client.parsed, frame);
        if (size == 0) {
            return;
        }
        const std::uint8_t id = frame.id;
        const PlayerId target = frame.target;
        const std::vector<std::uint8_t> value(frame.value.begin(), frame.value.end());
        if (client.matched >= expected.size()) {
            Fail("slot %zu read frame %zu (id %d, target %d, %zu bytes), the model sent %zu", slot,
                 client.matched, id, target, value.size(), expected.size());
        }
        const ExpectedFrame& want = expected[client.matched];
        bool valueMatches = value == want.value;
        if (want.anyNumber) {
            valueMatches =
                IsDecimal(value) && (client.clockDigits == 0 || value.size() == client.clockDigits);
            client.clockDigits = value.size();
        }
        if (id != want.id || target != want.target || !valueMatches) {
            Fail(
                "slot %zu frame %zu is (id %d, target %d, %zu bytes), the model sent (id %d, "
                "target %d, %zu bytes)",
                slot, client.matched, id, target, value.size(), want.id, want.target,
                want.value.size());
        }
        client.parsed += size;
        ++client.matched;
    }
}

void ScriptCheck::Finish(std::size_t slot) {
    ClientSlot& client = clients[slot];
    if (client.client.Connected()) {
        // The server has closed its end: everything it sent is there, then the end.
        const auto deadline = std::chrono::steady_clock::now() + KERNEL_PATIENCE;
        while (client.client.ReadAvailable(client.received)) {
            if (std::chrono::steady_clock::now() > deadline) {
                Fail("slot %zu: the server never closed the connection of a departed player", slot);
            }
            client.client.WaitReadable(10);
        }
        CheckFrames(slot);
        // Output the server still kept when it closed is lost as far as the socket did not take
        // it then, so a narrow client may read less, the last frame cut short; but at least what
        // the socket had taken at the last look.
        const std::vector<ExpectedFrame>& expected = model.Slot(slot).expected;
        const std::size_t owed = model.Slot(slot).owed + client.clockDigits;
        const std::size_t read = client.received.size();
        const bool whole = client.matched == expected.size() && client.parsed == read;
        const bool cutShort =
            client.narrow && client.clockDigits > 0 && read < owed && read >= client.written &&
            client.matched < expected.size() &&
            read - client.parsed < FRAME_HEADER_SIZE + expected[client.matched].value.size();
        if (!whole && !cutShort) {
            Fail("slot %zu departed having read %zu of %zu frames, %zu of %zu bytes", slot,
                 client.matched, expected.size(), read, owed);
        }
    }
    client.Clear();
    model.Release(slot);
}

}  // namespace

void RunRelayScript(const FuzzScript& script) {
    ScriptCheck harness(script);
    harness.Run();
}
