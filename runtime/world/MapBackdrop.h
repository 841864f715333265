// What the panorama (the far view behind the tile layers) and the fog (the overlay above every
// character) share: one image repeated so that it wraps both ways, scrolled by its own speed and
// by a parallax share of the display's movement, drawn under the map's shake, zoom and display
// scale. The image is named by a number (-1 none, -2 the settings text's file, n >= 0 row n of
// system database type 13) or by the settings text ("file\nspeed x\nspeed y\ndivisor").
//
// Scroll values are in eighths of a pixel.
#pragma once

#include <cstdint>
#include <string>

class Game_MapBackdrop {
  public:
    enum class Kind { Panorama, Fog };

    // The number shown now: -1 none, -2 the settings text's file, n >= 0 a row of type 13.
    std::int32_t shownNumber = -1;
    // The image's graphic-cache entry, -1 for none.
    std::int32_t graphic = -1;
    std::int32_t width = 0, height = 0;
    std::int32_t accumulatorX = 0, accumulatorY = 0;
    std::int32_t offsetX = 0, offsetY = 0;

    // Loads the image the number setting names, then one Update.
    void ChangeImage();
    // Loads the image the settings text describes (the reload request asked for it).
    void LoadFromText();
    // Advances the scroll by one frame.
    void Update();
    // Follows the number setting and the reload request, then draws over the whole screen.
    void Draw();

    // The settings this backdrop reads, in the live system state.
    std::int32_t& NumberSetting() const;
    std::int32_t& SpeedX() const;
    std::int32_t& SpeedY() const;
    std::int32_t& Divisor() const;
    std::string& SettingsText() const;
    std::uint8_t& ReloadRequest() const;

  protected:
    explicit Game_MapBackdrop(Kind kind) : kind_(kind) {}

  private:
    bool IsFog() const { return kind_ == Kind::Fog; }
    // The whole image's graph, -1 when there is none (or the cache was cleared under it).
    std::int32_t Graph() const;
    // Remembers a cached file as the image; false when it is not in the cache.
    bool TakeImage(const std::string& name);
    void ClearScroll();
    void DrawPlain(std::int32_t graph, int transparent);
    void DrawZoomed(std::int32_t graph, int transparent, std::int32_t scale, std::int32_t zoom);

    Kind kind_;
};

// Row n of this system-database type describes a panorama or fog image: field 0 the file, 1 and
// 2 the speeds, 3 (when present) the parallax divisor.
inline constexpr std::int32_t kBackdropDatabaseType = 13;
