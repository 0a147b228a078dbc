#pragma once
// The one owner of the document: every decode and develop runs on the
// worker's own thread, one request at a time. Requests carry a snapshot of
// the control positions taken on the GUI thread, so the document never
// reads a widget. A request that arrives while another waits is merged into
// it (the newest positions win); an open replaces whatever waits. Each
// finished run hands a copy of the display image back by a queued signal.
#include <QImage>
#include <QObject>
#include <QString>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "develop/control_source.h"
#include "develop/raw_document.h"

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
}  // namespace job

// The document's state after a run, copied for the GUI thread.
struct DocumentResult {
    bool loaded = false;
    bool opened = false;        // the run opened a file (a new picture)
    QString path;
    int32_t image_id = 0;       // the picture's key in the settings database
    int width = 0, height = 0;  // developed size
    QImage display;             // display image, Format_RGB32
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

private:
    struct Pending {
        unsigned jobs = 0;
        bool open = false;
        std::string path;
        int pick_column = 0, pick_row = 0;
        develop::MapControlSource controls;
    };
    void post(Pending next, bool replace);
    void run();

    develop::DocumentOptions options_;
    persistence::SettingsDatabase* database_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    bool has_pending_ = false, running_ = false, stop_ = false;
    Pending pending_;
    std::thread thread_;
};

}  // namespace ostel::ui

Q_DECLARE_METATYPE(std::shared_ptr<const ostel::ui::DocumentResult>)
