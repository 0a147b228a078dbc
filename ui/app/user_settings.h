#pragma once
// The user's own settings (not those of one picture): preferences, preview
// scale, last folders, recent files and the bar layout, in an INI file in
// the user's config folder. Values read back go through the acceptance
// rules below; a missing value gives its default.
#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

namespace ostel::ui {

struct Preferences {
    int jpeg_quality = 95;
    int artifact_level = 0;  // "CHRec", a level index
    int chroma_prefilter = 0;
    int luma_nr_type = 0;
    int chroma_nr_type = 0;
    QString author, copyright;
};

class UserSettings {
public:
    // The user's settings file ("OstelRAW/OstelRAW.ini" in the config folder).
    UserSettings();
    // A given INI file (tests).
    explicit UserSettings(const QString& ini_path);

    Preferences preferences() const;
    void setPreferences(const Preferences& p);

    // Preview scale in per cent.
    int scale() const;
    void setScale(int percent);

    // Open dialog's colour space (-1 none) and spatial correction (-1 none).
    int colourSpace() const;
    int spatialCorrection() const;
    void setColourSpace(int index);
    void setSpatialCorrection(int checked);

    QString openDirectory() const;
    void setOpenDirectory(const QString& folder);
    QString saveDirectory() const;
    void setSaveDirectory(const QString& folder);

    // Up to four recent files, newest first.
    static constexpr int kRecentFiles = 4;
    QStringList recentFiles() const;
    void addRecentFile(const QString& path);

    // The docking layout as the main window saves it.
    QByteArray barState() const;
    void setBarState(const QByteArray& state);

    QSettings& raw() { return *settings_; }

private:
    int integer(const char* section, const char* key, int fallback) const;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace ostel::ui
