// The files opened last, newest first, kept in the program's settings so the
// next run still has them.
#pragma once

#include <QSettings>
#include <QStringList>

namespace qv {

class CRecentFileList {
public:
    // Entries live in `settings` (which must outlive the list) under "Recent File List".
    explicit CRecentFileList(QSettings& settings, int size = 4);

    // Puts `path` first; if already listed it moves up, else the oldest
    // entry beyond the size falls off. Empty paths are ignored.
    void Add(const QString& path);
    // Newest first, at most Size() entries.
    QStringList List() const;
    int Size() const { return m_nSize; }

private:
    QSettings& m_settings;
    int m_nSize;
};

}  // namespace qv
