#include "framework/qt/qt_dialog_host.h"

#include <functional>
#include <utility>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "framework/qt/qt_text.h"

namespace qv {

namespace {

// Rounds as the platform's MulDiv does.
int MulDiv(int value, int mul, int div) {
    const long long p = static_cast<long long>(value) * mul;
    return static_cast<int>(p >= 0 ? (p + div / 2) / div : -((-p + div / 2) / div));
}

// A single "&" marks a mnemonic; "&&" stands for one ampersand.
bool HasMnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&') continue;
        if (text[i + 1] != u'&') return true;
        ++i;
    }
    return false;
}

QString StripMnemonic(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

bool IsFocusable(ControlKind kind) { return kind != ControlKind::Static && kind != ControlKind::GroupBox; }

bool IsButton(ControlKind kind) {
    return kind == ControlKind::RadioButton || kind == ControlKind::CheckBox || kind == ControlKind::PushButton;
}

// The window the host shows. Escape and the close box reach the dialog's code
// as Cancel instead of closing the window, so that code decides.
class DialogWindow : public QDialog {
public:
    DialogWindow(QWidget* parent, std::function<void()> onCancel)
        : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint),
          m_onCancel(std::move(onCancel)) {}

    void reject() override { m_onCancel(); }

    // A group box's mnemonic goes to the control after it, as a static's
    // does; Qt would only look among the box's children, and it has none.
    void AddGroupMnemonic(QGroupBox* box, std::function<void()> focusNext) {
        m_groupTargets.emplace_back(box, std::move(focusNext));
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Shortcut)
            for (const auto& [box, focusNext] : m_groupTargets)
                if (box == watched) {
                    focusNext();
                    return true;
                }
        return QDialog::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onCancel;
    std::vector<std::pair<QObject*, std::function<void()>>> m_groupTargets;
};

}  // namespace

CQtDialogHost::CQtDialogHost(CDialog& dialog, IModalUI& ui, QWidget* parent)
    : m_dialog(dialog), m_ui(ui), m_parent(parent) {}

CQtDialogHost::~CQtDialogHost() {
    if (m_dialog.m_pWnd == this) m_dialog.m_pWnd = nullptr;
    delete m_window.data();
}

QSize CQtDialogHost::BaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int cx = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((cx / 26 + 1) / 2, fm.height());
}

QRect CQtDialogHost::DialogToPixels(const QRect& units, QSize base) {
    return QRect(MulDiv(units.x(), base.width(), 4), MulDiv(units.y(), base.height(), 8),
                 MulDiv(units.width(), base.width(), 4), MulDiv(units.height(), base.height(), 8));
}

int CQtDialogHost::DoModal() {
    // However the run ends, the dialog must not keep a pointer to this window.
    struct ResetWnd {
        CDialog& dialog;
        ~ResetWnd() { dialog.m_pWnd = nullptr; }
    } reset{m_dialog};

    delete m_window.data();
    m_controls.clear();
    m_index.clear();
    m_radioGroupOf.clear();
    m_tabStopGroups.clear();
    m_bEnded = false;
    m_bFocusSet = false;
    m_nResult = IDCANCEL;

    const DialogTemplate& t = m_dialog.GetTemplate();
    auto* window = new DialogWindow(m_parent, [this] { OnClicked(IDCANCEL); });
    m_window = window;
    window->setWindowTitle(QString::fromUtf8(t.caption));
    window->setModal(true);

    CreateControls();
    m_base = FitBaseUnits(BaseUnits(window->font()));
    PlaceControls();

    m_dialog.m_pWnd = this;
    m_dialog.OnInitDialog();
    if (m_bEnded) return m_nResult;  // ended while initialising: never shown
    UpdateRadioTabStops();
    if (!m_bFocusSet) FocusFirstTabStop();

    window->exec();
    return m_bEnded ? m_nResult : IDCANCEL;
}

void CQtDialogHost::CreateControls() {
    auto* window = static_cast<DialogWindow*>(m_window.data());
    QButtonGroup* radioGroup = nullptr;
    QWidget* previousFocusable = nullptr;
    std::vector<QLabel*> pendingLabels;  // mnemonics waiting for the next focusable control
    std::vector<QGroupBox*> pendingBoxes;

    for (const ControlTemplate& c : m_dialog.GetTemplate().controls) {
        const QString text = QString::fromUtf8(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(window);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(((c.style & csCenter) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
            label->setText(text);
            if (HasMnemonic(text)) pendingLabels.push_back(label);
            w = label;
            break;
        }
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(text, window);
            if (HasMnemonic(text)) pendingBoxes.push_back(box);
            w = box;
            break;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(text, window);
            if (radioGroup == nullptr || (c.style & csGroup)) {
                radioGroup = new QButtonGroup(window);
                if (c.style & csTabStop) m_tabStopGroups.push_back(radioGroup);
            }
            radioGroup->addButton(radio);
            m_radioGroupOf[radio] = radioGroup;
            w = radio;
            break;
        }
        case ControlKind::CheckBox: w = new QCheckBox(text, window); break;
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(window);
            edit->setFrame((c.style & csBorder) != 0);
            edit->setReadOnly((c.style & csReadOnly) != 0);
            if (c.style & csPassword) edit->setEchoMode(QLineEdit::Password);
            w = edit;
            break;
        }
        case ControlKind::PushButton: {
            auto* button = new QPushButton(text, window);
            button->setAutoDefault(true);  // a focused button takes Enter, as on the platform
            if (c.style & csDefault) button->setDefault(true);
            w = button;
            break;
        }
        }
        if (c.kind != ControlKind::RadioButton) radioGroup = nullptr;
        w->setObjectName(QStringLiteral("ctl%1").arg(c.id));

        const std::size_t index = m_controls.size();
        if (IsFocusable(c.kind)) {
            // Radio buttons get their tab stops once their check states are known.
            const bool tabStop = (c.style & csTabStop) != 0 && c.kind != ControlKind::RadioButton;
            w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
            if (previousFocusable != nullptr) QWidget::setTabOrder(previousFocusable, w);
            previousFocusable = w;
            for (QLabel* label : pendingLabels) label->setBuddy(w);
            pendingLabels.clear();
            for (QGroupBox* box : pendingBoxes)
                window->AddGroupMnemonic(box, [this, index] { FocusControlAt(index); });
            pendingBoxes.clear();
        } else {
            w->setFocusPolicy(Qt::NoFocus);
        }
        if (IsButton(c.kind)) {
            const int id = c.id;
            QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, window,
                             [this, id] { OnClicked(id); });
        }
        m_controls.push_back(Control{c.kind, c.id, c.style, QRect(c.x, c.y, c.cx, c.cy), w});
        if (c.id != -1) m_index.emplace(c.id, index);
    }
    // A mnemonic with no control after it to go to is shown as plain text.
    for (QLabel* label : pendingLabels) label->setText(StripMnemonic(label->text()));
    for (QGroupBox* box : pendingBoxes) box->setTitle(StripMnemonic(box->title()));
}

QSize CQtDialogHost::FitBaseUnits(QSize fontBase) const {
    const QFontMetrics fm(m_window->font());
    int baseX = fontBase.width();
    for (const Control& c : m_controls) {
        if (c.units.width() <= 0) continue;
        int need = 0;
        switch (c.kind) {
        case ControlKind::Static:
            // Only one-line texts; longer ones wrap inside their rectangle.
            if (MulDiv(c.units.height(), fontBase.height(), 8) < 2 * fm.height())
                need = fm.horizontalAdvance(static_cast<QLabel*>(c.widget)->buddy() != nullptr
                                                ? StripMnemonic(static_cast<QLabel*>(c.widget)->text())
                                                : static_cast<QLabel*>(c.widget)->text());
            break;
        case ControlKind::GroupBox:
            need = fm.horizontalAdvance(StripMnemonic(static_cast<QGroupBox*>(c.widget)->title())) +
                   2 * fm.averageCharWidth();
            break;
        case ControlKind::RadioButton:
        case ControlKind::CheckBox: need = c.widget->sizeHint().width(); break;
        case ControlKind::PushButton:
            need = fm.horizontalAdvance(StripMnemonic(static_cast<QPushButton*>(c.widget)->text())) + 4;
            break;
        case ControlKind::Edit: break;
        }
        // Never more than double: a text that long was not meant to fit.
        while (MulDiv(c.units.width(), baseX, 4) < need && baseX < 2 * fontBase.width()) ++baseX;
    }
    return QSize(baseX, fontBase.height());
}

void CQtDialogHost::PlaceControls() {
    const DialogTemplate& t = m_dialog.GetTemplate();
    for (const Control& c : m_controls) c.widget->setGeometry(DialogToPixels(c.units, m_base));
    const QRect client = DialogToPixels(QRect(t.x, t.y, t.cx, t.cy), m_base);
    m_window->setFixedSize(client.size());
    // A template position is relative to the owner's client area.
    if (t.x != 0 || t.y != 0)
        m_window->move(m_parent ? m_parent->mapToGlobal(client.topLeft()) : client.topLeft());
}

// As on the platform, Tab enters a radio group at its checked button (the
// first when none is). Qt moves the stop along as the focus moves within
// the group; this sets it where the group starts out.
void CQtDialogHost::UpdateRadioTabStops() {
    for (QButtonGroup* group : m_tabStopGroups) {
        const QList<QAbstractButton*> buttons = group->buttons();
        if (buttons.isEmpty()) continue;
        QAbstractButton* stop = group->checkedButton() ? group->checkedButton() : buttons.first();
        for (QAbstractButton* b : buttons)
            b->setFocusPolicy(b == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

const CQtDialogHost::Control* CQtDialogHost::Find(int id) const {
    const auto it = m_index.find(id);
    if (it == m_index.end() || m_window.isNull()) {
        qWarning("dialog %u has no control %d", m_dialog.GetTemplateId(), id);
        return nullptr;
    }
    return &m_controls[it->second];
}

void CQtDialogHost::OnClicked(int id) {
    // Clicks still queued after the end belong to no running dialog.
    if (m_bEnded || m_dialog.m_pWnd != this) return;
    m_dialog.OnCommand(id);
}

void CQtDialogHost::FocusControlAt(std::size_t index) {
    if (index >= m_controls.size()) return;
    QWidget* w = m_controls[index].widget;
    if (const auto it = m_radioGroupOf.find(w); it != m_radioGroupOf.end() && it->second->checkedButton())
        w = it->second->checkedButton();
    w->setFocus(Qt::ShortcutFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
}

void CQtDialogHost::FocusFirstTabStop() {
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        const Control& c = m_controls[i];
        if (IsFocusable(c.kind) && (c.style & csTabStop) && c.widget->isEnabledTo(m_window)) {
            FocusControlAt(i);
            return;
        }
    }
}

std::string CQtDialogHost::GetDlgItemText(int id) const {
    const Control* c = Find(id);
    if (c == nullptr) return {};
    switch (c->kind) {
    case ControlKind::Static: return ToUtf8(static_cast<QLabel*>(c->widget)->text());
    case ControlKind::GroupBox: return ToUtf8(static_cast<QGroupBox*>(c->widget)->title());
    case ControlKind::Edit: return ToUtf8(static_cast<QLineEdit*>(c->widget)->text());
    default: return ToUtf8(static_cast<QAbstractButton*>(c->widget)->text());
    }
}

void CQtDialogHost::SetDlgItemText(int id, const std::string& text) {
    const Control* c = Find(id);
    if (c == nullptr) return;
    const QString q = FromUtf8(text);
    switch (c->kind) {
    case ControlKind::Static: static_cast<QLabel*>(c->widget)->setText(q); break;
    case ControlKind::GroupBox: static_cast<QGroupBox*>(c->widget)->setTitle(q); break;
    case ControlKind::Edit: {
        auto* edit = static_cast<QLineEdit*>(c->widget);
        edit->setText(q);
        edit->setCursorPosition(0);  // a long path shows its start, as on the platform
        break;
    }
    default: static_cast<QAbstractButton*>(c->widget)->setText(q); break;
    }
}

int CQtDialogHost::IsDlgButtonChecked(int id) const {
    const Control* c = Find(id);
    if (c == nullptr || (c->kind != ControlKind::RadioButton && c->kind != ControlKind::CheckBox)) return 0;
    return static_cast<QAbstractButton*>(c->widget)->isChecked() ? 1 : 0;
}

void CQtDialogHost::CheckDlgButton(int id, int check) {
    const Control* c = Find(id);
    if (c == nullptr || (c->kind != ControlKind::RadioButton && c->kind != ControlKind::CheckBox)) return;
    auto* button = static_cast<QAbstractButton*>(c->widget);
    const auto group = m_radioGroupOf.find(button);
    if (check == 0 && group != m_radioGroupOf.end() && button->isChecked()) {
        // An exclusive group refuses to lose its checked button; the
        // platform allows a group with none checked.
        group->second->setExclusive(false);
        button->setChecked(false);
        group->second->setExclusive(true);
    } else {
        button->setChecked(check != 0);
    }
    if (group != m_radioGroupOf.end()) UpdateRadioTabStops();
}

void CQtDialogHost::EnableDlgItem(int id, bool enable) {
    if (const Control* c = Find(id)) c->widget->setEnabled(enable);
}

bool CQtDialogHost::IsDlgItemEnabled(int id) const {
    const Control* c = Find(id);
    return c != nullptr && c->widget->isEnabledTo(m_window);
}

void CQtDialogHost::SetFocusTo(int id) {
    const auto it = m_index.find(id);
    if (it == m_index.end()) {
        Find(id);  // warns
        return;
    }
    m_bFocusSet = true;
    QWidget* w = m_controls[it->second].widget;
    w->setFocus(Qt::OtherFocusReason);
    // A refused entry is selected so that typing replaces it.
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
}

void CQtDialogHost::EndDialog(int result) {
    if (m_bEnded) return;
    m_bEnded = true;
    m_nResult = result;
    if (m_window && m_window->isVisible()) m_window->done(result);
}

}  // namespace qv
