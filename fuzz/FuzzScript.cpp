#include "fuzz/FuzzScript.h"

#include "testing/TestFrames.h"

#include <string>

namespace {

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t count) : data(bytes), size(count) {}
    bool AtEnd() const { return at >= size; }
    std::uint8_t Next() { return at < size ? data[at++] : 0; }
    std::size_t Left() const { return size - at; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

// Small choices name the players 2 to 9 and a few ids nobody holds; the rest spread over the
// whole range.
std::uint16_t ChooseTarget(std::uint8_t choice) {
    if (choice < 16) {
        return choice;
    }
    if (choice == 255) {
        return 0xFFFF;
    }
    return static_cast<std::uint16_t>(choice << 8 | choice);
}

std::vector<std::uint8_t> DecodeFrame(Reader& reader) {
    const std::uint8_t id = reader.Next();
    const std::uint16_t target = ChooseTarget(reader.Next());
    const std::uint8_t length = reader.Next();
    std::string value;
    for (unsigned i = 0; i < length; ++i) {
        value += static_cast<char>(reader.AtEnd() ? static_cast<std::uint8_t>(i * 31 + 7)
                                                  : reader.Next());
    }
    return EncodeTestFrame(id, target, value);
}

}  // namespace

FuzzScript DecodeScript(const std::uint8_t* data, std::size_t size) {
    FuzzScript script;
    Reader reader(data, size);
    const std::uint8_t choices = reader.Next();
    script.displayMessages = (choices & 1) != 0;
    script.fairTurns = (choices & 2) != 0;
    constexpr unsigned ROUNDS[] = {1, 2, 3, 64};
    script.messagesPerPass = ROUNDS[(choices >> 2) & 3];
    while (!reader.AtEnd()) {
        const std::uint8_t head = reader.Next();
        ScriptEvent event;
        event.slot = (head >> 3) & 7;
        const int parameter = head >> 6;
        switch (head & 7) {
            case 0:
                event.kind = EventKind::Connect;
                event.narrow = (parameter & 1) != 0;
                break;
            case 1: {
                event.kind = EventKind::WriteBytes;
                const std::size_t length = reader.Next();
                for (std::size_t i = 0; i < length && !reader.AtEnd(); ++i) {
                    event.bytes.push_back(reader.Next());
                }
                break;
            }
            case 2: {
                event.kind = EventKind::WriteBytes;
                const std::vector<std::uint8_t> frame = DecodeFrame(reader);
                for (int copy = 0; copy < 1 << (2 * parameter); ++copy) {
                    event.bytes.insert(event.bytes.end(), frame.begin(), frame.end());
                }
                break;
            }
            case 3:
                event.kind = EventKind::HalfClose;
                break;
            case 4:
                event.kind = EventKind::Reset;
                break;
            case 5:
                event.kind = EventKind::ToggleReading;
                break;
            case 6:
                event.kind = EventKind::Pass;
                break;
            default:
                event.kind = EventKind::Pass;
                event.passes = 2 + parameter * 2;
                break;
        }
        script.events.push_back(std::move(event));
    }
    return script;
}
