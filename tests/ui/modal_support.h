#pragma once
// Answers the next modal dialog of type T as a user would: waits until it
// is the active modal widget, then runs `act` on it (which accepts or
// rejects it).
#include <QApplication>
#include <QTimer>
#include <functional>

namespace ostel::ui::testing {

template <class T>
void answer_modal(std::function<void(T*)> act, int timeout_ms = 20000) {
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act, waited, timeout_ms] {
        *waited += 10;
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        } else if (*waited > timeout_ms) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

}  // namespace ostel::ui::testing
