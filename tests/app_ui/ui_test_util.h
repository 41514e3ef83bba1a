#pragma once
// Helpers for driving modal dialogs from a test: the test queues what to do
// with the next modal dialog and then calls the function that runs it.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Polls until a modal dialog of type T is up, then calls act(dialog), which
// must close it. After two seconds without one the test fails and every modal
// window is closed; a dialog that act leaves open is failed and closed two
// seconds later. So a broken dialog cannot hang the run.
template <class T> void WithNextModal(std::function<void(T*)> act) {
    auto tries = std::make_shared<int>(0);
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        if (auto* dlg = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dlg);
            QPointer<T> still(dlg);
            QTimer::singleShot(2000, [still] {
                if (still && still->isVisible()) {
                    ADD_FAILURE() << "the dialog stayed open";
                    still->reject();
                }
            });
            return;
        }
        if (++*tries > 200) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog of the expected kind appeared";
            while (QWidget* w = QApplication::activeModalWidget()) {
                if (auto* d = qobject_cast<QDialog*>(w))
                    d->reject();
                else
                    w->close();
            }
        }
    });
    timer->start();
}
