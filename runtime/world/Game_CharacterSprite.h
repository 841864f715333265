// The drawable of one map character (map event, player or follower): it loads the character's
// chip sheet (or the tileset chip it shows), its shadow and its overlay sheets through the graphic
// cache, picks the chip for the direction and walk pattern, places it from the character's draw
// position, and draws it with the character's opacity, blend, colour effects and half-submerged
// look under the map's shake, zoom and display scale.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Game_Character;

class Game_CharacterSprite {
  public:
    // Binds the character (which may be null), sets its back-pointer and draws once, which loads
    // the graphics.
    explicit Game_CharacterSprite(Game_Character* character);
    ~Game_CharacterSprite();
    Game_CharacterSprite(const Game_CharacterSprite&) = delete;
    Game_CharacterSprite& operator=(const Game_CharacterSprite&) = delete;

    // Reloads what changed on the character (graphic, tile graphic, layout, shadow, overlays).
    void LoadGraphic();
    // Computes chip, position and effects and draws.
    void Draw();
    // 0 the sheet's columns (1 for a tile), 1 its rows (1 for a tile), 2 the chip drawn now, any
    // other kind: kind - 2.
    std::int32_t GetChipInfo(std::int32_t kind) const;

    Game_Character* character = nullptr;
    // Graphic-cache entries (-1 none) and the 1-based chips drawn.
    std::int32_t graphic = -1;
    std::int32_t chipNumber = 1;
    std::int32_t shadowChipNumber = 1;
    std::int32_t shadowGraphic = -1;
    // Screen position of this frame in game pixels: the centre, the foot and the foot without
    // the jump; depth 999 for a character with top priority, else 0.
    std::int32_t screenX = 0, screenY = 0, baseY = 0, depth = 0;
    std::int32_t opacity = 255, blendKind = 0;
    std::int32_t halfWidth = 0, height = 0, shadowHalfWidth = 0, shadowHeight = 0;
    // What the main graphic was loaded for.
    std::int32_t tileGraphic = -1;
    std::string graphicName;
    std::int16_t layout = 0;
    std::int32_t chipWidth = 0, chipHeight = 0;
    std::int32_t columns = 6, shadowColumns = 0;
    std::int32_t shadowNumber = -1;
    // Set when the sheet or an overlay failed to load: nothing is drawn any more.
    bool hidden = false;
    struct Overlay {
        std::int32_t graphic = -1;
        std::string name;
        std::int32_t halfWidth = 0, height = 0, chipWidth = 0, chipHeight = 0;
    };
    std::vector<Overlay> overlays;

  private:
    bool LoadSheet(const std::string& name, std::int32_t& entry, int& wholeWidth,
                   int& wholeHeight) const;
    void LoadShadow();
    bool LoadOverlays(bool reloadAll);
    void ComputeChipNumber(bool animating);
    // Draws the chip and the overlays at the zoomed position; `split` draws a half-submerged
    // figure in its two parts.
    void DrawFigure(std::int32_t x, std::int32_t y, std::int32_t zoom, std::int32_t scale,
                    bool split, std::int32_t lowerParam);
    void DrawShadow(std::int32_t x, std::int32_t by, std::int32_t zoom, std::int32_t scale,
                    std::int32_t lift);
};
