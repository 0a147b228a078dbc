#pragma once
// The program's one window: two tool bars, the status bar, the ten control
// bars and the preview. It is the document's source of control positions
// (read through a snapshot on every request) and the panel whose positions
// the settings database stores per picture. A change handler tells the view
// or the document worker what to run again, and sends nothing while stored
// positions are being restored.
#include <QMainWindow>
#include <map>
#include <memory>

#include "develop/colour_management.h"
#include "develop/control_source.h"
#include "persistence/control_panel.h"
#include "ui/controls/control_table.h"
#include "ui/view/view_geometry.h"
#include "ui/worker/document_worker.h"

namespace ostel::persistence {
class SettingsDatabase;
}

class QAction;
class QLabel;
class QProgressBar;

namespace ostel::ui {

class ControlBar;
class CurveEditor;
class OpenDialog;
struct SaveChoice;
class RawView;
class ReleaseSlider;
class UserSettings;

class MainFrame : public QMainWindow, public develop::ControlSource, public persistence::ControlPanel {
    Q_OBJECT
public:
    MainFrame(UserSettings& settings, DocumentWorker& worker, QWidget* parent = nullptr);
    ~MainFrame() override;

    // develop::ControlSource over the widgets (GUI thread only).
    double value(int tag) const override;
    std::string text(int tag) const override;
    void set_white_balance_sliders(double red, double blue) override;
    // Every control value and text the document reads, for the worker.
    develop::MapControlSource snapshot() const;

    // persistence::ControlPanel
    bool has_control(int tag) const override;
    int position(int tag) const override;
    void begin_restore() override;
    void end_restore() override;
    void restore_position(int tag, int position) override;
    int display_profile_index() const override;
    std::string display_profile_path() const override;
    std::string display_profile_name() const override;

    bool restoring() const { return restoring_; }
    Rotation rotation() const { return rotation_; }
    bool cropMode() const { return crop_mode_; }
    bool hasImage() const;

    RawView* view() const { return view_; }
    CurveEditor* curveEditor() const;
    ControlBar* bar(Bar bar) const;
    QWidget* control(int id) const;
    QString labelText(int id) const;
    QString statusText() const;
    QString colourText() const;
    QProgressBar* progressBar() const { return progress_; }
    QAction* commandAction(int command) const;

    // Selects the display profile stored with the settings: the entry with
    // this path, failing that the one with this name; otherwise the list
    // stays as it is.
    void selectDisplayProfile(const std::string& path, const std::string& name);

    // The settings database the save command reads its defaults from and
    // records exports in (not owned; none: no defaults, no records).
    void setDatabase(persistence::SettingsDatabase* database) { database_ = database; }

    void openFile(const QString& path);
    // File/Open: the open dialog (made once, reused).
    void openDialog();
    OpenDialog* openDialogWidget();

    // What the save dialog starts with for the picture on show.
    struct SaveDefaults {
        QString name;    // file name without its extension
        QString folder;  // last save folder, empty when none
        int width = 0, height = 0;
        int mode = 1;
        int quality = 95;
    };
    SaveDefaults saveDefaults() const;
    // File/Save: the save dialog, then the save of what was chosen.
    void saveCommand();
    // Saves with a choice of the save dialog; asks before replacing an
    // existing file. False when nothing was sent to the document.
    bool saveChosen(const SaveChoice& choice);
    // Options/Preferences.
    void preferencesCommand();
    void rotateClockwise();
    void rotateCounterClockwise();
    void toggleCropMode();
    // Switches the scale between fitting the window and 100 %.
    void toggleFit();
    // Runs the handler of a user change of control `id` (a slider release,
    // a click, a list choice).
    void userChanged(int id);

signals:
    // Every re-run a change asks for (not sent while restoring).
    void levelSent(ostel::ui::Level level);
    // A save ended (after its messages were shown).
    void saveDone(const QString& path, bool written);

public slots:
    void showResult(std::shared_ptr<const ostel::ui::DocumentResult> result);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildActions();
    void buildMenus();
    void buildToolBars();
    void buildStatusBar();
    void buildBars();
    void fillProfileLists();
    void connectControls();
    void dockDefaultLayout();
    void restoreLayout();

    void send(Level level);
    void requestJobs(unsigned jobs);
    void setLabel(int label_id, const QString& text);
    void relabel(int control_id);
    void relabelAll(Bar bar);
    void exposureHandler();
    void histCorrectionHandler();
    void whiteBalanceModeHandler();
    void bwModeHandler();
    void scaleHandler();
    void updateRotationButtons();
    void updateRecentMenu();
    void showHelp();
    void showAbout();
    void saveFinished(const QString& path, bool written, const QStringList& messages);

    int sliderValue(int id) const;
    ReleaseSlider* slider(int id) const;

    UserSettings& settings_;
    DocumentWorker& worker_;
    persistence::SettingsDatabase* database_ = nullptr;
    OpenDialog* open_dialog_ = nullptr;
    // The picture on show: its key, path and developed size.
    int32_t image_id_ = 0;
    QString document_path_;
    int developed_width_ = 0, developed_height_ = 0;
    RawView* view_ = nullptr;
    std::map<Bar, ControlBar*> bars_;
    std::map<int, QAction*> commands_;
    QLabel* status_ = nullptr;
    QLabel* colour_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QMenu* recent_menu_ = nullptr;
    develop::ProfileLists profiles_;
    bool restoring_ = false;
    Rotation rotation_ = Rotation::none;
    bool crop_mode_ = false;
    double iso_ = 0;
    bool fit_ = false;
};

}  // namespace ostel::ui
