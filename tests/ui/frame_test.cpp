// The main window's controls: every control drives its tag and asks for the
// re-run its kind of change needs; restoring stored positions runs the
// handlers without asking for anything; labels, groups and the rotate and
// crop commands.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "develop/colour_management.h"
#include "ui/controls/control_labels.h"
#include "ui/modules/control_bar.h"
#include "ui/widgets/curve_editor.h"
#include "ui/widgets/release_slider.h"
#include "ui_test_support.h"

using namespace ostel::ui;
namespace tag = ostel::develop::tag;

Q_DECLARE_METATYPE(ostel::ui::Level)

namespace {

// Changes control `id` to `position` the way a user does.
void change(MainFrame& frame, int id, int position) {
    QWidget* w = frame.control(id);
    if (auto* s = qobject_cast<ReleaseSlider*>(w)) {
        s->setValue(position);
        QTest::mouseRelease(s, Qt::LeftButton);
    } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
        if (c->isChecked() != (position != 0)) c->click();
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        c->setCurrentIndex(position);
        emit c->activated(position);
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        b->click();
    }
}

int level_count(const QSignalSpy& spy, Level level) {
    int n = 0;
    for (const auto& args : spy) n += args.at(0).value<Level>() == level;
    return n;
}

}  // namespace

class FrameTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qRegisterMetaType<Level>(); }

    void controlDrivesTagAndLevel_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("tag");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("level");
        struct Case {
            const char* name;
            int id, tag, position;
            Level level;
        };
        const Case cases[] = {
            {"exposure", 300, tag::kExposure, 5, Level::develop},
            {"warnings", 301, tag::kWarnings, 1, Level::display},
            {"hist.corr.", 302, tag::kHistCorrection, 1, Level::develop},
            {"shadows", 304, tag::kShadows, -7, Level::develop},
            {"highlights", 306, tag::kHighlights, 3, Level::develop},
            {"wb mode", 311, tag::kWbMode, 2, Level::white_balance},
            {"wb red", 314, tag::kWbRed, 10, Level::white_balance},
            {"wb blue", 317, tag::kWbBlue, -4, Level::white_balance},
            {"sharpness", 332, tag::kSharpness, 20, Level::none},
            {"sharp radius", 334, tag::kSharpRadius, 9, Level::none},
            {"sharp threshold", 336, tag::kSharpThreshold, 40, Level::none},
            {"luma nr", 338, tag::kLumaNr, 30, Level::none},
            {"luma threshold", 340, tag::kLumaThreshold, 25, Level::none},
            {"chroma nr", 342, tag::kChromaNr, 4, Level::none},
            {"filters apply", 343, 0, 0, Level::filters},
            {"recovery", 344, tag::kRecovery, 0, Level::none},
            {"wavelet nr", 346, tag::kWaveletNr, 30, Level::none},
            {"ca red", 348, tag::kCaRed, -20, Level::none},
            {"ca blue", 350, tag::kCaBlue, 15, Level::none},
            {"prefilters apply", 351, 0, 0, Level::reload},
            {"fill light", 353, tag::kFillLight, 12, Level::develop},
            {"contrast", 355, tag::kContrast, -9, Level::develop},
            {"saturation", 359, tag::kSaturation, 6, Level::develop},
            {"bw mode", 360, tag::kBwMode, 1, Level::develop},
            {"mixer red", 362, tag::kMixerRed, 30, Level::develop},
            {"mixer green", 364, tag::kMixerGreen, 50, Level::develop},
            {"mixer blue", 366, tag::kMixerBlue, 20, Level::develop},
            {"scale", 372, tag::kScale, 75, Level::redraw},
            {"input profile", 401, tag::kInputProfile, 0, Level::develop},
            {"output profile", 403, tag::kOutputProfile, 1, Level::none},
            {"display profile", 405, tag::kDisplayProfile, 0, Level::develop},
            {"curve apply", 394, 0, 0, Level::develop},
            {"curve reset", 395, 0, 0, Level::none},
        };
        for (const Case& c : cases) QTest::newRow(c.name) << c.id << c.tag << c.position << int(c.level);
    }

    void controlDrivesTagAndLevel() {
        QFETCH(int, id);
        QFETCH(int, tag);
        QFETCH(int, position);
        QFETCH(int, level);
        testing::FrameFixture f;
        f.showStandIn();
        // The correction sliders move only in "Custom WB".
        if (id == 314 || id == 317) change(*f.frame, 311, 2);
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        change(*f.frame, id, position);
        if (tag) {
            QCOMPARE(f.frame->value(tag), double(position));
            QCOMPARE(f.frame->snapshot().value(tag), double(position));
        }
        if (Level(level) == Level::none) {
            QCOMPARE(sent.count(), 0);
        } else {
            QCOMPARE(sent.count(), 1);
            QCOMPARE(int(sent.at(0).at(0).value<Level>()), level);
        }
    }

    void deferredControlsTakeEffectWithApply() {
        testing::FrameFixture f;
        f.showStandIn();
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        change(*f.frame, 338, 30);
        QVERIFY(f.frame->control(id::kFiltersApply)->isEnabled());
        change(*f.frame, id::kFiltersApply, 0);
        QCOMPARE(level_count(sent, Level::filters), 1);
        // Luma noise reduction still on: "Apply" stays available.
        QVERIFY(f.frame->control(id::kFiltersApply)->isEnabled());
        change(*f.frame, 338, 0);
        change(*f.frame, id::kFiltersApply, 0);
        QVERIFY(!f.frame->control(id::kFiltersApply)->isEnabled());
    }

    void keyboardMovesWaitForTheNextMouseRelease() {
        testing::FrameFixture f;
        f.showStandIn();
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        auto* contrast = static_cast<ReleaseSlider*>(f.frame->control(355));
        QTest::keyClick(contrast, Qt::Key_Right);
        QTest::keyClick(contrast, Qt::Key_Right);
        QCOMPARE(contrast->value(), 2);
        QCOMPARE(sent.count(), 0);
        QCOMPARE(f.frame->labelText(354), QString("Contrast: 0"));
        QTest::mouseRelease(contrast, Qt::LeftButton);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(f.frame->labelText(354), QString("Contrast: 2"));
    }

    void handlersThatNeedAnImageSendNothingWithout() {
        testing::FrameFixture f;
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        for (int id : {301, 343, 351, 394}) change(*f.frame, id, 1);
        QCOMPARE(sent.count(), 0);
        // Crop mode needs a picture too.
        f.frame->toggleCropMode();
        QVERIFY(!f.frame->cropMode());
    }

    void everyDevelopTagHasAControl() {
        testing::FrameFixture f;
        for (int t : {101, 102, 104, 105, 106, 201, 202, 203, 301, 302, 303, 304, 305, 306, 401, 402, 403, 404, 501,
                      502, 503, 504, 505, 506, 507, 601, 602, 603, 604})
            QVERIFY2(f.frame->has_control(t), qPrintable(QString::number(t)));
        QVERIFY(!f.frame->has_control(103));
        // Initial positions as the document expects them.
        QCOMPARE(f.frame->value(tag::kRecovery), 1.0);
        QCOMPARE(f.frame->value(tag::kSharpRadius), 1.0);
        QCOMPARE(f.frame->text(tag::kInputProfile), std::string("Ostel RAW"));
        QCOMPARE(f.frame->text(tag::kOutputProfile), std::string("Ostel sRGB"));
        QCOMPARE(f.frame->text(tag::kDisplayProfile), std::string("Ostel sRGB"));
    }

    void profileListsFromTheColourFolder() {
        // Two copies of a display profile in the colour folder.
        QTemporaryDir icc;
        const auto bytes = ostel::develop::builtin_profile_bytes(ostel::develop::kProfileSrgb);
        for (const char* name : {"a.icc", "b.icm"}) {
            QFile file(icc.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
        const QByteArray saved = qgetenv("OSTELRAW_ICC_DIR");
        qputenv("OSTELRAW_ICC_DIR", icc.path().toUtf8());
        testing::FrameFixture f;
        qputenv("OSTELRAW_ICC_DIR", saved);
        auto* display = static_cast<QComboBox*>(f.frame->control(405));
        auto* output = static_cast<QComboBox*>(f.frame->control(403));
        QCOMPARE(display->count(), 3);
        QCOMPARE(output->count(), 4);
        QCOMPARE(output->itemText(1), QString("Ostel ROMM"));
        // The stored display profile: by path first, then by name.
        const std::string b = icc.filePath("b.icm").toStdString();
        f.frame->selectDisplayProfile(b, "whatever");
        QCOMPARE(display->currentIndex(), 2);
        QCOMPARE(f.frame->text(tag::kDisplayProfile), b);
        QCOMPARE(f.frame->display_profile_path(), b);
        f.frame->selectDisplayProfile("/gone.icc", "Ostel sRGB");
        QCOMPARE(display->currentIndex(), 0);
        QCOMPARE(f.frame->text(tag::kDisplayProfile), std::string("Ostel sRGB"));
        f.frame->selectDisplayProfile("/gone.icc", "no such name");
        QCOMPARE(display->currentIndex(), 0);
    }

    void labelsAfterAChange() {
        testing::FrameFixture f;
        f.showStandIn(40, 32, 100);
        change(*f.frame, 300, 5);  // factor 2
        QCOMPARE(f.frame->labelText(299), QString("ISO: 200"));
        change(*f.frame, 300, -5);  // factor 1/2
        QCOMPARE(f.frame->labelText(299), QString("ISO: 50"));
        change(*f.frame, 311, 2);
        change(*f.frame, 314, 10);
        change(*f.frame, 317, -7);
        QCOMPARE(f.frame->labelText(312), QString("RC: 0.30"));
        QCOMPARE(f.frame->labelText(315), QString("BC: -0.21"));
        change(*f.frame, 334, 9);
        QCOMPARE(f.frame->labelText(333), QString("Sharp.Radius: 13"));
        change(*f.frame, 346, 30);
        QCOMPARE(f.frame->labelText(345), QString("Pre-NR: 300"));
        change(*f.frame, 362, 0);
        QCOMPARE(f.frame->labelText(361), QString("R: 0 %"));  // all three at 0
        change(*f.frame, 362, 25);
        change(*f.frame, 364, 75);
        QCOMPARE(f.frame->labelText(361), QString("R: 25 %"));
        QCOMPARE(f.frame->labelText(363), QString("G: 75 %"));
        QCOMPARE(f.frame->labelText(365), QString("B: 0 %"));
    }

    void labelsAreBounded() {
        // A huge ISO never overflows the label.
        ControlRow exposure = *row_by_id(300);
        LabelContext context;
        context.iso = 1e30;
        const std::string text = label_text(exposure, 25, context);
        QVERIFY(text.size() <= kLabelLimit);
        QVERIFY(QString::fromStdString(text).startsWith("ISO: "));
        QCOMPARE(correction_text(0.03 * 1e12), std::string("3e+10"));
    }

    void scaleSnapsAndIsStored() {
        testing::FrameFixture f;
        f.showStandIn();
        change(*f.frame, 372, 123);
        QCOMPARE(f.frame->value(tag::kScale), 120.0);
        QCOMPARE(f.settings->scale(), 120);
        QCOMPARE(f.frame->labelText(371), QString("Scale: 120%"));
        QCOMPARE(f.frame->view()->zoom(), 1.2);
    }

    void whiteBalanceModeEnablesCorrections() {
        testing::FrameFixture f;
        f.showStandIn();
        auto* red = f.frame->control(314);
        QVERIFY(!red->isEnabled());
        change(*f.frame, 311, 1);
        QVERIFY(!red->isEnabled());
        static_cast<QSlider*>(red)->setValue(7);
        change(*f.frame, 311, 2);
        QVERIFY(red->isEnabled());
        QCOMPARE(f.frame->value(tag::kWbRed), 7.0);
        // A pick moves the sliders, widening their range when needed.
        f.frame->set_white_balance_sliders(2.5, 0.97);
        QCOMPARE(f.frame->value(tag::kWbRed), 50.0);
        QCOMPARE(f.frame->value(tag::kWbBlue), -1.0);
    }

    void groupsCollapseAndExpand() {
        testing::FrameFixture f;
        f.frame->show();
        ControlBar* exposure = f.frame->bar(Bar::exposure);
        QWidget* shadows = f.frame->control(304);
        QVERIFY(!shadows->isVisibleTo(exposure));
        QVERIFY(f.frame->control(302)->isVisibleTo(exposure));
        change(*f.frame, 302, 1);
        QVERIFY(shadows->isVisibleTo(exposure));
        change(*f.frame, 302, 0);
        QVERIFY(!shadows->isVisibleTo(exposure));
        ControlBar* tone = f.frame->bar(Bar::tone);
        change(*f.frame, 360, 1);
        QVERIFY(f.frame->control(362)->isVisibleTo(tone));
        change(*f.frame, 360, 2);
        QVERIFY(!f.frame->control(362)->isVisibleTo(tone));
        tone->collapse("NoSuchGroup");  // unknown group: nothing happens
        QVERIFY(f.frame->control(360)->isVisibleTo(tone));
    }

    void restoringRunsHandlersAndSendsNothing() {
        testing::FrameFixture f;
        f.showStandIn(40, 32, 100);
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        QSignalSpy jobs(f.frame->view(), &RawView::jobRequested);
        const int scale_before = f.frame->position(tag::kScale);
        f.frame->begin_restore();
        const std::pair<int, int> stored[] = {
            {101, 5},  {102, 1},  {104, 1},  {105, -4}, {106, 2},  {201, 2},  {202, 10}, {203, -3},
            {301, 20}, {302, 9},  {303, 40}, {304, 30}, {305, 25}, {306, 4},  {401, 30}, {402, -20},
            {403, 15}, {404, 0},  {501, 12}, {502, -9}, {503, 6},  {504, 1},  {505, 30}, {506, 50},
            {507, 20}, {601, 150}, {602, 0}, {603, 1},
        };
        for (auto [t, p] : stored) f.frame->restore_position(t, p);
        f.frame->end_restore();
        QCOMPARE(sent.count(), 0);
        QCOMPARE(jobs.count(), 0);
        for (auto [t, p] : stored) {
            if (t == 601 || t == 603) continue;  // not restored
            QCOMPARE(f.frame->position(t), p);
        }
        QCOMPARE(f.frame->position(tag::kScale), scale_before);
        QCOMPARE(f.frame->position(tag::kOutputProfile), 0);
        // The handlers ran: labels, the correction group, the custom sliders.
        QCOMPARE(f.frame->labelText(299), QString("ISO: 200"));
        QCOMPARE(f.frame->labelText(303), QString("Shadows: -4"));
        QCOMPARE(f.frame->labelText(331), QString("Sharpness: 20"));
        QCOMPARE(f.frame->labelText(345), QString("Pre-NR: 300"));
        QCOMPARE(f.frame->labelText(358), QString("Saturation: 6"));
        QCOMPARE(f.frame->labelText(312), QString("RC: 0.30"));
        QVERIFY(f.frame->control(304)->isVisibleTo(f.frame->bar(Bar::exposure)));
        QVERIFY(f.frame->control(314)->isEnabled());
        // A change after restoring is sent again.
        change(*f.frame, 300, 0);
        QCOMPARE(sent.count(), 1);
    }

    void positionsRestoredByTheDocumentFollowWithoutARun() {
        testing::FrameFixture f;
        f.showStandIn(40, 32, 100);
        QSignalSpy sent(f.frame.get(), &MainFrame::levelSent);
        QSignalSpy jobs(f.frame->view(), &RawView::jobRequested);
        auto r = std::make_shared<DocumentResult>();
        r->loaded = r->opened = true;
        r->width = 40;
        r->height = 32;
        r->iso = 100;
        r->display = QImage(32, 24, QImage::Format_RGB32);
        r->restored = {{101, 10}, {104, 1}, {201, 2}, {355, 0}};
        f.frame->showResult(r);
        QCOMPARE(f.frame->position(tag::kExposure), 10);
        QCOMPARE(f.frame->labelText(299), QString("ISO: 300"));
        QVERIFY(f.frame->control(314)->isEnabled());
        QVERIFY(!f.frame->restoring());
        QCOMPARE(sent.count(), 0);
        QCOMPARE(jobs.count(), 0);
    }

    void rotateCommands_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<int>("expected");
        QTest::newRow("cw twice") << 0 << "rr" << 0;
        QTest::newRow("cw then ccw") << 0 << "rl" << 2;
        QTest::newRow("ccw twice") << 0 << "ll" << 0;
        QTest::newRow("half turn cw") << 3 << "r" << 2;
        QTest::newRow("half turn ccw") << 3 << "l" << 1;
    }

    void rotateCommands() {
        QFETCH(int, start);
        QFETCH(QString, commands);
        QFETCH(int, expected);
        Rotation r = Rotation(start);
        for (QChar c : commands) r = c == 'r' ? rotate_clockwise(r) : rotate_counter_clockwise(r);
        QCOMPARE(int(r), expected);
    }

    void rotateButtonsAndCropMode() {
        testing::FrameFixture f;
        f.showStandIn();
        f.frame->rotateClockwise();
        QCOMPARE(f.frame->rotation(), Rotation::clockwise);
        QVERIFY(f.frame->commandAction(32800)->isChecked());
        QVERIFY(!f.frame->commandAction(32803)->isChecked());
        QCOMPARE(f.frame->view()->rotation(), Rotation::clockwise);
        f.frame->toggleCropMode();
        QVERIFY(f.frame->cropMode());
        QVERIFY(f.frame->commandAction(32805)->isChecked());
        // A new file starts upright (as the camera held it) with no crop.
        f.showStandIn();
        QCOMPARE(f.frame->rotation(), Rotation::none);
        QVERIFY(!f.frame->cropMode());
        QVERIFY(f.frame->view()->crop().empty());
    }

    void openedFilesGoOnTheRecentList() {
        testing::FrameFixture f;
        f.showStandIn();  // opened as "standin.cr2"
        QCOMPARE(f.settings->recentFiles().size(), 1);
        QVERIFY(f.settings->recentFiles().first().endsWith("standin.cr2"));
        auto failed = std::make_shared<DocumentResult>();
        failed->opened = true;
        failed->path = "broken.cr2";
        f.frame->showResult(failed);
        QCOMPARE(f.settings->recentFiles().size(), 1);
        QVERIFY(!f.frame->hasImage());
    }

    void dragAcceptsFilesOnly() {
        testing::FrameFixture f;
        QTemporaryDir folder;
        QFile file(folder.filePath("IMG_0001.CR2"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        for (const auto& [path, accepted] : {std::pair{file.fileName(), true}, std::pair{folder.path(), false}}) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(f.frame.get(), &enter);
            QCOMPARE(enter.isAccepted(), accepted);
        }
    }

    void barsShowAndHide() {
        testing::FrameFixture f;
        f.frame->show();
        for (const BarRow& row : kBarRows) {
            QAction* toggle = f.frame->commandAction(row.command);
            QVERIFY(toggle);
            QCOMPARE(toggle->toolTip(), QString(row.tool_tip));
            QVERIFY(f.frame->bar(row.bar)->isVisible());
            toggle->trigger();
            QVERIFY(!f.frame->bar(row.bar)->isVisible());
            QVERIFY(!toggle->isChecked());
        }
    }

    void barLayoutIsSavedAndRestored() {
        QTemporaryDir folder;
        const QString ini = folder.filePath("settings.ini");
        {
            UserSettings settings(ini);
            DocumentWorker worker{ostel::develop::DocumentOptions{}};
            MainFrame frame(settings, worker);
            frame.show();
            frame.bar(Bar::curve)->hide();
            frame.close();
        }
        {
            UserSettings settings(ini);
            QVERIFY(!settings.barState().isEmpty());
            DocumentWorker worker{ostel::develop::DocumentOptions{}};
            MainFrame frame(settings, worker);
            frame.show();
            QVERIFY(!frame.bar(Bar::curve)->isVisible());
            QVERIFY(frame.bar(Bar::tone)->isVisible());
            // Without the stored layout the built-in one comes back.
            settings.raw().remove("BarState");
        }
        {
            UserSettings settings(ini);
            DocumentWorker worker{ostel::develop::DocumentOptions{}};
            MainFrame frame(settings, worker);
            frame.show();
            QVERIFY(frame.bar(Bar::curve)->isVisible());
        }
    }
};

QTEST_MAIN(FrameTest)
#include "frame_test.moc"
