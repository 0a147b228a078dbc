#pragma once
// The one owner of the document: every decode and develop runs on the
// worker's own thread, one request at a time. Requests carry a snapshot of
// the control positions taken on the GUI thread, so the document never
// reads a widget. A request that arrives while another waits is merged into
// it (the newest positions win); an open replaces whatever waits. Each
// finished run hands a copy of the screen image back by a queued signal.
//
// The view tells the worker what it shows (setViewport); every develop for
// the screen then develops only that part at the screen's resolution, and a
// pan or zoom develops again only when the last screen image does not hold
// the new view. Filters left pending by a quick 100 % develop are finished
// for the whole image once nothing else waits.
//
// An open first hands over the file's embedded preview, when it has one, as
// a provisional result, so the window shows the picture long before the
// raw data is decoded and developed. Right after decoding a second one
// follows for mosaic sensors: the quick picture the document develops from
// the sensor's two-by-two cells with the open's control positions. It
// shows the user's own develop settings while demosaicing and refinement
// run, so the full-quality picture that replaces it changes only detail.
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"
#include "export/image_export.h"

namespace ostel::persistence {
class SettingsDatabase;
}

namespace ostel::ui {

// What a request asks the document to run; several may be merged.
namespace job {
inline constexpr unsigned kDevelop = 1;       // Develop for display
inline constexpr unsigned kWhiteBalance = 2;  // white balance, then Develop
inline constexpr unsigned kFilters = 4;       // noise reduction and sharpening, then Develop
inline constexpr unsigned kDisplay = 8;       // rebuild the display image (warnings)
inline constexpr unsigned kReload = 16;       // decode the raw data again
inline constexpr unsigned kPick = 32;         // measure a white point, then Develop
inline constexpr unsigned kSave = 64;         // develop for output, write a file, develop for display
inline constexpr unsigned kView = 128;        // show the newest viewport (develops only when not yet covered)
}  // namespace job

// A save the user confirmed: where and how the developed picture is written.
struct SaveJob {
    std::string path;           // the file written
    std::string recorded_path;  // the name the settings database records
    exporting::Rotation rotation = exporting::Rotation::none;
    bool crop_mode = false;
    exporting::CropRect crop;   // in the exported area as the display shows it
    int output_width = 0, output_height = 0;
    exporting::SaveMode mode = exporting::SaveMode::tiff8;
    int quality = 95;
    bool replace_existing = false;  // the user agreed to replace an existing file
    std::string artist, copyright;
};

// The document's state after a run, copied for the GUI thread.
struct DocumentResult {
    bool loaded = false;
    bool opened = false;        // the run opened a file (a new picture)
    // The file's embedded preview, handed over before the open decodes the
    // raw data: `display` holds it as stored (`orientation` says how the
    // camera was held) and nothing else is set. It only stands in until the
    // open's own result arrives; it is no developed picture.
    bool provisional = false;
    // A provisional picture developed from the raw data at reduced size
    // (not the file's embedded preview); as provisional and no more.
    bool quick = false;
    QString path;
    int32_t image_id = 0;       // the picture's key in the settings database
    int width = 0, height = 0;  // developed size
    // The screen image, Format_RGB32: `screen_scale_down` image pixels per
    // screen pixel each way, its top-left at image pixel (screen_x,
    // screen_y) of the developed image (the display area starts at
    // kDisplayBorder). The defaults describe a whole display image.
    QImage display;
    int screen_scale_down = 1;
    int screen_x = develop::kDisplayBorder, screen_y = develop::kDisplayBorder;
    QImage histogram_out, histogram_raw;
    double iso = 0;
    int orientation = 0;
    bool white_balance_set = false;  // the run moved the custom white-balance sliders
    double wb_red = 0, wb_blue = 0;  // their new positions
    // Positions the settings database restored for a newly opened picture,
    // in the order they were restored (tag, position); the window's controls
    // follow them without asking for another run.
    std::vector<std::pair<int, int>> restored;
};

class DocumentWorker : public QObject {
    Q_OBJECT
public:
    // With a settings database (not owned, outlives the worker) each newly
    // opened file is recorded, its stored positions are restored before it
    // is developed, and every develop stores the positions it used.
    explicit DocumentWorker(const develop::DocumentOptions& options, persistence::SettingsDatabase* database = nullptr,
                            QObject* parent = nullptr);
    ~DocumentWorker() override;

    void open(const QString& path, const develop::MapControlSource& controls);
    void request(unsigned jobs, const develop::MapControlSource& controls);
    void pickWhiteBalance(int column, int row, const develop::MapControlSource& controls);
    // Develops the picture for output with these positions, writes it and
    // develops it for the screen again; saveFinished() tells how it went.
    // A save asked for while another file is being opened is dropped.
    void save(const SaveJob& job, const develop::MapControlSource& controls);
    // What the view shows from now on; the screen develops follow it.
    void setViewport(const develop::Viewport& viewport);
    // Processing preferences for the next file opened (or decoded again).
    void setOptions(const develop::DocumentOptions& options);

    // True while a request waits or runs.
    bool busy() const;
    // Blocks until no request waits or runs, at most `timeout_ms`; for tests
    // and shutdown. False on time-out.
    bool waitIdle(int timeout_ms);

signals:
    void resultReady(std::shared_ptr<const ostel::ui::DocumentResult> result);
    void statusText(const QString& text);
    void progressChanged(int percent);
    void userMessage(const QString& text);
    // A save ended: the file written (or not) and the messages to show.
    void saveFinished(const QString& path, bool written, const QStringList& messages);

private:
    struct Pending {
        unsigned jobs = 0;
        bool open = false;
        std::string path;
        int pick_column = 0, pick_row = 0;
        SaveJob save;
        bool has_controls = true;  // false: the positions of the last run still hold
        develop::MapControlSource controls;
    };
    void post(Pending next, bool replace);
    void run();
    void runSave(develop::RawDocument& document, const SaveJob& job);
    void sendEmbeddedPreview(const std::string& path);
    void sendQuickPicture(const develop::RawDocument& document, const develop::ScreenImage& picture);
    // False when the worker stops or another file waits to be opened: a
    // provisional picture of this one would only be shown after it.
    bool openStillWanted() const;

    develop::DocumentOptions options_;  // guarded by mutex_
    persistence::SettingsDatabase* database_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    bool has_pending_ = false, running_ = false, stop_ = false;
    Pending pending_;
    std::optional<develop::Viewport> viewport_;  // guarded by mutex_
    std::thread thread_;
};

}  // namespace ostel::ui

Q_DECLARE_METATYPE(std::shared_ptr<const ostel::ui::DocumentResult>)
