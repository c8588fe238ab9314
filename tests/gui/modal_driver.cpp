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

struct PendingModal {
    std::function<void(QWidget*)> action;
    QPointer<QWidget> current;
    bool hadCurrent;
    int generation;
    int tries = 0;
};

// Actions queued by the running test; a new test starts a new generation so
// that nothing left over acts on its windows.
int g_generation = 0;
int g_outstanding = 0;

void Poll(const std::shared_ptr<PendingModal>& p) {
    if (p->generation != g_generation) return;
    QWidget* w = QApplication::activeModalWidget();
    const bool isNew = w != nullptr && w->isVisible() && (!p->hadCurrent || w != p->current.data());
    if (isNew) {
        --g_outstanding;
        p->action(w);
        return;
    }
    if (++p->tries > 300) {
        --g_outstanding;
        ADD_FAILURE() << "no modal window came up";
        return;
    }
    QTimer::singleShot(10, [p] { Poll(p); });
}

}  // namespace

void WhenModal(std::function<void(QWidget*)> action, QWidget* current) {
    auto pending = std::make_shared<PendingModal>(
        PendingModal{std::move(action), current, current != nullptr, g_generation});
    ++g_outstanding;
    QTimer::singleShot(0, [pending] { Poll(pending); });
}

ModalWatchdog::ModalWatchdog(int ms) {
    m_timer.setInterval(ms);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (!m_bFired) ADD_FAILURE() << "a modal window was left unanswered";
        m_bFired = true;
        // done() bypasses the dialog's own Cancel handling, which might refuse.
        for (int i = 0; i < 10; ++i) {
            QWidget* w = QApplication::activeModalWidget();
            if (w == nullptr) break;
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
