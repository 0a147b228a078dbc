#pragma once
// The start-up picture with its caption and a progress bar along the
// bottom edge, shown while the main window is being built.
#include <QSplashScreen>

namespace ostel::ui {

class Splash : public QSplashScreen {
    Q_OBJECT
public:
    Splash();
    void setProgress(int percent);
    int progress() const { return progress_; }

protected:
    void drawContents(QPainter* painter) override;

private:
    int progress_ = 0;
};

// The program's picture (window icon and splash), drawn.
QPixmap program_picture(int size);

}  // namespace ostel::ui
