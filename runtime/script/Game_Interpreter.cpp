#include "runtime/script/Game_Interpreter.h"

Game_Interpreter* RunningInterpreter = nullptr;
std::int32_t CurrentMapEventId = -1;
std::int32_t CurrentCommonEventId = -1;
std::int32_t CurrentScriptLine = 0;
std::int32_t CommandStepCounter = 0;

Game_Interpreter::Game_Interpreter(const Game_Interpreter& other)
    : line(other.line),
      mapEventId(other.mapEventId),
      commonEventId(other.commonEventId),
      children(other.children),
      parent(other.parent) {
    RelinkChildren();
}

Game_Interpreter::Game_Interpreter(Game_Interpreter&& other) noexcept
    : line(other.line),
      mapEventId(other.mapEventId),
      commonEventId(other.commonEventId),
      children(std::move(other.children)),
      parent(other.parent) {
    RelinkChildren();
}

Game_Interpreter& Game_Interpreter::operator=(const Game_Interpreter& other) {
    if (this != &other) {
        line = other.line;
        mapEventId = other.mapEventId;
        commonEventId = other.commonEventId;
        children = other.children;
        parent = other.parent;
        RelinkChildren();
    }
    return *this;
}

Game_Interpreter& Game_Interpreter::operator=(Game_Interpreter&& other) noexcept {
    if (this != &other) {
        line = other.line;
        mapEventId = other.mapEventId;
        commonEventId = other.commonEventId;
        children = std::move(other.children);
        parent = other.parent;
        RelinkChildren();
    }
    return *this;
}

Game_Interpreter& Game_Interpreter::AddChild() {
    children.emplace_back();
    RelinkChildren();
    return children.back();
}

// A child's parent pointer names the object that holds it, which changes when the child list is
// copied or moves in memory.
void Game_Interpreter::RelinkChildren() {
    for (Game_Interpreter& child : children) child.parent = this;
}
