#pragma once
// Shared pieces of the desktop program's tests: a main window over a
// settings file in a temporary folder, and a stand-in picture so that the
// handlers that need an open image run.
#include <QTemporaryDir>
#include <memory>

#include "ui/app/user_settings.h"
#include "ui/frame/main_frame.h"
#include "ui/view/raw_view.h"
#include "ui/worker/document_worker.h"

namespace ostel::ui::testing {

struct FrameFixture {
    QTemporaryDir folder;
    std::unique_ptr<UserSettings> settings;
    std::unique_ptr<DocumentWorker> worker;
    std::unique_ptr<MainFrame> frame;

    FrameFixture() {
        settings = std::make_unique<UserSettings>(folder.filePath("settings.ini"));
        worker = std::make_unique<DocumentWorker>(develop::DocumentOptions{});
        frame = std::make_unique<MainFrame>(*settings, *worker);
    }
    ~FrameFixture() {
        frame.reset();
        worker.reset();
    }

    // Shows a small uniform picture as if a file of `width` x `height`
    // developed pixels at `iso` had been opened.
    void showStandIn(int width = 40, int height = 32, double iso = 100) {
        auto r = std::make_shared<DocumentResult>();
        r->loaded = r->opened = true;
        r->path = "standin.cr2";
        r->width = width;
        r->height = height;
        r->iso = iso;
        r->display = QImage(width - 8, height - 8, QImage::Format_RGB32);
        r->display.fill(QColor(90, 120, 150));
        frame->showResult(r);
    }
};

}  // namespace ostel::ui::testing
