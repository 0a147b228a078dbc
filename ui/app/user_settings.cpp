#include "ui/app/user_settings.h"

namespace ostel::ui {

namespace {
constexpr const char* kSettings = "Settings";
constexpr const char* kDirectory = "Directory";
constexpr const char* kRecent = "Recent File List";
constexpr const char* kBarState = "BarState";

int outside_becomes(int v, int low, int high, int replacement) { return v < low || v > high ? replacement : v; }
}  // namespace

UserSettings::UserSettings()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "OstelRAW", "OstelRAW")) {}

UserSettings::UserSettings(const QString& ini_path)
    : settings_(std::make_unique<QSettings>(ini_path, QSettings::IniFormat)) {}

int UserSettings::integer(const char* section, const char* key, int fallback) const {
    bool ok = false;
    const int v = settings_->value(QString(section) + "/" + key).toInt(&ok);
    return ok ? v : fallback;
}

Preferences UserSettings::preferences() const {
    Preferences p;
    p.artifact_level = integer(kSettings, "CHRec", 0);
    p.luma_nr_type = integer(kSettings, "LNRType", 0);
    p.chroma_nr_type = integer(kSettings, "CNRType", 0);
    p.chroma_prefilter = integer(kSettings, "CPF", 0);
    p.jpeg_quality = integer(kSettings, "JpegQuality", 95);
    p.author = settings_->value(QString(kSettings) + "/Author").toString();
    p.copyright = settings_->value(QString(kSettings) + "/Copyright").toString();
    // Acceptance rules, in this order.
    p.artifact_level = outside_becomes(p.artifact_level, 0, 4, 0);
    p.luma_nr_type = p.luma_nr_type != 0 ? 0 : p.luma_nr_type;
    p.chroma_nr_type = outside_becomes(p.chroma_nr_type, 0, 1, 0);
    p.chroma_prefilter = outside_becomes(p.chroma_prefilter, 0, 1, 0);
    p.jpeg_quality = outside_becomes(p.jpeg_quality, 0, 100, 85);
    return p;
}

void UserSettings::setPreferences(const Preferences& p) {
    settings_->beginGroup(kSettings);
    settings_->setValue("Author", p.author);
    settings_->setValue("Copyright", p.copyright);
    settings_->setValue("CHRec", p.artifact_level);
    settings_->setValue("LNRType", p.luma_nr_type);
    settings_->setValue("CNRType", p.chroma_nr_type);
    settings_->setValue("JpegQuality", p.jpeg_quality);
    settings_->setValue("CPF", p.chroma_prefilter);
    settings_->endGroup();
}

int UserSettings::scale() const { return outside_becomes(integer(kSettings, "Scale", 50), 5, 200, 50); }
void UserSettings::setScale(int percent) { settings_->setValue(QString(kSettings) + "/Scale", percent); }

int UserSettings::colourSpace() const { return integer(kSettings, "CS", -1); }
int UserSettings::spatialCorrection() const { return integer(kSettings, "ASC", -1); }
void UserSettings::setColourSpace(int index) { settings_->setValue(QString(kSettings) + "/CS", index); }
void UserSettings::setSpatialCorrection(int checked) { settings_->setValue(QString(kSettings) + "/ASC", checked); }

QString UserSettings::openDirectory() const {
    return settings_->value(QString(kDirectory) + "/OpenDirectoryName").toString();
}
void UserSettings::setOpenDirectory(const QString& folder) {
    settings_->setValue(QString(kDirectory) + "/OpenDirectoryName", folder);
}
QString UserSettings::saveDirectory() const {
    return settings_->value(QString(kDirectory) + "/SaveDirectoryName").toString();
}
void UserSettings::setSaveDirectory(const QString& folder) {
    settings_->setValue(QString(kDirectory) + "/SaveDirectoryName", folder);
}

QStringList UserSettings::recentFiles() const {
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString f = settings_->value(QString(kRecent) + "/File" + QString::number(i)).toString();
        if (!f.isEmpty()) files << f;
    }
    return files;
}

void UserSettings::addRecentFile(const QString& path) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString key = QString(kRecent) + "/File" + QString::number(i);
        if (i <= files.size())
            settings_->setValue(key, files[i - 1]);
        else
            settings_->remove(key);
    }
}

QByteArray UserSettings::barState() const { return settings_->value(QString(kBarState) + "/State").toByteArray(); }
void UserSettings::setBarState(const QByteArray& state) { settings_->setValue(QString(kBarState) + "/State", state); }

}  // namespace ostel::ui
