#pragma once
// The output size of the save dialog: width, height and scale move
// together around the default size, and each edit is held inside what the
// export allows (1 pixel up to four times the default, 1 to 400 per cent).
namespace ostel::ui {

class SaveSize {
public:
    static constexpr int kMaxScale = 400;
    static constexpr int kMaxFactor = 4;

    // The default size handed in by the save command.
    SaveSize(int base_width, int base_height);

    int width() const { return width_; }
    int height() const { return height_; }
    int scale() const { return scale_; }
    int baseWidth() const { return base_width_; }
    int baseHeight() const { return base_height_; }

    // A number typed into one of the edits. Returns the value the edit
    // must show when it had to be corrected, otherwise the typed value.
    int typeWidth(int value);
    int typeHeight(int value);
    int typeScale(int value);
    // The up-down control of the scale.
    void stepScale(int value) { typeScale(value); }

    // Leaving the scale edit: an empty edit means 100 per cent; a value out
    // of range is corrected and the matching message is given back (empty
    // when none is due).
    const char* leaveScale(bool empty, int value);
    // Leaving an empty width or height edit restores the default size.
    void restoreBase();

    static constexpr const char* kScaleAboveMaximum = "Scale value exceeds maximum. New value has been set.";
    static constexpr const char* kScaleBelowMinimum = "Scale value exceeds minimum. New value has been set.";

private:
    int base_width_, base_height_;
    float ratio_;  // height over width
    int width_, height_, scale_ = 100;
};

}  // namespace ostel::ui
