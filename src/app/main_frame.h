// The main window, for now only what opening needs: the File menu, a status
// bar and a text that summarises both sides until the tree panes exist.
#pragma once

#include <QMainWindow>

class QAction;
class QPlainTextEdit;

namespace qv {

class CQuorvaneDoc;
class CQtModalUI;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    // Becomes the owner of `ui`'s modal windows while it exists.
    CMainFrame(CQuorvaneDoc& doc, CQtModalUI& ui, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The Open command: runs the document's Open, then shows the result.
    void OnFileSelect();
    // Rewrites the summary from the document.
    void UpdateSummary();
    // One line per side: kind, name, and whether it has a tree and of how many keys.
    static QString DescribeSides(const CQuorvaneDoc& doc);

    QAction* OpenAction() const { return m_pOpenAction; }
    QPlainTextEdit* Summary() const { return m_pSummary; }

private:
    CQuorvaneDoc& m_doc;
    CQtModalUI& m_ui;
    QAction* m_pOpenAction = nullptr;
    QPlainTextEdit* m_pSummary = nullptr;
};

}  // namespace qv
