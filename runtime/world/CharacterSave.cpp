// A character's part of a save.
#include "runtime/data/SaveStream.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Character.h"

void Game_Character::WriteSave() const {
    SaveStream& s = TheSaveStream;
    s.WriteInt32(id);
    s.WriteInt32(x);
    s.WriteInt32(y);
    s.WriteInt32(drawYOffset);
    s.WriteByte(erased);
    s.WriteInt32(tileGraphic);
    s.WriteShortString(graphicName);
    for (std::int16_t v : {opacity, blendMode, direction, pattern}) s.WriteInt16(v);
    s.WriteByte(routeRunning);
    s.WriteByte(passThrough);
    currentRoute.WriteSave();
    savedRoute.WriteSave();
    for (std::int16_t v : {moveType, moveSpeed, moveFrequency, animationSpeed}) s.WriteInt16(v);
    s.WriteInt16(commandIndex);
    s.WriteInt16(savedCommandIndex);
    s.WriteByte(fixedDirection);
    s.WriteByte(topPriority);
    s.WriteByte(facingLocked);
    s.WriteInt32(static_cast<std::int32_t>(intList.size()));
    for (std::int32_t v : intList) s.WriteInt32(v);
    s.WriteByte(animateWhileMoving);
    s.WriteByte(animateWhileStopped);
    for (std::int32_t v : {blinkColour, blinkPeriod, blinkPhase, blinkMode}) s.WriteInt32(v);
    s.WriteInt32(stepLength);
    for (std::int32_t v : {opacityTarget, opacityDuration, opacityRemaining}) s.WriteInt32(v);
    s.WriteInt16(static_cast<std::int16_t>(overlays.size()));
    for (const std::string& name : overlays) s.WriteShortString(name);
    s.WriteInt32(cellOverride);
    s.WriteByte(masked);
    s.WriteInt32(pixelOffsetX);
    s.WriteInt32(pixelOffsetY);
    s.WriteInt32(steppingMode);
    s.WriteInt16(standingPattern);
    s.WriteInt16(pageDirection);
}

namespace {

bool ReadText(std::string& text) {
    if (!TheSaveStream.ReadShortString(text)) return false;
    if (!TheSaveStream.utf8) text = ConvertOldSaveString(text);
    return true;
}

}  // namespace

bool Game_Character::ReadSave() {
    SaveStream& s = TheSaveStream;
    const std::int32_t format = s.formatNumber;
    if (!s.ReadInt32(id) || !s.ReadInt32(x) || !s.ReadInt32(y) || !s.ReadInt32(drawYOffset) ||
        !s.ReadByte(erased))
        return false;
    fineX = RestPosition(x, 0, TileSize);
    fineY = RestPosition(y, 0, TileSize);
    std::string name;
    if (!s.ReadInt32(tileGraphic) || !ReadText(name)) return false;
    SetGraphic(name);
    for (std::int16_t* v : {&opacity, &blendMode, &direction, &pattern})
        if (!s.ReadInt16(*v)) return false;
    if (!s.ReadByte(routeRunning) || !s.ReadByte(passThrough)) return false;
    if (!currentRoute.Read(true) || !savedRoute.Read(true)) {
        s.overrun = true;
        return false;
    }
    for (std::int16_t* v : {&moveType, &moveSpeed, &moveFrequency, &animationSpeed, &commandIndex,
                            &savedCommandIndex})
        if (!s.ReadInt16(*v)) return false;
    if (!s.ReadByte(fixedDirection) || !s.ReadByte(topPriority) || !s.ReadByte(facingLocked))
        return false;
    if (!ReadSaveIntList(intList)) return false;
    if (format >= 112 && (!s.ReadByte(animateWhileMoving) || !s.ReadByte(animateWhileStopped)))
        return false;
    if (format >= 115)
        for (std::int32_t* v : {&blinkColour, &blinkPeriod, &blinkPhase, &blinkMode})
            if (!s.ReadInt32(*v)) return false;
    if (format >= 120 && !s.ReadInt32(stepLength)) return false;
    if (format >= 133)
        for (std::int32_t* v : {&opacityTarget, &opacityDuration, &opacityRemaining})
            if (!s.ReadInt32(*v)) return false;
    if (format >= 138) {
        std::int16_t count = 0;
        if (!s.ReadInt16(count)) return false;
        // Names of any length are taken; a negative count has no names.
        for (std::int16_t i = 0; i < count; ++i) {
            std::string overlay;
            if (!ReadText(overlay)) return false;
            SetOverlayGraphic(overlay, i + 1);
        }
        if (!s.ReadInt32(cellOverride) || !s.ReadByte(masked) || !s.ReadInt32(pixelOffsetX) ||
            !s.ReadInt32(pixelOffsetY))
            return false;
        fineX = RestPosition(x, pixelOffsetX, TileSize);
        fineY = RestPosition(y, pixelOffsetY, TileSize);
    }
    if (format >= 139 && !s.ReadInt32(steppingMode)) return false;
    if (format >= 140 && (!s.ReadInt16(standingPattern) || !s.ReadInt16(pageDirection)))
        return false;
    return true;
}
