// Polls for the next modal window and runs the queued action on it; ends
// windows nobody answers.
#include "tests/gui/modal_driver.h"

#include <memory>

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QtTest/QTest>

namespace qv::test {

namespace {

// Actions queued by the running test; a new test starts a new generation so
// that nothing left over acts on its windows.
int g_generation = 0;
int g_outstanding = 0;

void Poll(std::function<void(QWidget*)> action, QPointer<QWidget> current, bool hadCurrent, int generation, int tries) {
    if (generation != g_generation) return;
    QWidget* w = QApplication::activeModalWidget();
    if (w != nullptr && w->isVisible() && (!hadCurrent || w != current.data())) {
        --g_outstanding;
        return action(w);
    }
    if (tries > 300) {
        --g_outstanding;
        ADD_FAILURE() << "no modal window came up";
        return;
    }
    QTimer::singleShot(10, [=] { Poll(action, current, hadCurrent, generation, tries + 1); });
}

}  // namespace

void WhenModal(std::function<void(QWidget*)> action, QWidget* current) {
    ++g_outstanding;
    QPointer<QWidget> window(current);
    const int generation = g_generation;
    QTimer::singleShot(0, [=] { Poll(action, window, current != nullptr, generation, 0); });
}

ModalWatchdog::ModalWatchdog(int ms) {
    m_timer.setInterval(ms);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (!m_bFired) ADD_FAILURE() << "a modal window was left unanswered";
        m_bFired = true;
        // done() bypasses the dialog's own Cancel handling, which might refuse.
        for (int i = 0; i < 10 && QApplication::activeModalWidget() != nullptr; ++i) {
            QWidget* w = QApplication::activeModalWidget();
            if (auto* d = qobject_cast<QDialog*>(w)) d->done(QDialog::Rejected);
            else w->hide();
        }
    });
    m_timer.start();
}

ModalWatchdog::~ModalWatchdog() {
    m_timer.stop();
    EXPECT_EQ(g_outstanding, 0) << "a modal window the test waited for never came up";
    g_outstanding = 0;
    ++g_generation;
}

void Retype(QWidget* edit, const QString& text) {
    edit->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(edit)) line->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar ch : text) {
        // QTest only maps ASCII to keys; other characters come as bare text, as from an input method.
        if (ch.unicode() < 0x80) QTest::keyClick(edit, ch.toLatin1());
        else QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void ClickOn(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center()); }

}  // namespace qv::test
