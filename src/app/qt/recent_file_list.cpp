#include "app/qt/recent_file_list.h"

namespace qv {

namespace {

const QString kGroup = QStringLiteral("Recent File List");

QString Key(int index) { return QStringLiteral("File%1").arg(index + 1); }

}  // namespace

CRecentFileList::CRecentFileList(QSettings& settings, int size) : m_settings(settings), m_nSize(size) {}

QStringList CRecentFileList::List() const {
    QStringList list;
    m_settings.beginGroup(kGroup);
    for (int i = 0; i < m_nSize; ++i) {
        const QString path = m_settings.value(Key(i)).toString();
        if (!path.isEmpty()) list.append(path);
    }
    m_settings.endGroup();
    return list;
}

void CRecentFileList::Add(const QString& path) {
    if (path.isEmpty()) return;
    QStringList list = List();
    list.removeAll(path);
    list.prepend(path);
    m_settings.beginGroup(kGroup);
    for (int i = 0; i < m_nSize; ++i) {
        if (i < list.size()) m_settings.setValue(Key(i), list[i]);
        else m_settings.remove(Key(i));
    }
    m_settings.endGroup();
}

}  // namespace qv
