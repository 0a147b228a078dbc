#include "ui/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <optional>

#include "persistence/settings_database.h"
#include "ui/app/user_settings.h"
#include "ui/dialogs/open_dialog.h"
#include "ui/dialogs/options_dialog.h"
#include "ui/dialogs/save_dialog.h"
#include "ui/controls/control_labels.h"
#include "ui/modules/control_bar.h"
#include "ui/view/raw_view.h"
#include "ui/widgets/curve_editor.h"
#include "ui/widgets/release_slider.h"

namespace ostel::ui {

namespace {

namespace cmd {
constexpr int kOpen = 57601, kSave = 57603, kRecentFile = 57616, kExit = 57665, kStatusBar = 59393;
constexpr int kPreferences = 32781, kHelp = 32812, kAbout = 57664;
constexpr int kRotateClockwise = 32800, kRotateCounterClockwise = 32803, kCropMode = 32805;
}  // namespace cmd

constexpr const char* kTitle = "Ostel RAW";

// A plain drawn tool-bar picture: a short glyph on a light tile.
QIcon tool_icon(const QString& glyph) {
    QPixmap pixmap(36, 28);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(90, 90, 110));
    painter.setBrush(QColor(236, 236, 240));
    painter.drawRoundedRect(QRectF(1.5, 1.5, 33, 25), 4, 4);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(QColor(40, 40, 80));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
    return QIcon(pixmap);
}

QString profile_text(const develop::ProfileChoice& p) {
    return QString::fromStdString(p.kind == develop::kProfileFile ? p.path : p.name);
}

bool is_raw_candidate(const QString& path) { return QFileInfo(path).isFile(); }

}  // namespace

MainFrame::MainFrame(UserSettings& settings, DocumentWorker& worker, QWidget* parent)
    : QMainWindow(parent), settings_(settings), worker_(worker), view_(new RawView(this)) {
    setWindowTitle(kTitle);
    setObjectName("MainFrame");
    setAcceptDrops(true);
    setCentralWidget(view_);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);

    buildActions();
    buildMenus();
    buildToolBars();
    buildStatusBar();
    buildBars();
    fillProfileLists();
    connectControls();

    // Initial state of the controls, labels and groups.
    whiteBalanceModeHandler();
    relabelAll(Bar::filters);
    relabel(355);
    relabel(id::kSaturation);
    slider(id::kScale)->setValue(settings_.scale());
    relabel(id::kScale);
    view_->setZoom(sliderValue(id::kScale) * 0.01);

    dockDefaultLayout();
    restoreLayout();

    static_cast<QCheckBox*>(control(id::kRecovery))->setChecked(true);
    rotation_ = Rotation::none;
    crop_mode_ = false;
    updateRotationButtons();
    relabelAll(Bar::tone);
    relabelAll(Bar::white_balance);
    relabelAll(Bar::prefilters);
    restoring_ = true;
    relabelAll(Bar::exposure);
    restoring_ = false;
    bar(Bar::exposure)->collapse(kGroupCorrection);
    bar(Bar::tone)->collapse(kGroupMixer);
    control(id::kFiltersApply)->setEnabled(false);

    connect(&worker_, &DocumentWorker::resultReady, this, &MainFrame::showResult, Qt::QueuedConnection);
    connect(&worker_, &DocumentWorker::statusText, status_, &QLabel::setText, Qt::QueuedConnection);
    connect(&worker_, &DocumentWorker::progressChanged, progress_, &QProgressBar::setValue, Qt::QueuedConnection);
    connect(
        &worker_, &DocumentWorker::userMessage, this,
        [this](const QString& text) { QMessageBox::warning(this, kTitle, text); }, Qt::QueuedConnection);
    connect(&worker_, &DocumentWorker::saveFinished, this, &MainFrame::saveFinished, Qt::QueuedConnection);
    connect(view_, &RawView::saveRequested, this, &MainFrame::saveCommand);
    connect(view_, &RawView::jobRequested, this, &MainFrame::requestJobs);
    connect(view_, &RawView::viewportChanged, this,
            [this](const develop::Viewport& v) { worker_.setViewport(v); });
    connect(view_, &RawView::whiteBalancePicked, this,
            [this](int column, int row) { worker_.pickWhiteBalance(column, row, snapshot()); });
    connect(view_, &RawView::colourReadout, colour_, &QLabel::setText);
    connect(view_, &RawView::zoomStepRequested, this, [this](int steps) {
        ReleaseSlider* s = slider(id::kScale);
        s->setValue(std::clamp(s->value() - s->value() % 5 + 5 * steps, 5, 200));
        userChanged(id::kScale);
    });
    resize(1200, 860);
}

MainFrame::~MainFrame() = default;

// ---- building ------------------------------------------------------------

void MainFrame::buildActions() {
    auto add = [this](int command, const QString& text, const QString& tip = {}, const QString& prompt = {}) {
        auto* a = new QAction(text, this);
        a->setToolTip(tip.isEmpty() ? QString(text).remove('&') : tip);
        a->setStatusTip(prompt);
        commands_[command] = a;
        return a;
    };
    QAction* open = add(cmd::kOpen, "&Open...", "Open", "Open an existing document");
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    connect(open, &QAction::triggered, this, &MainFrame::openDialog);
    QAction* save = add(cmd::kSave, "&Save", "Save", "Save the active document");
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    connect(save, &QAction::triggered, this, &MainFrame::saveCommand);
    QAction* exit = add(cmd::kExit, "E&xit");
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QAction* status = add(cmd::kStatusBar, "&Status Bar");
    status->setCheckable(true);
    status->setChecked(true);
    connect(status, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    QAction* preferences = add(cmd::kPreferences, "&Preferences");
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(preferences, &QAction::triggered, this, &MainFrame::preferencesCommand);
    connect(add(cmd::kHelp, "Help"), &QAction::triggered, this, &MainFrame::showHelp);
    connect(add(cmd::kAbout, "&About Ostel RAW..."), &QAction::triggered, this, &MainFrame::showAbout);

    QAction* ccw = add(cmd::kRotateCounterClockwise, "Rotate counter-clockwise", "Rotate image 90 degrees counter-clockwise",
                       "Rotate image 90 degrees counter-clockwise");
    ccw->setIcon(tool_icon(QString::fromUtf8("\u21ba")));
    ccw->setCheckable(true);
    ccw->setShortcut(QKeySequence(Qt::Key_BracketLeft));
    connect(ccw, &QAction::triggered, this, &MainFrame::rotateCounterClockwise);
    QAction* cw = add(cmd::kRotateClockwise, "Rotate clockwise", "Rotate image 90 degrees clcokwise",
                      "Rotate image 90 degrees clockwise");
    cw->setIcon(tool_icon(QString::fromUtf8("\u21bb")));
    cw->setCheckable(true);
    cw->setShortcut(QKeySequence(Qt::Key_BracketRight));
    connect(cw, &QAction::triggered, this, &MainFrame::rotateClockwise);
    QAction* crop = add(cmd::kCropMode, "Crop mode", " Crop mode On/Off", "Crop Mode On/Off");
    crop->setIcon(tool_icon("Crop"));
    crop->setCheckable(true);
    crop->setShortcut(QKeySequence(Qt::Key_C));
    connect(crop, &QAction::triggered, this, &MainFrame::toggleCropMode);

    auto* fit = new QShortcut(QKeySequence(Qt::Key_F), this);
    connect(fit, &QShortcut::activated, this, &MainFrame::toggleFit);
}

void MainFrame::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(commands_[cmd::kOpen]);
    file->addAction(commands_[cmd::kSave]);
    file->addSeparator();
    recent_menu_ = file->addMenu("Recent File");
    updateRecentMenu();
    file->addSeparator();
    file->addAction(commands_[cmd::kExit]);
    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(commands_[cmd::kStatusBar]);
    view->setObjectName("ViewMenu");
    QMenu* options = menuBar()->addMenu("Options");
    options->addAction(commands_[cmd::kPreferences]);
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(commands_[cmd::kHelp]);
    help->addAction(commands_[cmd::kAbout]);
}

void MainFrame::buildToolBars() {
    QToolBar* first = addToolBar("Toolbar");
    first->setObjectName("toolbar_1");
    first->addAction(commands_[cmd::kOpen]);
    first->addAction(commands_[cmd::kSave]);
    QToolBar* second = addToolBar("Toolbar 2");
    second->setObjectName("toolbar_2");
    // The show/hide buttons are added with the bars; the rest follow.
    second->setIconSize(QSize(36, 28));
}

void MainFrame::buildStatusBar() {
    status_ = new QLabel("Ready", this);
    colour_ = new QLabel("R:    G:    B:   ", this);
    colour_->setFixedWidth(150);
    colour_->setObjectName("colour_readout");
    progress_ = new QProgressBar(this);
    progress_->setFixedSize(80, 16);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    statusBar()->addWidget(status_, 1);
    statusBar()->addPermanentWidget(colour_);
    statusBar()->addPermanentWidget(progress_);
}

void MainFrame::buildBars() {
    auto* tools = findChild<QToolBar*>("toolbar_2");
    QMenu* view_menu = findChild<QMenu*>("ViewMenu");
    view_menu->addSeparator();
    const QString glyphs[] = {"Exp", "WB", "Filt", "Pre", "Tone", "Scale", "Out", "Raw", "Crv", "CMM"};
    int index = 0;
    for (const BarRow& row : kBarRows) {
        auto* bar = new ControlBar(row.bar, this);
        bars_[row.bar] = bar;
        QAction* toggle = bar->toggleViewAction();
        toggle->setIcon(tool_icon(glyphs[index++]));
        toggle->setToolTip(row.tool_tip);
        toggle->setStatusTip(row.prompt);
        commands_[row.command] = toggle;
        tools->addAction(toggle);
        view_menu->addAction(toggle);
        if (row.bar == Bar::prefilters) tools->addSeparator();
        if (row.bar == Bar::colour_management) tools->addSeparator();
    }
    // Keep the order of the commands in the tool bar as the bars' table
    // gives them, with the turn and crop buttons last.
    tools->addAction(commands_[cmd::kRotateCounterClockwise]);
    tools->addAction(commands_[cmd::kRotateClockwise]);
    tools->addAction(commands_[cmd::kCropMode]);
}

void MainFrame::fillProfileLists() {
    profiles_ = develop::gather_profile_lists(develop::profile_directories());
    auto fill = [this](int id, const std::vector<develop::ProfileChoice>& list) {
        auto* combo = static_cast<QComboBox*>(control(id));
        combo->clear();
        for (const auto& p : list) {
            // A file named only by its suffix has no name left: show the file's.
            QString name = QString::fromStdString(p.name);
            if (name.isEmpty()) name = QFileInfo(QString::fromStdString(p.path)).fileName();
            combo->addItem(name, profile_text(p));
        }
        combo->setCurrentIndex(0);
    };
    fill(id::kInputProfile, profiles_.input);
    fill(id::kOutputProfile, profiles_.output);
    fill(id::kDisplayProfile, profiles_.display);
}

void MainFrame::connectControls() {
    for (const ControlRow& row : kControlRows) {
        QWidget* w = control(row.id);
        if (!w) continue;
        const int id = row.id;
        switch (row.kind) {
            case Kind::slider:
                connect(static_cast<ReleaseSlider*>(w), &ReleaseSlider::released, this, [this, id] { userChanged(id); });
                break;
            case Kind::check_box:
                connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked, this, [this, id] { userChanged(id); });
                break;
            case Kind::button:
                connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, [this, id] { userChanged(id); });
                break;
            case Kind::combo_box:
                connect(static_cast<QComboBox*>(w), &QComboBox::activated, this, [this, id] { userChanged(id); });
                break;
            default: break;
        }
    }
}

void MainFrame::dockDefaultLayout() {
    // Two columns on the left; the two filter bars share a place as tabs so
    // the window fits a laptop screen.
    const Bar first_column[] = {Bar::white_balance, Bar::exposure, Bar::histogram_out, Bar::screen, Bar::filters};
    const Bar second_column[] = {Bar::histogram_raw, Bar::curve, Bar::colour_management, Bar::tone};
    addDockWidget(Qt::LeftDockWidgetArea, bars_[first_column[0]]);
    addDockWidget(Qt::LeftDockWidgetArea, bars_[second_column[0]]);
    splitDockWidget(bars_[first_column[0]], bars_[second_column[0]], Qt::Horizontal);
    auto stack = [this](const Bar* bars, size_t n) {
        for (size_t i = 1; i < n; ++i) splitDockWidget(bars_[bars[i - 1]], bars_[bars[i]], Qt::Vertical);
    };
    stack(first_column, std::size(first_column));
    stack(second_column, std::size(second_column));
    tabifyDockWidget(bars_[Bar::filters], bars_[Bar::prefilters]);
    bars_[Bar::filters]->raise();
}

void MainFrame::restoreLayout() {
    const QByteArray state = settings_.barState();
    if (!state.isEmpty()) restoreState(state);
}

void MainFrame::selectDisplayProfile(const std::string& path, const std::string& name) {
    auto* combo = static_cast<QComboBox*>(control(id::kDisplayProfile));
    const auto& list = profiles_.display;
    for (size_t i = 0; i < list.size() && int(i) < combo->count(); ++i)
        if (!path.empty() && list[i].path == path) return combo->setCurrentIndex(int(i));
    for (size_t i = 0; i < list.size() && int(i) < combo->count(); ++i)
        if (list[i].name == name) return combo->setCurrentIndex(int(i));
}

// ---- control source ------------------------------------------------------

QWidget* MainFrame::control(int id) const {
    const ControlRow* row = row_by_id(id);
    if (!row) return nullptr;
    const auto it = bars_.find(row->bar);
    return it == bars_.end() ? nullptr : it->second->control(id);
}

ControlBar* MainFrame::bar(Bar b) const {
    const auto it = bars_.find(b);
    return it == bars_.end() ? nullptr : it->second;
}

CurveEditor* MainFrame::curveEditor() const { return static_cast<CurveEditor*>(control(id::kCurve)); }

ReleaseSlider* MainFrame::slider(int id) const { return qobject_cast<ReleaseSlider*>(control(id)); }

int MainFrame::sliderValue(int id) const {
    const ReleaseSlider* s = slider(id);
    return s ? s->value() : 0;
}

QString MainFrame::labelText(int id) const {
    const auto* label = qobject_cast<QLabel*>(control(id));
    return label ? label->text() : QString();
}

QString MainFrame::statusText() const { return status_->text(); }
QString MainFrame::colourText() const { return colour_->text(); }

QAction* MainFrame::commandAction(int command) const {
    const auto it = commands_.find(command);
    return it == commands_.end() ? nullptr : it->second;
}

bool MainFrame::hasImage() const { return view_->hasImage(); }

bool MainFrame::has_control(int tag) const {
    const ControlRow* row = row_by_tag(tag);
    return row && control(row->id);
}

int MainFrame::position(int tag) const {
    const ControlRow* row = row_by_tag(tag);
    QWidget* w = row ? control(row->id) : nullptr;
    if (!w) return int(develop::initial_control_value(tag));
    if (auto* s = qobject_cast<QSlider*>(w)) return s->value();
    if (auto* c = qobject_cast<QCheckBox*>(w)) return c->isChecked() ? 1 : 0;
    if (auto* c = qobject_cast<QComboBox*>(w)) return std::max(0, c->currentIndex());
    return 0;
}

double MainFrame::value(int tag) const {
    if (!has_control(tag)) return develop::initial_control_value(tag);
    return position(tag);
}

std::string MainFrame::text(int tag) const {
    int list = 0;
    switch (tag) {
        case develop::tag::kInputProfile: list = id::kInputProfile; break;
        case develop::tag::kOutputProfile: list = id::kOutputProfile; break;
        case develop::tag::kDisplayProfile: list = id::kDisplayProfile; break;
        case develop::tag::kCurvePoints: return curveEditor()->pointsText();
        default: return {};
    }
    const auto* combo = static_cast<QComboBox*>(control(list));
    return combo->currentData().toString().toStdString();
}

develop::MapControlSource MainFrame::snapshot() const {
    develop::MapControlSource s;
    for (const ControlRow& row : kControlRows)
        if (row.tag) s.set(row.tag, value(row.tag));
    for (int tag : {develop::tag::kInputProfile, develop::tag::kOutputProfile, develop::tag::kDisplayProfile,
                    develop::tag::kCurvePoints})
        s.set_text(tag, text(tag));
    return s;
}

void MainFrame::set_white_balance_sliders(double red, double blue) {
    for (auto [id, m] : {std::pair{id::kWbRed, red}, std::pair{id::kWbBlue, blue}}) {
        ReleaseSlider* s = slider(id);
        if (!std::isfinite(m)) continue;
        const int v = int(std::floor((m - 1.0) * (100.0 / 3.0) + 0.5));
        if (v < s->minimum()) s->setMinimum(v);
        if (v > s->maximum()) s->setMaximum(v);
        s->setValue(v);
    }
    relabel(id::kWbRed);
    relabel(id::kWbBlue);
}

// ---- restoring -----------------------------------------------------------

void MainFrame::begin_restore() { restoring_ = true; }
void MainFrame::end_restore() { restoring_ = false; }

void MainFrame::restore_position(int tag, int pos) {
    const ControlRow* row = row_by_tag(tag);
    QWidget* w = row ? control(row->id) : nullptr;
    // The scale comes from the user's settings and the profiles from the
    // lists; neither is restored per picture.
    if (!w || tag == develop::tag::kScale || row->bar == Bar::colour_management) return;
    auto set = [&] {
        if (auto* s = qobject_cast<QSlider*>(w)) {
            s->setValue(pos);
        } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
            c->setChecked(pos != 0);
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            if (pos >= 0 && pos < c->count()) c->setCurrentIndex(pos);
        }
    };
    set();
    switch (tag) {
        case develop::tag::kWarnings:
        case develop::tag::kRecovery:
        case develop::tag::kBwMode:
        case develop::tag::kMixerRed:
        case develop::tag::kMixerGreen:
        case develop::tag::kMixerBlue: return;  // position only
        case develop::tag::kWbMode:
            // The mode's own handler, so a restored custom balance can be
            // adjusted at once.
            whiteBalanceModeHandler();
            return;
        case develop::tag::kSaturation:
            userChanged(row->id);
            set();
            userChanged(row->id);
            return;
        default: userChanged(row->id); return;
    }
}

int MainFrame::display_profile_index() const {
    return std::max(0, static_cast<QComboBox*>(control(id::kDisplayProfile))->currentIndex());
}

std::string MainFrame::display_profile_path() const {
    const int i = display_profile_index();
    return size_t(i) < profiles_.display.size() ? profiles_.display[size_t(i)].path : std::string();
}

std::string MainFrame::display_profile_name() const {
    const int i = display_profile_index();
    return size_t(i) < profiles_.display.size() ? profiles_.display[size_t(i)].name : std::string();
}

// ---- change handling -----------------------------------------------------

void MainFrame::send(Level level) {
    if (restoring_ || level == Level::none) return;
    emit levelSent(level);
    switch (level) {
        case Level::develop: view_->message(FrameMessage::develop); break;
        case Level::white_balance: view_->message(FrameMessage::white_balance); break;
        case Level::filters: view_->message(FrameMessage::filters); break;
        case Level::redraw: view_->message(FrameMessage::refresh); break;
        case Level::display:
            if (view_->takesRequests()) requestJobs(job::kDisplay);
            break;
        case Level::reload:
            if (view_->takesRequests()) requestJobs(job::kReload);
            break;
        case Level::none: break;
    }
}

void MainFrame::requestJobs(unsigned jobs) { worker_.request(jobs, snapshot()); }

void MainFrame::setLabel(int label_id, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(control(label_id))) label->setText(text);
}

void MainFrame::relabel(int control_id) {
    const ControlRow* row = row_by_id(control_id);
    if (!row || !row->label_id) return;
    LabelContext context;
    context.iso = iso_;
    context.mixer = {sliderValue(id::kMixerRed), sliderValue(id::kMixerGreen), sliderValue(id::kMixerBlue)};
    setLabel(row->label_id, QString::fromStdString(label_text(*row, position(row->tag), context)));
}

void MainFrame::relabelAll(Bar b) {
    for (const ControlRow& row : kControlRows)
        if (row.bar == b && row.label_id && (b != Bar::exposure || row.id != id::kExposure || hasImage()))
            relabel(row.id);
}

void MainFrame::exposureHandler() {
    if (hasImage()) relabel(id::kExposure);
    send(Level::develop);
}

void MainFrame::histCorrectionHandler() {
    if (static_cast<QCheckBox*>(control(id::kHistCorrection))->isChecked())
        bar(Bar::exposure)->expand(kGroupCorrection);
    else
        bar(Bar::exposure)->collapse(kGroupCorrection);
    if (view_->takesRequests()) send(Level::develop);
}

void MainFrame::whiteBalanceModeHandler() {
    const bool custom = position(develop::tag::kWbMode) == 2;
    control(id::kWbRed)->setEnabled(custom);
    control(id::kWbBlue)->setEnabled(custom);
    if (custom) {
        relabel(id::kWbRed);
        relabel(id::kWbBlue);
    }
    view_->setCustomBalance(custom);
}

void MainFrame::bwModeHandler() {
    if (position(develop::tag::kBwMode) == 1)
        bar(Bar::tone)->expand(kGroupMixer);
    else
        bar(Bar::tone)->collapse(kGroupMixer);
}

void MainFrame::scaleHandler() {
    ReleaseSlider* s = slider(id::kScale);
    const int snapped = std::max(s->minimum(), s->value() - s->value() % 5);
    s->setValue(snapped);
    settings_.setScale(snapped);
    relabel(id::kScale);
    view_->setZoom(snapped * 0.01);
    if (hasImage()) send(Level::redraw);
}

void MainFrame::userChanged(int id) {
    const ControlRow* row = row_by_id(id);
    if (!row) return;
    switch (row->bar) {
        case Bar::exposure:
            if (id == id::kExposure) return exposureHandler();
            if (id == id::kWarnings) return view_->takesRequests() ? send(Level::display) : void();
            if (id == id::kHistCorrection) return histCorrectionHandler();
            relabel(id::kShadows);
            relabel(id::kHighlights);
            return send(Level::develop);
        case Bar::white_balance:
            if (id == id::kWbMode) {
                whiteBalanceModeHandler();
                return send(Level::white_balance);
            }
            if (hasImage()) {
                relabel(id::kWbRed);
                relabel(id::kWbBlue);
            }
            return send(Level::white_balance);
        case Bar::filters:
            if (id == id::kFiltersApply) {
                if (!hasImage()) return;
                send(Level::filters);
                const bool any = sliderValue(id::kSharpness) || sliderValue(338) || sliderValue(342);
                control(id::kFiltersApply)->setEnabled(any);
                return;
            }
            relabelAll(Bar::filters);
            control(id::kFiltersApply)->setEnabled(hasImage());
            return;
        case Bar::prefilters:
            if (id == id::kPreFiltersApply) return view_->takesRequests() ? send(Level::reload) : void();
            relabelAll(Bar::prefilters);
            return;
        case Bar::tone:
            if (id == id::kBwMode) {
                bwModeHandler();
                return send(Level::develop);
            }
            relabelAll(Bar::tone);
            return send(Level::develop);
        case Bar::screen: return scaleHandler();
        case Bar::curve:
            if (id == id::kCurveReset) return curveEditor()->reset();
            if (id == id::kCurveApply && view_->takesRequests()) send(Level::develop);
            return;
        case Bar::colour_management: return send(row->level);
        default: return;
    }
}

// ---- view state ----------------------------------------------------------

void MainFrame::updateRotationButtons() {
    commands_[cmd::kRotateClockwise]->setChecked(rotation_ == Rotation::clockwise);
    commands_[cmd::kRotateCounterClockwise]->setChecked(rotation_ == Rotation::counter_clockwise);
    commands_[cmd::kCropMode]->setChecked(crop_mode_);
}

void MainFrame::rotateClockwise() {
    rotation_ = rotate_clockwise(rotation_);
    updateRotationButtons();
    view_->setRotation(rotation_);
    view_->refresh();
}

void MainFrame::rotateCounterClockwise() {
    rotation_ = rotate_counter_clockwise(rotation_);
    updateRotationButtons();
    view_->setRotation(rotation_);
    view_->refresh();
}

void MainFrame::toggleCropMode() {
    if (hasImage()) {
        crop_mode_ = !crop_mode_;
        view_->setCropMode(crop_mode_);
        view_->refresh();
    }
    updateRotationButtons();
}

void MainFrame::toggleFit() {
    ReleaseSlider* s = slider(id::kScale);
    fit_ = !fit_;
    int percent = 100;
    if (fit_ && hasImage()) {
        const ExportSize whole = displayed_size(view_->area(), 1.0, rotation_);
        const QSize room = view_->viewport()->size();
        const double zoom = std::min(double(room.width()) / std::max(1, whole.width),
                                     double(room.height()) / std::max(1, whole.height));
        percent = int(zoom * 100.0);
    }
    s->setValue(std::clamp(percent - percent % 5, 5, 200));
    userChanged(id::kScale);
}

// ---- documents -----------------------------------------------------------

void MainFrame::openFile(const QString& path) {
    status_->setText("Loading");
    // The open develops for the screen what the view shows now.
    worker_.setViewport(view_->currentViewport());
    worker_.open(path, snapshot());
}

void MainFrame::showResult(std::shared_ptr<const DocumentResult> result) {
    if (!result) return;
    if (result->provisional) {
        // The embedded preview or the quick picture of the file being
        // opened: shown, but no command works on it until the developed
        // picture arrives.
        view_->setResult(result);
        developed_width_ = developed_height_ = 0;
        control(id::kFiltersApply)->setEnabled(false);
        status_->setText(result->quick ? "Loading - showing a quick preview" : "Loading - showing the embedded preview");
        return;
    }
    if (result->opened) {
        // A new picture: upright as the camera was held, no crop.
        rotation_ = rotation_from_orientation(result->orientation);
        crop_mode_ = false;
        view_->setRotation(rotation_);
        view_->setCropMode(false);
        view_->resetCrop();
        updateRotationButtons();
        iso_ = result->iso;
        image_id_ = result->image_id;
        document_path_ = result->path;
        if (result->loaded) {
            // Only files that opened go on the recent-file list.
            settings_.addRecentFile(QFileInfo(result->path).absoluteFilePath());
            updateRecentMenu();
        }
        setWindowTitle(result->loaded ? QFileInfo(result->path).fileName() + " - " + kTitle : QString(kTitle));
    }
    if (!result->restored.empty()) {
        begin_restore();
        for (auto [tag, pos] : result->restored) restore_position(tag, pos);
        end_restore();
    }
    if (result->white_balance_set) {
        for (auto [id, v] : {std::pair{id::kWbRed, result->wb_red}, std::pair{id::kWbBlue, result->wb_blue}}) {
            ReleaseSlider* s = slider(id);
            if (v < s->minimum()) s->setMinimum(int(v));
            if (v > s->maximum()) s->setMaximum(int(v));
            s->setValue(int(v));
        }
        relabel(id::kWbRed);
        relabel(id::kWbBlue);
    }
    view_->setResult(result);
    developed_width_ = result->loaded ? result->width : 0;
    developed_height_ = result->loaded ? result->height : 0;
    if (result->loaded) {
        static_cast<QLabel*>(control(id::kHistogramOut))->setPixmap(QPixmap::fromImage(result->histogram_out));
        static_cast<QLabel*>(control(id::kHistogramRaw))->setPixmap(QPixmap::fromImage(result->histogram_raw));
        relabel(id::kExposure);
    }
    if (result->opened) control(id::kFiltersApply)->setEnabled(hasImage());
}

OpenDialog* MainFrame::openDialogWidget() {
    if (!open_dialog_) open_dialog_ = new OpenDialog(settings_, this);
    return open_dialog_;
}

void MainFrame::openDialog() {
    OpenDialog* dialog = openDialogWidget();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return;
    const QString path = dialog->selectedFiles().first();
    settings_.setOpenDirectory(QFileInfo(path).absolutePath());
    openFile(path);
}

// ---- save and preferences -------------------------------------------------

MainFrame::SaveDefaults MainFrame::saveDefaults() const {
    SaveDefaults d;
    // The name the file had when it was first opened, else the document's.
    QString name;
    if (database_)
        if (const auto stored = database_->LookupRawFileName(image_id_)) name = QString::fromStdString(*stored);
    if (name.isEmpty()) name = QFileInfo(document_path_).fileName();
    const int dot = name.lastIndexOf('.');
    d.name = dot < 0 ? QString() : name.left(dot);
    d.folder = settings_.saveDirectory();
    const ExportSize size = exporting::default_output_size(developed_width_, developed_height_, rotation_, crop_mode_,
                                                           view_->crop());
    d.width = size.width;
    d.height = size.height;
    std::optional<int> mode;
    if (database_) mode = database_->PreferredSaveMode();
    d.mode = mode && *mode >= 1 && *mode <= int(exporting::SaveMode::png16) ? *mode : 1;
    d.quality = settings_.preferences().jpeg_quality;
    return d;
}

void MainFrame::saveCommand() {
    if (!hasImage() || developed_width_ <= 0) return;
    const SaveDefaults d = saveDefaults();
    SaveDialog dialog(d.width, d.height, d.quality, exporting::SaveMode(d.mode), this);
    if (!d.folder.isEmpty() && QFileInfo(d.folder).isDir()) dialog.setDirectory(d.folder);
    dialog.selectFile(d.name);
    if (dialog.exec() != QDialog::Accepted) {
        view_->refresh();
        return;
    }
    saveChosen(dialog.choice());
}

bool MainFrame::saveChosen(const SaveChoice& choice) {
    if (!hasImage() || choice.path.isEmpty()) return false;
    const std::string typed = QFile::encodeName(choice.path).toStdString();
    SaveJob job;
    // A typed extension is kept when it names the chosen format; otherwise the
    // format's own is added, so the bytes always match the name.
    job.path = choice.extension_typed && exporting::has_mode_extension(typed, choice.mode)
                   ? typed
                   : exporting::with_mode_extension(typed, choice.mode);
    // The record always carries the format's extension after the name.
    job.recorded_path = exporting::with_mode_extension(typed, choice.mode);
    const QString target = QFile::decodeName(QByteArray::fromStdString(job.path));
    const QFileInfo info(target);
    if (info.exists()) {
        if (info.isDir()) {
            QMessageBox::critical(this, kTitle, exporting::kImageSaveError);
            return false;
        }
        const auto answer = QMessageBox::question(
            this, "Save converted image",
            QString("%1 already exists.\nDo you want to replace it?").arg(info.fileName()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) return false;
        job.replace_existing = true;
    }
    job.rotation = rotation_;
    job.crop_mode = crop_mode_;
    job.crop = view_->crop();
    job.output_width = choice.width;
    job.output_height = choice.height;
    job.mode = choice.mode;
    job.quality = choice.quality;
    const Preferences p = settings_.preferences();
    job.artist = p.author.toStdString();
    job.copyright = p.copyright.toStdString();
    settings_.setSaveDirectory(info.absolutePath());
    status_->setText("Saving");
    worker_.save(job, snapshot());
    return true;
}

void MainFrame::saveFinished(const QString& path, bool written, const QStringList& messages) {
    for (const QString& m : messages) {
        if (written)
            QMessageBox::warning(this, kTitle, m);
        else
            QMessageBox::critical(this, kTitle, m);
    }
    status_->setText(written ? "Ready" : exporting::kImageSaveError);
    emit saveDone(path, written);
}

void MainFrame::preferencesCommand() {
    OptionsDialog dialog(this);
    dialog.setPreferences(settings_.preferences());
    if (dialog.exec() != QDialog::Accepted) return;
    const Preferences p = dialog.preferences();
    settings_.setPreferences(p);
    // The document reads them when it next loads a file.
    worker_.setOptions(
        develop::DocumentOptions::from_settings(p.artifact_level, p.chroma_prefilter, p.luma_nr_type, p.chroma_nr_type));
}

void MainFrame::updateRecentMenu() {
    recent_menu_->clear();
    const QStringList files = settings_.recentFiles();
    int n = 0;
    for (const QString& f : files) {
        QAction* a = recent_menu_->addAction(QString("&%1 %2").arg(++n).arg(QFileInfo(f).fileName()));
        a->setData(f);
        connect(a, &QAction::triggered, this, [this, f] { openFile(f); });
    }
    recent_menu_->setEnabled(!files.isEmpty());
}

void MainFrame::dragEnterEvent(QDragEnterEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile() && is_raw_candidate(urls.first().toLocalFile()))
        event->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* event) {
    const auto urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) return;
    event->acceptProposedAction();
    openFile(urls.first().toLocalFile());
}

void MainFrame::closeEvent(QCloseEvent* event) {
    settings_.setBarState(saveState());
    event->accept();
}

// ---- help ----------------------------------------------------------------

void MainFrame::showHelp() {
    const QString folder = QCoreApplication::applicationDirPath();
    QString help = QDir(folder).filePath("../share/ostelraw/help.html");
    if (!QFileInfo::exists(help)) help = QDir(folder).filePath("help.html");
    if (QFileInfo::exists(help) && QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(help).absoluteFilePath())))
        return;
    const auto answer = QMessageBox::warning(
        this, kTitle,
        "Could not call a html browser to open help in a new window. Try to open it using standart call?\n\n"
        "Warning. Contents of existing browser window will be replaced by contents of a help file!",
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    if (QFileInfo::exists(help) && QProcess::startDetached("xdg-open", {QFileInfo(help).absoluteFilePath()})) return;
    QMessageBox::critical(this, kTitle,
                          "Help is not available. Could not locate help file or your default html browser.");
}

void MainFrame::showAbout() {
    QMessageBox::about(this, "About Ostel RAW",
                       QString("<b>Ostel RAW</b><br>Version %1<br><br>Raw photo converter for Linux.")
                           .arg(QCoreApplication::applicationVersion()));
}

}  // namespace ostel::ui
