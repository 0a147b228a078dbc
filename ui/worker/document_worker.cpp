#include "ui/worker/document_worker.h"

#include "persistence/control_panel.h"
#include "persistence/settings_database.h"
#include "ui/controls/control_table.h"
#include "ui/dialogs/open_dialog.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QRect>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>

namespace ostel::ui {

namespace {

// The snapshot the document reads; remembers when a white-balance pick
// moved the custom sliders so the GUI can follow.
class SnapshotControls : public develop::MapControlSource {
public:
    explicit SnapshotControls(const develop::MapControlSource& from) : develop::MapControlSource(from) {}
    void set_white_balance_sliders(double red, double blue) override {
        develop::MapControlSource::set_white_balance_sliders(red, blue);
        moved = true;
    }
    bool moved = false;
};

// The controls panel the settings database sees on the worker thread: the
// snapshot. Restored positions go into the snapshot, so the run develops
// with them, and are remembered for the window to follow.
class SnapshotPanel : public persistence::ControlPanel {
public:
    // The snapshot of the run about to start.
    void attach(SnapshotControls& controls) {
        controls_ = &controls;
        restored.clear();
    }
    bool has_control(int tag) const override { return row_by_tag(tag) != nullptr; }
    int position(int tag) const override { return int(controls_->value(tag)); }
    void restore_position(int tag, int position) override {
        // The scale and the profile lists are not stored per picture.
        const ControlRow* row = row_by_tag(tag);
        if (!row || row->bar == Bar::screen || row->bar == Bar::colour_management) return;
        controls_->set(tag, position);
        restored.emplace_back(tag, position);
    }
    int display_profile_index() const override { return int(controls_->value(develop::tag::kDisplayProfile)); }
    std::string display_profile_path() const override {
        const std::string t = controls_->text(develop::tag::kDisplayProfile);
        return t.find('/') != std::string::npos ? t : std::string();
    }
    std::string display_profile_name() const override {
        const std::string t = controls_->text(develop::tag::kDisplayProfile);
        const auto slash = t.rfind('/');
        return slash == std::string::npos ? t : t.substr(slash + 1);
    }
    std::vector<std::pair<int, int>> restored;

private:
    SnapshotControls* controls_ = nullptr;
};

class WorkerNotifier : public develop::Notifier {
public:
    explicit WorkerNotifier(DocumentWorker& worker) : worker_(worker) {}
    void status(const std::string& text) override { emit worker_.statusText(QString::fromStdString(text)); }
    void progress(int percent) override { emit worker_.progressChanged(percent); }
    void message(const std::string& text) override { emit worker_.userMessage(QString::fromStdString(text)); }

private:
    DocumentWorker& worker_;
};

QImage copy_bgr0(const uint8_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0) return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), pixels + size_t(y) * size_t(width) * 4, size_t(width) * 4);
    return image;
}

// A file without a preview of its own reads as a small black picture;
// that would only blank the window until the open's own result.
bool all_black(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (row[x] & 0xFFFFFFu) return false;
    }
    return true;
}

QImage copy_histogram(const develop::HistogramImage& h) {
    return copy_bgr0(h.pixels.data(), develop::HistogramImage::kWidth, develop::HistogramImage::kHeight);
}

}  // namespace

DocumentWorker::DocumentWorker(const develop::DocumentOptions& options, persistence::SettingsDatabase* database,
                               QObject* parent)
    : QObject(parent), options_(options), database_(database) {
    qRegisterMetaType<std::shared_ptr<const DocumentResult>>();
    thread_ = std::thread([this] { run(); });
}

DocumentWorker::~DocumentWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        has_pending_ = false;
    }
    wake_.notify_all();
    thread_.join();
}

void DocumentWorker::post(Pending next, bool replace) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (replace || !has_pending_) {
            pending_ = std::move(next);
        } else {
            // Merge: the newest positions, every job either asked for. A
            // save was chosen for the picture on show; a file about to be
            // opened is another picture, so it does not get the save.
            if ((next.jobs & job::kSave) && pending_.open) next.jobs &= ~job::kSave;
            if (next.jobs & job::kSave) pending_.save = next.save;
            pending_.jobs |= next.jobs;
            if (next.jobs & job::kPick) {
                pending_.pick_column = next.pick_column;
                pending_.pick_row = next.pick_row;
            }
            if (next.has_controls) {
                pending_.controls = std::move(next.controls);
                pending_.has_controls = true;
            }
        }
        has_pending_ = true;
    }
    wake_.notify_all();
}

void DocumentWorker::open(const QString& path, const develop::MapControlSource& controls) {
    Pending p;
    p.open = true;
    p.path = path.toStdString();
    p.controls = controls;
    post(std::move(p), true);
}

void DocumentWorker::request(unsigned jobs, const develop::MapControlSource& controls) {
    Pending p;
    p.jobs = jobs;
    p.controls = controls;
    post(std::move(p), false);
}

void DocumentWorker::pickWhiteBalance(int column, int row, const develop::MapControlSource& controls) {
    Pending p;
    p.jobs = job::kPick;
    p.pick_column = column;
    p.pick_row = row;
    p.controls = controls;
    post(std::move(p), false);
}

void DocumentWorker::save(const SaveJob& job, const develop::MapControlSource& controls) {
    Pending p;
    p.jobs = job::kSave;
    p.save = job;
    p.controls = controls;
    post(std::move(p), false);
}

void DocumentWorker::setViewport(const develop::Viewport& viewport) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        viewport_ = viewport;
    }
    Pending p;
    p.jobs = job::kView;
    p.has_controls = false;
    post(std::move(p), false);
}

void DocumentWorker::setOptions(const develop::DocumentOptions& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_ = options;
}

bool DocumentWorker::busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return has_pending_ || running_;
}

bool DocumentWorker::waitIdle(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !has_pending_ && !running_; });
}

void DocumentWorker::run() {
    // A develop keeps every core busy; this thread and the parallel workers
    // it starts (they inherit its niceness) yield to the window's thread, so
    // the window keeps answering.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
    // The document lives and dies on this thread.
    develop::RawDocument document([this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return options_;
    }());
    WorkerNotifier notifier(*this);
    document.set_notifier(&notifier);
    SnapshotPanel panel;
    if (database_) document.use_database(database_, &panel);
    // Positions of the last run, for runs that bring none (a new viewport,
    // finishing the filters).
    develop::MapControlSource last_controls;
    for (;;) {
        Pending work;
        bool finish_filters = false;
        std::optional<develop::Viewport> viewport;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || has_pending_ || (document.loaded() && document.filters_pending()); });
            if (stop_) return;
            if (has_pending_) {
                work = std::move(pending_);
                // Preferences changed since the last load apply from the next one.
                if (work.open || (work.jobs & job::kReload)) document.set_options(options_);
                pending_ = Pending{};
                has_pending_ = false;
            } else {
                // Idle with a filter run pending: the whole image now.
                finish_filters = true;
                work.has_controls = false;
            }
            viewport = viewport_;
            running_ = true;
        }
        if (!work.has_controls) work.controls = last_controls;
        if (viewport) document.set_viewport(*viewport);
        SnapshotControls controls(work.controls);
        panel.attach(controls);
        document.set_controls(&controls);
        bool ran = true;
        // The last screen image holds what the view shows.
        auto covered = [&] { return !viewport || document.screen_covers(*viewport); };
        if (work.open) {
            sendEmbeddedPreview(work.path);
            document.set_quick_picture_handler([this, &document](const develop::ScreenImage& picture) {
                sendQuickPicture(document, picture);
            });
            document.OnOpenDocument(work.path);
            document.set_quick_picture_handler(nullptr);
        } else if (!document.loaded()) {
            ran = false;  // the commands need an image
        } else if (finish_filters) {
            document.FinishFilters();
            document.Develop(true);  // statistics and filters of the whole image
        } else if (work.jobs & job::kReload) {
            document.LoadRaw();
        } else {
            if (work.jobs & job::kPick) document.PickWhiteBalance(work.pick_column, work.pick_row);
            if (work.jobs & job::kWhiteBalance) document.CalculateWhiteBalance();
            if (work.jobs & job::kFilters)
                document.PostProcess();
            else if (work.jobs & (job::kWhiteBalance | job::kDevelop))
                document.Develop(true);
            else if (work.jobs & (job::kDisplay | job::kView)) {
                if (!covered())
                    document.Develop(true);
                else if (work.jobs & job::kDisplay)
                    document.UpdateDisplay(true);
                else if (!(work.jobs & job::kSave))
                    ran = false;  // a pan inside the margin: the view already has it
            }
            if (work.jobs & job::kSave) runSave(document, work.save);
        }
        std::shared_ptr<DocumentResult> result;
        if (ran) {
            result = std::make_shared<DocumentResult>();
            result->opened = work.open;
            const develop::ScreenImage& screen = document.screen();
            const bool on_screen = document.has_viewport() && !screen.pixels.empty();
            result->loaded = document.loaded() && (on_screen || !document.display().empty());
            result->path = QString::fromStdString(document.path());
            result->image_id = document.image_id();
            result->width = document.width();
            result->height = document.height();
            if (result->loaded && on_screen) {
                result->display = copy_bgr0(screen.pixels.data(), screen.width, screen.height);
                result->screen_scale_down = screen.scale_down;
                result->screen_x = screen.x;
                result->screen_y = screen.y;
            } else if (result->loaded) {
                const int w = document.display_width(), h = document.display_height();
                if (document.display().size() >= size_t(w) * size_t(h) * 4)
                    result->display = copy_bgr0(document.display().data(), w, h);
            }
            if (result->loaded) {
                result->histogram_out = copy_histogram(document.output_histogram());
                result->histogram_raw = copy_histogram(document.raw_histogram());
            }
            result->iso = document.shooting().iso;
            result->orientation = document.shooting().orientation;
            result->restored = panel.restored;
            result->white_balance_set = controls.moved;
            result->wb_red = controls.value(develop::tag::kWbRed);
            result->wb_blue = controls.value(develop::tag::kWbBlue);
        }
        document.set_controls(nullptr);
        // With the positions the database restored and a picked balance.
        last_controls = controls;
        if (result) emit resultReady(result);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
        }
        idle_.notify_all();
    }
}

void DocumentWorker::sendEmbeddedPreview(const std::string& path) {
    const FilePreview preview = read_file_preview(QString::fromStdString(path));
    const QImage picture = preview.thumbnail.convertToFormat(QImage::Format_RGB32);
    if (picture.isNull() || all_black(picture) || !openStillWanted()) return;
    auto result = std::make_shared<DocumentResult>();
    result->provisional = true;
    result->path = QString::fromStdString(path);
    result->display = picture;
    result->iso = preview.shot.iso;
    result->orientation = preview.shot.orientation;
    // Queued before the open's own result, which always follows it.
    emit resultReady(result);
}

bool DocumentWorker::openStillWanted() const {
    // Another file asked for meanwhile replaces this one at once.
    std::lock_guard<std::mutex> lock(mutex_);
    return !stop_ && !(has_pending_ && pending_.open);
}

void DocumentWorker::sendQuickPicture(const develop::RawDocument& document, const develop::ScreenImage& picture) {
    if (picture.pixels.empty() || !openStillWanted()) return;
    // Without the frame the developed picture leaves out of the display.
    const int border = develop::kDisplayBorder / std::max(picture.scale_down, 1);
    const QImage whole = copy_bgr0(picture.pixels.data(), picture.width, picture.height);
    const QRect inside = whole.rect().adjusted(border, border, -border, -border);
    auto result = std::make_shared<DocumentResult>();
    result->provisional = result->quick = true;
    result->path = QString::fromStdString(document.path());
    result->display = inside.isEmpty() ? whole : whole.copy(inside);
    result->iso = document.shooting().iso;
    result->orientation = document.shooting().orientation;
    // Queued after the embedded preview and before the open's own result.
    emit resultReady(result);
}

void DocumentWorker::runSave(develop::RawDocument& document, const SaveJob& job) {
    QStringList messages;
    bool written = false;
    document.Develop(false);
    const size_t needed = size_t(document.width()) * size_t(document.height()) * 3;
    if (document.output().empty() || document.output().size() < needed) {
        messages << exporting::kImageSaveError;
    } else {
        exporting::ExportRequest rq;
        rq.rgb = document.output().data();
        rq.width = document.width();
        rq.height = document.height();
        // The view's rotation already holds the camera's orientation.
        rq.orientation = 0;
        rq.rotation = job.rotation;
        rq.crop_mode = job.crop_mode;
        rq.crop = job.crop;
        rq.output_width = job.output_width;
        rq.output_height = job.output_height;
        rq.mode = job.mode;
        rq.quality = job.quality;
        rq.replace_existing = job.replace_existing;
        rq.shot = exporting::shooting_items(document.shooting());
        rq.artist = job.artist;
        rq.copyright = job.copyright;
        rq.icc_profile = document.output_profile();
        // The export is recorded before the file is written, whether or not
        // the write succeeds: the record feeds only the preferred format.
        if (database_)
            database_->AddSavedFile(document.image_id(), int64_t(std::time(nullptr)), job.recorded_path,
                                    int(job.mode));
        const exporting::ExportResult result = exporting::export_image(job.path, rq);
        written = result.written;
        for (const std::string& m : result.messages) messages << QString::fromStdString(m);
        if (!written && messages.isEmpty()) messages << exporting::kImageSaveError;
    }
    // Back to the screen's develop, so the view shows the preview result.
    document.Develop(true);
    emit saveFinished(QString::fromStdString(job.path), written, messages);
}

}  // namespace ostel::ui
