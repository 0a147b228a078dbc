// The open dialog's shooting data and thumbnail, the save dialog's size
// linkage and the options dialog's round trip through the settings file.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "tools/simcam/formats.h"
#include "tools/simcam/scene.h"
#include "ui/dialogs/open_dialog.h"
#include "ui/dialogs/options_dialog.h"
#include "ui/dialogs/save_dialog.h"
#include "modal_support.h"
#include "ui_test_support.h"

using namespace ostel::ui;
namespace sim = ostel::simcam;

namespace {

const QString kBundled = QStringLiteral(OSTEL_SOURCE_DIR "/testdata/canon_eos30d.cr2");

QString samples_folder() {
    const QByteArray env = qgetenv("OSTELRAW_SAMPLES");
    return env.isEmpty() ? QStringLiteral(OSTEL_SOURCE_DIR "/../shared/samples") : QString::fromLocal8Bit(env);
}

// A distinct thumbnail pixel count: more than a handful of colours means a
// real picture, not a blank one.
int distinct_colours(const QImage& image) {
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) seen.insert(image.pixel(x, y));
    return int(seen.size());
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void shotTexts_data() {
        QTest::addColumn<float>("shutter");
        QTest::addColumn<float>("aperture");
        QTest::addColumn<float>("focal");
        QTest::addColumn<QString>("shutter_text");
        QTest::addColumn<QString>("aperture_text");
        QTest::addColumn<QString>("focal_text");
        QTest::newRow("fast") << 1.f / 250 << 5.6f << 50.9f << QString("Shutter: 1/250 s") << QString("Aperture: f/5.6") << QString("Focal Length: 50 mm");
        QTest::newRow("long") << 2.5f << 22.f << 0.f << QString("Shutter: 2 s") << QString("Aperture: f/22.0") << QString("Focal Length: N/A");
        // An unknown time has no text; an unknown aperture reads 0.0.
        QTest::newRow("unknown") << 0.f << 0.f << 0.f << QString("") << QString("Aperture: f/0.0") << QString("Focal Length: N/A");
        QTest::newRow("huge") << 1e30f << 3e12f << 1e20f << QString("Shutter: 1000000000000000 s") << QString("Aperture: f/3.00e+12")
                              << QString("Focal Length: 1000000000000000");
    }
    void shotTexts() {
        QFETCH(float, shutter);
        QFETCH(float, aperture);
        QFETCH(float, focal);
        ostel::develop::ShootingData shot;
        shot.make = "Canon";
        shot.model = std::string(40, 'M');
        shot.iso = 400;
        shot.shutter = shutter;
        shot.aperture = aperture;
        shot.focal_length = focal;
        const ShotTexts t = shot_texts(shot);
        QFETCH(QString, shutter_text);
        QFETCH(QString, aperture_text);
        QFETCH(QString, focal_text);
        QCOMPARE(t.shutter, shutter_text);
        QCOMPARE(t.aperture, aperture_text);
        QCOMPARE(t.focal_length, focal_text);
        QCOMPARE(t.iso, QString("ISO: 400"));
        QCOMPARE(t.model.size(), kShotTextLength);
    }

    // The bundled camera file: its embedded preview and its shooting data.
    void openDialogShowsSample() {
        testing::FrameFixture f;
        OpenDialog dialog(*f.settings);
        dialog.showFile(kBundled);
        const ShotTexts t = dialog.texts();
        QCOMPARE(t.make, QString("Canon"));
        QVERIFY2(t.model.contains("30D"), qPrintable(t.model));
        QVERIFY2(t.iso.startsWith("ISO: "), qPrintable(t.iso));
        QCOMPARE(t.shutter, QString("Shutter: 1/400 s"));
        QVERIFY2(t.aperture.startsWith("Aperture: f/22"), qPrintable(t.aperture));
        QCOMPARE(t.focal_length, QString("Focal Length: 22 mm"));
        QVERIFY(!dialog.preview()->image().isNull());
        QVERIFY(dialog.preview()->image().width() >= 100);
        QVERIFY(distinct_colours(dialog.preview()->image()) > 20);
        QCOMPARE(dialog.colourSpaces()->count(), 4);
        QCOMPARE(dialog.colourSpaces()->currentText(), QString("sRGB"));
        QVERIFY(!dialog.spatialCorrection()->isEnabled() && !dialog.spatialCorrection()->isChecked());

        // Another file without a preview of its own: its data, and the
        // previous thumbnail is gone. Then something that is no raw file.
        QTemporaryDir dir;
        sim::Camera cam = sim::camera_for(sim::Format::dng, 64, 48);
        const QString plain = dir.filePath("plain.dng");
        QVERIFY(sim::save_file(plain.toStdString(),
                               sim::write_raw(sim::Format::dng, sim::render_mosaic(sim::Scene{}, cam), cam)));
        dialog.showFile(plain);
        QCOMPARE(dialog.texts().make, QString::fromStdString(cam.make));
        QVERIFY(distinct_colours(dialog.preview()->image()) <= 1);
        QFile text(dir.filePath("notes.cr2"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();
        for (const QString& other : {text.fileName(), dir.path(), dir.filePath("missing.nef")}) {
            dialog.showFile(other);
            QCOMPARE(dialog.texts().make, QString("Please select RAW file!"));
            QVERIFY(dialog.texts().model.isEmpty() && dialog.texts().iso.isEmpty() &&
                    dialog.texts().focal_length.isEmpty());
            QVERIFY(dialog.preview()->image().isNull());
        }
    }

    // The sample collection's other cameras, against the metadata reader.
    void openDialogShowsCollection() {
        const QString nef = samples_folder() + "/real/nikon_d1.nef";
        if (!QFileInfo::exists(nef)) QSKIP("sample collection not found (set OSTELRAW_SAMPLES)");
        testing::FrameFixture f;
        OpenDialog dialog(*f.settings);
        dialog.showFile(nef);
        const ShotTexts t = dialog.texts();
        // exiftool: ExposureTime 0.004, FNumber 7.6, FocalLength 20, ISO 200.
        QCOMPARE(t.make, QString("NIKON"));
        QCOMPARE(t.shutter, QString("Shutter: 1/250 s"));
        QCOMPARE(t.aperture, QString("Aperture: f/7.6"));
        QCOMPARE(t.focal_length, QString("Focal Length: 20 mm"));
        QCOMPARE(t.iso, QString("ISO: 200"));
        QVERIFY(!dialog.preview()->image().isNull());
    }

    // The folder of every selection and the choices at OK are remembered.
    void openDialogRemembers() {
        testing::FrameFixture f;
        QTemporaryDir dir;
        QVERIFY(QFile::copy(kBundled, dir.filePath("a.cr2")));
        f.settings->setOpenDirectory(dir.path());
        OpenDialog dialog(*f.settings);
        QCOMPARE(QFileInfo(dialog.directory().absolutePath()).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());
        QVERIFY(dialog.nameFilters().first().contains("*.cr2"));
        QVERIFY(dialog.nameFilters().first().contains("*.NEF"));
        QVERIFY(dialog.nameFilters().first().contains("*.x3f"));
        QCOMPARE(dialog.nameFilters().last(), QString("All Files (*)"));
        // The name typed as a user would.
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(name);
        QTest::keyClicks(name, "a.cr2");
        QTRY_COMPARE_WITH_TIMEOUT(dialog.texts().make, QString("Canon"), 10000);
        dialog.colourSpaces()->setCurrentIndex(2);
        dialog.accept();
        QCOMPARE(f.settings->colourSpace(), 2);
        QCOMPARE(f.settings->spatialCorrection(), 0);
        QCOMPARE(QFileInfo(f.settings->openDirectory()).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());
    }

    void saveSizeLinkage_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("scale");
        QTest::addColumn<int>("shown");  // what the edited field shows afterwards
        QTest::newRow("half width") << QString("width") << 2000 << 2000 << 1499 << 50 << 2000;
        QTest::newRow("width too large") << QString("width") << 20000 << 15968 << 11968 << 400 << 15968;
        QTest::newRow("width zero") << QString("width") << 0 << 1 << 1 << 0 << 1;
        QTest::newRow("height") << QString("height") << 1496 << 1996 << 1496 << 50 << 1496;
        QTest::newRow("height too large") << QString("height") << 99999 << 15968 << 11968 << 400 << 11968;
        QTest::newRow("scale") << QString("scale") << 25 << 998 << 748 << 25 << 25;
        QTest::newRow("scale too large") << QString("scale") << 500 << 15968 << 11968 << 400 << 400;
        QTest::newRow("scale zero") << QString("scale") << 0 << 40 << 30 << 1 << 1;
    }
    // Typed into the dialog's own edits for a 3992 x 2992 picture.
    void saveSizeLinkage() {
        QFETCH(QString, edit);
        QFETCH(int, value);
        SaveDialog dialog(3992, 2992, 90, ostel::exporting::SaveMode::tiff8);
        QLineEdit* e = edit == "width" ? dialog.widthEdit() : edit == "height" ? dialog.heightEdit() : dialog.scaleEdit();
        e->clear();
        QTest::keyClicks(e, QString::number(value));
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, scale);
        QFETCH(int, shown);
        const SaveChoice c = dialog.choice();
        QCOMPARE(c.width, width);
        QCOMPARE(c.height, height);
        QCOMPARE(dialog.widthEdit()->text().toInt(), c.width);
        QCOMPARE(dialog.heightEdit()->text().toInt(), c.height);
        QCOMPARE(dialog.scaleEdit()->text().toInt(), scale);
        QCOMPARE(e->text().toInt(), shown);
    }

    void saveSizeLeavingFields() {
        SaveSize size(3992, 2992);
        QCOMPARE(QString(size.leaveScale(false, 500)), QString(SaveSize::kScaleAboveMaximum));
        QCOMPARE(size.width(), 15968);
        QCOMPARE(QString(size.leaveScale(false, -3)), QString(SaveSize::kScaleBelowMinimum));
        QCOMPARE(size.scale(), 1);
        QCOMPARE(size.width(), 39);  // 1 % of 3992, truncated
        QVERIFY(size.leaveScale(true, 0) == nullptr);
        QCOMPARE(size.scale(), 100);
        size.typeWidth(100);
        size.restoreBase();
        QCOMPARE(size.width(), 3992);
        QCOMPARE(size.height(), 2992);
        // A very thin picture never gets a side of 0 pixels.
        SaveSize thin(5000, 2);
        thin.typeWidth(10);
        QCOMPARE(thin.height(), 1);
    }

    // The quality slider belongs to JPEG; the defaults come from the caller.
    void saveDialogTypes() {
        SaveDialog dialog(400, 300, 77, ostel::exporting::SaveMode::tiff16);
        QCOMPARE(dialog.windowTitle(), QString("Save converted image"));
        QCOMPARE(dialog.mode(), ostel::exporting::SaveMode::tiff16);
        QVERIFY(!dialog.qualitySlider()->isEnabled());
        QCOMPARE(dialog.qualitySlider()->value(), 77);
        QCOMPARE(dialog.qualityText()->text(), QString("77%"));
        const QStringList types = SaveDialog::typeFilters();
        QCOMPARE(types.mid(0, 3), (QStringList{"TIFF 8-bit (*.tif)", "JPEG 8-bit (*.jpg)", "TIFF 16 bit (*.tif)"}));
        for (int i = 0; i < types.size(); ++i) {
            dialog.selectMode(ostel::exporting::SaveMode(i + 1));
            QCOMPARE(dialog.qualitySlider()->isEnabled(), i + 1 == int(ostel::exporting::SaveMode::jpeg));
        }
        // A name with an extension of its own is written as typed.
        QTemporaryDir dir;
        dialog.setDirectory(dir.path());
        dialog.selectFile("shot.JPG");
        QVERIFY(dialog.choice().extension_typed);
        dialog.selectFile("shot");
        QVERIFY(!dialog.choice().extension_typed);
        QCOMPARE(dialog.choice().width, 400);
    }

    // Preferences: shown from the settings file, written back on OK, and
    // read again by the next dialog; a stored quality out of range reads 85.
    void preferencesRoundTrip() {
        testing::FrameFixture f;
        f.settings->raw().setValue("Settings/JpegQuality", 150);
        f.settings->raw().setValue("Settings/CNRType", 1);
        testing::answer_modal<OptionsDialog>([](OptionsDialog* d) {
            QCOMPARE(d->windowTitle(), QString("Options"));
            QCOMPARE(d->jpegQuality()->value(), 85);
            QCOMPARE(d->chromaNrType()->currentIndex(), 1);
            d->artifactLevel()->setCurrentIndex(2);
            d->chromaPrefilter()->setChecked(true);
            d->jpegQuality()->setValue(70);
            d->author()->setText(QString::fromUtf8("Zoë Ånström"));
            d->copyright()->setText("(c) 2026");
            d->chromaNrType()->setCurrentIndex(0);
            d->accept();
        });
        f.frame->preferencesCommand();
        f.settings->raw().sync();
        UserSettings reread(f.folder.filePath("settings.ini"));
        const Preferences p = reread.preferences();
        QCOMPARE(p.artifact_level, 2);
        QCOMPARE(p.chroma_prefilter, 1);
        QCOMPARE(p.jpeg_quality, 70);
        QCOMPARE(p.author, QString::fromUtf8("Zoë Ånström"));
        QCOMPARE(p.copyright, QString("(c) 2026"));
        QCOMPARE(p.chroma_nr_type, 0);
        QCOMPARE(p.luma_nr_type, 0);
        // Cancel leaves the file alone.
        testing::answer_modal<OptionsDialog>([](OptionsDialog* d) {
            QCOMPARE(d->artifactLevel()->currentIndex(), 2);
            d->jpegQuality()->setValue(10);
            d->reject();
        });
        f.frame->preferencesCommand();
        QCOMPARE(f.settings->preferences().jpeg_quality, 70);
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
