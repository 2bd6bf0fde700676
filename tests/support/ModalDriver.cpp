#include "tests/support/ModalDriver.h"

#include <QApplication>
#include <QPushButton>
#include <gtest/gtest.h>

ModalDriver::ModalDriver() {
    m_timer.setInterval(1);
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start();
}

void ModalDriver::poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog == m_current)
        return;
    m_current = dialog;
    m_seen << QString::fromLatin1(dialog->metaObject()->className());
    if (m_steps.empty()) {
        ADD_FAILURE() << "unexpected modal dialog " << dialog->metaObject()->className();
        dialog->reject();
        return;
    }
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    step(dialog);
}

void clickButton(QWidget* dialog, int id) {
    auto* button = dialog->findChild<QPushButton*>(QStringLiteral("button%1").arg(id));
    ASSERT_NE(button, nullptr) << "button" << id;
    button->click();
}
