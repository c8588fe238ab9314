// Runs a toolkit-free CDialog as a modal QDialog built from its template.
// Controls keep the template's ids as object names "ctl<id>", so code and
// tests can find them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <QPointer>
#include <QRect>
#include <QSize>

#include "framework/dialog.h"

class QButtonGroup;
class QDialog;
class QFont;
class QWidget;

namespace qv {

class CQtDialogHost : public CDialogWindow {
public:
    // `ui` serves everything modal the dialog's code asks for (nested
    // dialogs, file dialogs, messages).
    CQtDialogHost(CDialog& dialog, IModalUI& ui, QWidget* parent = nullptr);
    ~CQtDialogHost() override;

    CQtDialogHost(const CQtDialogHost&) = delete;
    CQtDialogHost& operator=(const CQtDialogHost&) = delete;

    // Builds the window, runs OnInitDialog and the modal loop; returns the
    // code passed to EndDialog. The dialog's m_pWnd is null again afterwards.
    int DoModal();

    // The average character width and the height of `font`, as the dialog
    // manager measures them.
    static QSize BaseUnits(const QFont& font);
    // The base units the last DoModal laid the window out with: those of the
    // dialog's font, made wider where a template text would not fit.
    QSize BaseUnitsInUse() const { return m_base; }
    // A rectangle in dialog units converted to pixels with `base`.
    static QRect DialogToPixels(const QRect& units, QSize base);

    std::string GetDlgItemText(int id) const override;
    void SetDlgItemText(int id, const std::string& text) override;
    int IsDlgButtonChecked(int id) const override;
    void CheckDlgButton(int id, int check) override;
    void EnableDlgItem(int id, bool enable) override;
    bool IsDlgItemEnabled(int id) const override;
    void SetFocusTo(int id) override;
    void EndDialog(int result) override;
    IModalUI& Ui() override { return m_ui; }

private:
    struct Control {
        ControlKind kind;
        int id;
        unsigned style;
        QRect units;  // dialog units
        QWidget* widget;
    };

    void CreateControls();
    // Qt draws wider check marks and Linux fonts run wider than the platform
    // the templates were drawn for; widening the whole layout keeps texts whole.
    QSize FitBaseUnits(QSize fontBase) const;
    void PlaceControls();
    void UpdateRadioTabStops();
    // The control with `id`; null (with a warning) when the template has none.
    const Control* Find(int id) const;
    void OnClicked(int id);
    // Focuses the control at `index` in template order; for a radio button,
    // the checked one of its group.
    void FocusControlAt(std::size_t index);
    void FocusFirstTabStop();

    CDialog& m_dialog;
    IModalUI& m_ui;
    QPointer<QWidget> m_parent;
    QPointer<QDialog> m_window;
    std::vector<Control> m_controls;  // template order
    std::map<int, std::size_t> m_index;  // id -> position in m_controls
    std::map<QWidget*, QButtonGroup*> m_radioGroupOf;
    std::vector<QButtonGroup*> m_tabStopGroups;  // radio groups that take the tab
    QSize m_base;
    bool m_bEnded = false;
    bool m_bFocusSet = false;
    int m_nResult = IDCANCEL;
};

}  // namespace qv
