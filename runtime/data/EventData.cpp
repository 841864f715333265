#include "runtime/data/EventData.h"

#include <cstring>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/SaveStream.h"

namespace {

// Smallest stored sizes, used to refuse counts that the remaining bytes cannot hold.
constexpr std::size_t kMinMoveCommandBytes = 3;  // code, argument count, length byte
constexpr std::size_t kMinCommandBytes = 4;      // argument count, indent, string count, route
constexpr std::size_t kMinPageBytes = 1 + 4 + 4 + 4 + 37 + 6 + 4 + 4 + kMinCommandBytes + 4 + 1;
constexpr std::size_t kMaxMoveTextBytes = 254;

// Grows `list` to `count` entries when it holds fewer; never shrinks it.
template <typename T>
void GrowTo(std::vector<T>& list, std::int32_t count) {
    if (count > 0 && list.size() < static_cast<std::size_t>(count)) {
        list.resize(static_cast<std::size_t>(count));
    }
}

// The text of a move command: the bytes before the first zero of its `length` stored bytes.
// A text without its zero that fills all 255 bytes cannot be held.
bool MoveTextFromBytes(const std::uint8_t* p, std::size_t length, std::string& text) {
    if (length == 0) {
        text.clear();
        return true;
    }
    const char* c = reinterpret_cast<const char*>(p);
    const std::size_t stored = strnlen(c, length);
    if (stored > kMaxMoveTextBytes) return false;
    text.assign(c, stored);
    return true;
}

}  // namespace

bool Game_MoveCommand::Read(bool fromSave) {
    if (fromSave) {
        SaveStream& s = TheSaveStream;
        std::uint8_t count = 0;
        if (!s.ReadByte(code) || !s.ReadByte(count)) return false;
        arguments.resize(count);
        for (auto& a : arguments) {
            if (!s.ReadInt32(a)) return false;
        }
        std::uint8_t length = 0;
        if (!s.ReadByte(length)) return false;
        std::vector<std::uint8_t> raw(length);
        if (!s.ReadBlock(raw.data(), length)) return false;
        if (!MoveTextFromBytes(raw.data(), length, text)) {
            s.overrun = true;
            return false;
        }
        return true;
    }
    DataFileBuffer& b = TheDataFileBuffer;
    code = b.ReadByte();
    const std::uint8_t count = b.ReadByte();
    if (!b.Has(static_cast<std::size_t>(count) * 4)) {
        b.MarkDamaged();
        return false;
    }
    arguments.resize(count);
    for (auto& a : arguments) a = b.ReadInt32();
    const std::uint8_t length = b.ReadByte();
    if (!b.Has(length)) {
        b.MarkDamaged();
        return false;
    }
    if (!MoveTextFromBytes(b.bytes.data() + b.position, length, text)) {
        b.MarkDamaged();
        return false;
    }
    b.Skip(length);
    return !b.damaged;
}

void Game_MoveCommand::WriteSave() const {
    SaveStream& s = TheSaveStream;
    // The count byte and the stored arguments must agree, and the length byte must cover the
    // text with its zero: longer lists and texts are cut to what the record can carry.
    const std::size_t count = arguments.size() < 255 ? arguments.size() : 255;
    s.WriteByte(code);
    s.WriteByte(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) s.WriteInt32(arguments[i]);
    const std::size_t length = text.size() < kMaxMoveTextBytes ? text.size() : kMaxMoveTextBytes;
    s.WriteByte(static_cast<std::uint8_t>(length + 1));
    s.WriteBlock(text.data(), length);
    s.WriteByte(0);
}

bool Game_MoveRoute::Read(bool fromSave) {
    std::int32_t count = 0;
    if (fromSave) {
        SaveStream& s = TheSaveStream;
        if (!s.ReadByte(setting1) || !s.ReadByte(setting2) || !s.ReadByte(setting3) ||
            !s.ReadByte(setting0) || !s.ReadByte(options) || !s.ReadByte(routeOptions) ||
            !s.ReadInt32(count)) {
            return false;
        }
        if (count < 0 || count > kMaxMoveRouteCommands) return false;
        if (static_cast<std::size_t>(count) >
            static_cast<std::size_t>(s.Remaining()) / kMinMoveCommandBytes) {
            s.overrun = true;
            return false;
        }
    } else {
        DataFileBuffer& b = TheDataFileBuffer;
        setting1 = b.ReadByte();
        setting2 = b.ReadByte();
        setting3 = b.ReadByte();
        setting0 = b.ReadByte();
        options = b.ReadByte();
        routeOptions = b.ReadByte();
        count = b.ReadInt32();
        if (b.damaged) return false;
        if (count < 0 || count > kMaxMoveRouteCommands ||
            static_cast<std::size_t>(count) > b.Remaining() / kMinMoveCommandBytes) {
            b.MarkDamaged();
            return false;
        }
    }
    commands.assign(static_cast<std::size_t>(count), Game_MoveCommand{});
    for (auto& command : commands) {
        if (!command.Read(fromSave)) return false;
    }
    return true;
}

void Game_MoveRoute::WriteSave() const {
    SaveStream& s = TheSaveStream;
    s.WriteByte(setting1);
    s.WriteByte(setting2);
    s.WriteByte(setting3);
    s.WriteByte(setting0);
    s.WriteByte(options);
    s.WriteByte(routeOptions);
    s.WriteInt32(static_cast<std::int32_t>(commands.size()));
    for (const auto& command : commands) command.WriteSave();
}

bool Game_EventCommand::Read() {
    DataFileBuffer& b = TheDataFileBuffer;
    const std::int8_t argumentCount = b.ReadSignedByte();
    if (argumentCount < 0 || !b.Has(static_cast<std::size_t>(argumentCount) * 4)) {
        b.MarkDamaged();
        return false;
    }
    GrowTo(arguments, argumentCount);
    for (std::int32_t i = 0; i < argumentCount; ++i) arguments[i] = b.ReadInt32();
    indent = b.ReadByte();
    const std::int8_t stringCount = b.ReadSignedByte();
    if (stringCount < 0 || !b.Has(static_cast<std::size_t>(stringCount) * 4)) {
        b.MarkDamaged();
        return false;
    }
    GrowTo(strings, stringCount);
    for (std::int32_t i = 0; i < stringCount && !b.damaged; ++i) strings[i] = b.ReadString(0);
    const std::int8_t routeFlag = b.ReadSignedByte();
    if (b.damaged) return false;
    if (routeFlag >= 1) {
        moveRoute.emplace();
        if (!moveRoute->Read(false)) {
            b.MarkDamaged();
            return false;
        }
    } else {
        moveRoute.reset();
    }
    return !b.damaged;
}

bool ReadCommandList(Game_CommandList& list) {
    DataFileBuffer& b = TheDataFileBuffer;
    const std::int32_t count = b.ReadCount(kMinCommandBytes);
    list.clear();
    if (b.damaged || count <= 0) {
        b.MarkDamaged();
        return false;
    }
    list.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        list.emplace_back();
        if (!list.back().Read()) return false;
    }
    list.back().arguments[0] = kEndOfListCode;
    return true;
}

bool EvaluateConditionOperator(int op, std::int32_t left, std::int32_t right) {
    switch (op) {
        case 0:
            return left > right;
        case 1:
            return left >= right;
        case 2:
            return left == right;
        case 3:
            return left <= right;
        case 4:
            return left < right;
        case 5:
            return left != right;
        case 6:
            return (left & right) == right;
        default:
            return false;
    }
}

bool Game_PageCondition::Read() {
    DataFileBuffer& b = TheDataFileBuffer;
    trigger = b.ReadByte();
    for (auto& c : conditions) c = b.ReadByte();
    for (auto& id : variableIds) id = b.ReadInt32();
    for (auto& v : values) v = b.ReadInt32();
    return !b.damaged;
}

namespace {

// Self variables and properties of "this event" become those of the event being tested.
std::int32_t RemapForEvent(std::int32_t number, std::int32_t eventId) {
    if (number >= 1000000 && number <= 1199999) return 1000000 + 10 * eventId + number % 10;
    if (number >= 9190000 && number <= 9199999) return 9100000 + 10 * eventId + number % 10;
    return number;
}

}  // namespace

bool Game_PageCondition::Check(std::int32_t eventId, VariableValueReader getValue) const {
    for (int i = 0; i < 4; ++i) {
        if (!(conditions[i] & 1)) return true;
        const std::int32_t left = getValue(RemapForEvent(variableIds[i], eventId));
        const std::int32_t right = getValue(RemapForEvent(values[i], eventId));
        if (!EvaluateConditionOperator(conditions[i] >> 4, left, right)) return false;
    }
    return true;
}

bool Game_EventPage::Read() {
    DataFileBuffer& b = TheDataFileBuffer;
    b.Skip(1);
    graphicTile = b.ReadInt32();
    graphicFile = b.ReadString(kGraphicFileLimit);
    direction = b.ReadByte();
    pattern = b.ReadByte();
    opacity = b.ReadByte();
    blendMode = b.ReadByte();
    if (b.damaged || !condition.Read()) return false;
    if (!movement.Read(false)) {
        b.MarkDamaged();
        return false;
    }
    if (!ReadCommandList(commands)) return false;
    commandCount = static_cast<std::int32_t>(commands.size());
    const std::int32_t contactCount = b.ReadCount(1);
    GrowTo(contactBytes, contactCount);
    for (std::int32_t i = 0; i < contactCount; ++i) contactBytes[i] = b.ReadByte();
    b.Skip(1);
    return !b.damaged;
}

bool Game_EventData::Read() {
    DataFileBuffer& b = TheDataFileBuffer;
    b.Skip(1);
    b.Skip(4);
    id = b.ReadInt32();
    name = b.ReadString(kEventNameLimit);
    x = b.ReadInt32();
    y = b.ReadInt32();
    pageCount = b.ReadInt32();
    const std::int32_t byteCount = b.ReadCount(1);
    GrowTo(extraBytes, byteCount);
    for (std::int32_t i = 0; i < byteCount; ++i) extraBytes[i] = b.ReadByte();
    if (b.damaged) return false;
    if (pageCount > 0 && static_cast<std::size_t>(pageCount) > b.Remaining() / kMinPageBytes) {
        b.MarkDamaged();
        return false;
    }
    for (std::int32_t i = 0; i < pageCount; ++i) {
        if (i > 0) pages.emplace_back();
        if (!pages[static_cast<std::size_t>(i)].Read()) return false;
    }
    b.Skip(1);
    return !b.damaged;
}
