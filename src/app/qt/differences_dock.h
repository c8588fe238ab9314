// The differences list: a dockable table of every difference between the
// selected Master and Slave keys, filled by a background run with a progress
// bar and a Cancel button, filtered by kind and text, each row's Master and
// Slave data side by side and in full below, with the Slave brought
// into line from its rows and the result saved as a report or a .reg patch.
// Its header names the two keys it compared; after every change to the
// Slave it runs again over the same pair.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QDockWidget>
#include <QElapsedTimer>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace qv {

class CDifferencesModel;
class CDifferencesRun;
class CQuorvaneDoc;
class IModalUI;
class IRegistry;

class CDifferencesDock : public QDockWidget {
    Q_OBJECT

public:
    CDifferencesDock(CQuorvaneDoc& doc, IRegistry& registry, IModalUI& ui, QWidget* parent = nullptr);
    ~CDifferencesDock() override;

    // Walks the Slave key against the Master key of the pair the document
    // chooses (the selected keys, asking first when their names differ).
    void Start();
    // The Slave changed: the same pair is run again once the change is over.
    void SlaveChanged();
    // Stops a run and empties the list (the sides are about to change).
    void Clear();
    bool Running() const;
    // The counts by kind, as the header and the status bar show them.
    QString CountsText() const;

signals:
    void countsChanged(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs the pair of keys ("HKEY_...\\path") in the background,
    // and shows the list unless it runs again after a change (`bringUp` false).
    void Run(const std::string& masterKey, const std::string& slaveKey, bool bringUp = true);
    void Rerun();
    void Poll();
    void Refilter();
    void OnRowChanged();
    void Act(bool copy);
    void Save(bool patch);
    std::vector<std::size_t> SelectedRows() const;
    void ShowState();

    CQuorvaneDoc& m_doc;
    IRegistry& m_registry;
    IModalUI& m_ui;
    std::unique_ptr<CDifferencesRun> m_run;
    CDifferencesModel* m_model = nullptr;
    QLabel* m_pair = nullptr;
    QLabel* m_counts = nullptr;
    QComboBox* m_kind = nullptr;
    QLineEdit* m_text = nullptr;
    QTableView* m_table = nullptr;
    QPlainTextEdit* m_details = nullptr;  // the current row in full
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_copy = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_report = nullptr;
    QPushButton* m_patch = nullptr;
    QTimer* m_timer = nullptr;
    bool m_rerunPending = false;
    QElapsedTimer m_clock;          // since the run started
    qint64 m_compareStartMs = -1;   // when its compare began, for the time left
};

}  // namespace qv
