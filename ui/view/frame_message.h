#pragma once
// What the main frame asks of the view after a control change.
namespace ostel::ui {

enum class FrameMessage : int {
    develop = 0x8001,        // develop the preview again and redraw
    refresh = 0x8002,        // the picture was decoded again or refreshed; redraw
    save = 0x8003,           // save the picture
    filters = 0x8004,        // apply noise reduction and sharpening, then redraw
    white_balance = 0x8005,  // white balance changed; recompute and redraw
};

}  // namespace ostel::ui
