// The user's settings file: defaults for missing values, the acceptance
// rules on reading, the recent-file list.
#include <QTemporaryDir>
#include <QTest>

#include "ui/app/user_settings.h"

using namespace ostel::ui;

class UserSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void missingValuesGiveDefaults() {
        QTemporaryDir folder;
        UserSettings s(folder.filePath("s.ini"));
        const Preferences p = s.preferences();
        QCOMPARE(p.jpeg_quality, 95);
        QCOMPARE(p.artifact_level, 0);
        QCOMPARE(p.chroma_prefilter, 0);
        QVERIFY(p.author.isEmpty());
        QCOMPARE(s.scale(), 50);
        QCOMPARE(s.colourSpace(), -1);
        QCOMPARE(s.spatialCorrection(), -1);
        QVERIFY(s.recentFiles().isEmpty());
    }

    void acceptanceRules_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("quality 150") << "JpegQuality" << 150 << 85;
        QTest::newRow("quality -1") << "JpegQuality" << -1 << 85;
        QTest::newRow("quality 100") << "JpegQuality" << 100 << 100;
        QTest::newRow("quality 0") << "JpegQuality" << 0 << 0;
        QTest::newRow("chrec 4") << "CHRec" << 4 << 4;
        QTest::newRow("chrec 5") << "CHRec" << 5 << 0;
        QTest::newRow("chrec -1") << "CHRec" << -1 << 0;
        QTest::newRow("cpf 2") << "CPF" << 2 << 0;
        QTest::newRow("cpf 1") << "CPF" << 1 << 1;
        QTest::newRow("lnr 1") << "LNRType" << 1 << 0;
        QTest::newRow("cnr 1") << "CNRType" << 1 << 1;
        QTest::newRow("cnr 2") << "CNRType" << 2 << 0;
        QTest::newRow("scale 3") << "Scale" << 3 << 50;
        QTest::newRow("scale 300") << "Scale" << 300 << 50;
        QTest::newRow("scale 0") << "Scale" << 0 << 50;
        QTest::newRow("scale 5") << "Scale" << 5 << 5;
        QTest::newRow("scale 200") << "Scale" << 200 << 200;
    }

    void acceptanceRules() {
        QFETCH(QString, key);
        QFETCH(int, stored);
        QFETCH(int, read);
        QTemporaryDir folder;
        const QString ini = folder.filePath("s.ini");
        {
            QSettings raw(ini, QSettings::IniFormat);
            raw.setValue("Settings/" + key, stored);
        }
        UserSettings s(ini);
        const Preferences p = s.preferences();
        int got = 0;
        if (key == "JpegQuality") got = p.jpeg_quality;
        if (key == "CHRec") got = p.artifact_level;
        if (key == "CPF") got = p.chroma_prefilter;
        if (key == "LNRType") got = p.luma_nr_type;
        if (key == "CNRType") got = p.chroma_nr_type;
        if (key == "Scale") got = s.scale();
        QCOMPARE(got, read);
    }

    void preferencesRoundTrip() {
        QTemporaryDir folder;
        const QString ini = folder.filePath("s.ini");
        Preferences p;
        p.jpeg_quality = 77;
        p.artifact_level = 2;
        p.chroma_prefilter = 1;
        p.chroma_nr_type = 1;
        p.author = QString::fromUtf8("Zoë Ångström");
        p.copyright = "(c) 2026";
        UserSettings(ini).setPreferences(p);
        const Preferences back = UserSettings(ini).preferences();
        QCOMPARE(back.jpeg_quality, 77);
        QCOMPARE(back.artifact_level, 2);
        QCOMPARE(back.chroma_prefilter, 1);
        QCOMPARE(back.chroma_nr_type, 1);
        QCOMPARE(back.author, p.author);
        QCOMPARE(back.copyright, p.copyright);
        // Stored under the sections and names other programs of the family read.
        QSettings raw(ini, QSettings::IniFormat);
        QCOMPARE(raw.value("Settings/JpegQuality").toInt(), 77);
        QCOMPARE(raw.value("Settings/Author").toString(), p.author);
    }

    void recentFilesKeepFourNewestFirst() {
        QTemporaryDir folder;
        UserSettings s(folder.filePath("s.ini"));
        for (const char* f : {"/a.cr2", "/b.nef", "/c.dng", "/d.orf", "/e.raf", "/c.dng"}) s.addRecentFile(f);
        QCOMPARE(s.recentFiles(), (QStringList{"/c.dng", "/e.raf", "/d.orf", "/b.nef"}));
        QSettings raw(folder.filePath("s.ini"), QSettings::IniFormat);
        QCOMPARE(raw.value("Recent File List/File1").toString(), QString("/c.dng"));
        QVERIFY(!raw.contains("Recent File List/File5"));
    }
};

QTEST_MAIN(UserSettingsTest)
#include "user_settings_test.moc"
