// Driving real modal windows from a test: the test queues what to do with the
// next modal window before the code under test opens it, and a watchdog ends
// any modal window nobody answers.
#pragma once

#include <functional>
#include <string>

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace qv::test {

// Runs `action` from the event loop on the next modal window that is up and
// is not `current`; fails the test if none comes up within a few seconds.
void WhenModal(std::function<void(QWidget*)> action, QWidget* current = nullptr);

// Fails the test and ends every modal window still up after `ms`.
class ModalWatchdog {
public:
    explicit ModalWatchdog(int ms = 5000);
    ~ModalWatchdog();
    bool Fired() const { return m_bFired; }

private:
    QTimer m_timer;
    bool m_bFired = false;
};

// The control with template id `id` in a window built by the Qt host.
template <class T>
T* Ctl(QWidget* window, int id) {
    return window->findChild<T*>(QStringLiteral("ctl%1").arg(id));
}

// Types as a user does, replacing what the edit holds.
void Retype(QWidget* edit, const QString& text);
// A left click in the middle of `widget`.
void ClickOn(QWidget* widget);

inline QString Q(const std::string& s) { return QString::fromUtf8(s.c_str()); }

}  // namespace qv::test
