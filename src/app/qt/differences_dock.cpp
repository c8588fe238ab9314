#include "app/qt/differences_dock.h"

#include "app/qt/main_frame.h"

#include <algorithm>

#include <QAbstractTableModel>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "app/differences_run.h"
#include "app/frame_commands.h"
#include "app/quorvane_doc.h"
#include "compare/data_text.h"
#include "compare/diff_output.h"
#include "files/stdio_file.h"
#include "framework/modal_ui.h"
#include "framework/qt/qt_text.h"
#include "model/progress.h"

namespace qv {

namespace {

constexpr unsigned kAllKinds = (1u << kDiffKinds) - 1;

QString ValueText(const ValueEntry* v) {
    if (v == nullptr) return {};
    return FromUtf8(TypeName(v->type) + "  " + DataText(v->type, v->data));
}

QString DataTipText(const ValueEntry* v, const EnvironmentLookup& env) {
    if (v == nullptr) return {};
    // In a fixed font, so hex dumps keep their columns.
    const std::string tip = TypeAndSize(v->type, v->data.size()) + '\n' + DataTip(v->type, v->data, env);
    return QStringLiteral("<pre>%1</pre>").arg(FromUtf8(tip).toHtmlEscaped());
}

std::string JoinKey(const std::string& key, const std::string& path) { return path.empty() ? key : key + '\\' + path; }

// What the row's details show: the keys in full and, for a value, both data in full.
std::string DetailsText(const DiffRow& r, const std::string& masterName, const std::string& slaveName,
                        const EnvironmentLookup& env) {
    std::string out = std::string(DiffKindName(r.kind)) + '\n';
    if (r.IsValue()) {
        out += "Value: " + DisplayName(r.ValueName());
        if (r.kind == DiffKind::kNameCase) out += "  (Slave: " + DisplayName(r.slave->Name()) + ")";
        out += '\n';
    }
    if (r.masterKey != nullptr) out += "Master key: " + JoinKey(masterName, r.path) + '\n';
    if (r.slaveKey != nullptr) out += "Slave key:  " + JoinKey(slaveName, r.slavePath) + '\n';
    if (r.IsValue()) out += '\n' + BothSidesText(r.master, r.slave, env);
    return out;
}

}  // namespace

// The table over the rows a filter lets through.
class CDifferencesModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void Reset(const CDifferencesRun* run, std::vector<std::size_t> shown) {
        beginResetModel();
        m_run = run;
        m_shown = std::move(shown);
        endResetModel();
    }
    std::size_t RowIndex(int row) const { return m_shown.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 5; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const kTitles[] = {"Kind", "Key", "Value", "Master", "Slave"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5) return {};
        return QString::fromLatin1(kTitles[section]);
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (m_run == nullptr || !index.isValid()) return {};
        if (role == Qt::ToolTipRole) return Tip(index);
        if (role != Qt::DisplayRole) return {};
        const DiffRow& r = m_run->Rows().at(RowIndex(index.row()));
        switch (index.column()) {
        case 0: return QString::fromLatin1(DiffKindName(r.kind));
        case 1: {
            const bool slave = r.kind == DiffKind::kKeyOnlyInSlave;
            const std::string& key = slave ? m_run->SlaveName() : m_run->MasterName();
            const std::string& path = slave ? r.slavePath : r.path;
            std::string text = path.empty() ? key : key + '\\' + path;
            if (r.kind == DiffKind::kNameCase && !r.IsValue()) text += "  (Slave: " + LeafName(r.slavePath) + ")";
            return FromUtf8(text);
        }
        case 2: {
            if (!r.IsValue()) return QString();
            std::string text = DisplayName(r.ValueName());
            if (r.kind == DiffKind::kNameCase) text += "  (Slave: " + std::string(r.slave->Name()) + ")";
            return FromUtf8(text);
        }
        case 3: return r.IsValue() ? ValueText(r.master) : QString();
        default: return r.IsValue() ? ValueText(r.slave) : QString();
        }
    }

private:
    // The whole of a cell elided in the middle; the data read in full (shortened when huge).
    QVariant Tip(const QModelIndex& index) const {
        const DiffRow& r = m_run->Rows().at(RowIndex(index.row()));
        switch (index.column()) {
        case 0: return {};
        case 3: return r.IsValue() ? DataTipText(r.master, m_environment) : QVariant();
        case 4: return r.IsValue() ? DataTipText(r.slave, m_environment) : QVariant();
        default: {
            const QString text = data(index, Qt::DisplayRole).toString();
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        }
    }

    const CDifferencesRun* m_run = nullptr;
    std::vector<std::size_t> m_shown;
    EnvironmentLookup m_environment = ProcessEnvironment();
};

CDifferencesDock::CDifferencesDock(CQuorvaneDoc& doc, IRegistry& registry, IModalUI& ui, QWidget* parent)
    : QDockWidget(QStringLiteral("Differences"), parent), m_doc(doc), m_registry(registry), m_ui(ui) {
    setObjectName(QStringLiteral("differencesDock"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);

    m_pair = new QLabel(body);
    m_pair->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pair->setWordWrap(true);
    layout->addWidget(m_pair);
    auto* top = new QHBoxLayout;
    m_counts = new QLabel(body);
    m_kind = new QComboBox(body);
    m_kind->addItem(QStringLiteral("All kinds"), kAllKinds);
    for (std::size_t k = 0; k < kDiffKinds; ++k)
        m_kind->addItem(QString::fromLatin1(DiffKindName(static_cast<DiffKind>(k))), 1u << k);
    m_text = new QLineEdit(body);
    m_text->setPlaceholderText(QStringLiteral("Filter by key, value or data"));
    m_text->setClearButtonEnabled(true);
    m_text->installEventFilter(this);
    top->addWidget(m_counts, 1);
    top->addWidget(m_kind);
    top->addWidget(m_text, 1);
    layout->addLayout(top);

    m_model = new CDifferencesModel(this);
    m_table = new QTableView(body);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);  // both ends of a key path or of data say the most
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    // Key, Master and Slave share the width the window has: no column pushes another off screen.
    QHeaderView* head = m_table->horizontalHeader();
    head->setStretchLastSection(false);
    head->setResizeContentsPrecision(200);  // long lists: look at the first rows only
    head->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    for (int column : {1, 3, 4}) head->setSectionResizeMode(column, QHeaderView::Stretch);
    m_details = new QPlainTextEdit(body);
    m_details->setObjectName(QStringLiteral("differenceDetails"));
    m_details->setReadOnly(true);
    m_details->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_details->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_details->setPlaceholderText(QStringLiteral("The selected difference in full"));
    // The divider goes by the stretch factors alone, not by the text area's wish for a lot of room.
    m_details->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    m_table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    auto* split = new QSplitter(Qt::Vertical, body);
    split->setChildrenCollapsible(false);
    split->addWidget(m_table);
    split->addWidget(m_details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    m_progress = new QProgressBar(body);
    m_progress->setRange(0, 0);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), body);
    m_copy = new QPushButton(QStringLiteral("Copy to Slave"), body);
    m_delete = new QPushButton(QStringLiteral("Delete from Slave"), body);
    m_report = new QPushButton(QStringLiteral("Save Report..."), body);
    m_patch = new QPushButton(QStringLiteral("Save Patch..."), body);
    bottom->addWidget(m_progress, 1);
    bottom->addWidget(m_cancel);
    bottom->addStretch();
    for (QPushButton* b : {m_copy, m_delete, m_report, m_patch}) bottom->addWidget(b);
    layout->addLayout(bottom);
    setWidget(body);

    m_timer = new QTimer(this);
    m_timer->setInterval(50);
    connect(m_timer, &QTimer::timeout, this, &CDifferencesDock::Poll);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_run) m_run->Cancel();
    });
    connect(m_kind, &QComboBox::currentIndexChanged, this, &CDifferencesDock::Refilter);
    connect(m_text, &QLineEdit::textChanged, this, &CDifferencesDock::Refilter);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &CDifferencesDock::OnRowChanged);
    connect(m_copy, &QPushButton::clicked, this, [this] { Act(true); });
    connect(m_delete, &QPushButton::clicked, this, [this] { Act(false); });
    connect(m_report, &QPushButton::clicked, this, [this] { Save(false); });
    connect(m_patch, &QPushButton::clicked, this, [this] { Save(true); });
    ShowState();
}

CDifferencesDock::~CDifferencesDock() { Clear(); }

bool CDifferencesDock::eventFilter(QObject* watched, QEvent* event) {
    // Undo's key is the program's Undo here too: the filter field would
    // otherwise keep it for its own typing, even with nothing to take back.
    if (watched == m_text && event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Undo)) {
        event->ignore();
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}

// From Start until Poll has taken the run's rows: the thread may have ended
// a moment before its rows are shown.
bool CDifferencesDock::Running() const { return m_run && m_timer->isActive(); }

void CDifferencesDock::Clear() {
    m_timer->stop();
    m_model->Reset(nullptr, {});
    m_details->clear();
    m_run.reset();  // cancels and waits
    m_counts->clear();
    ShowState();
}

void CDifferencesDock::Start() {
    std::string masterKey, slaveKey;
    if (!m_doc.ChooseDifferencesPair(masterKey, slaveKey)) return;
    Run(masterKey, slaveKey);
}

void CDifferencesDock::SlaveChanged() {
    if (!m_run || m_rerunPending) return;
    // A list the user closed is not brought back: its rows go, and the next
    // Differences runs afresh.
    if (isHidden()) {
        Clear();
        return;
    }
    // After the command that changed it, not in its middle.
    m_rerunPending = true;
    QTimer::singleShot(0, this, &CDifferencesDock::Rerun);
}

void CDifferencesDock::Rerun() {
    m_rerunPending = false;
    if (!m_run) return;
    const std::string masterKey = m_run->MasterName(), slaveKey = m_run->SlaveName();
    Run(masterKey, slaveKey, false);
}

void CDifferencesDock::Run(const std::string& masterKey, const std::string& slaveKey, bool bringUp) {
    CIgnoreList ignore;
    if (!m_doc.LoadIgnoreList(ignore)) return;
    Clear();
    const KeyNode* masterNode = m_doc.FindSideKey(0, masterKey);
    const KeyNode* slaveNode = masterNode != nullptr ? m_doc.FindSideKey(1, slaveKey) : nullptr;
    if (masterNode == nullptr || slaveNode == nullptr) {
        m_counts->setText(FromUtf8("The key " + (masterNode == nullptr ? masterKey : slaveKey) +
                                   " is no longer there: select a key on each side and choose Search > Differences."));
        return;
    }
    auto inFile = [](int kind) { return kind == kSourceFile || kind == kSourceRegistryFile; };
    m_run = std::make_unique<CDifferencesRun>();
    const DiffSide masterSide{masterNode, IsLiveKind(m_doc.m_nMasterKind), m_doc.m_strMaster, inFile(m_doc.m_nMasterKind)};
    const DiffSide slaveSide{slaveNode, IsLiveKind(m_doc.m_nSlaveKind), m_doc.m_strSlave, inFile(m_doc.m_nSlaveKind)};
    m_run->Start(m_registry, masterSide, slaveSide, std::move(ignore));
    m_clock.start();
    m_compareStartMs = -1;
    m_progress->setRange(0, 0);
    m_pair->setText(FromUtf8("Master: " + m_run->MasterName() + "\nSlave:  " + m_run->SlaveName()));
    if (bringUp) {
        show();
        raise();
    }
    m_timer->start();
    ShowState();
}

void CDifferencesDock::Poll() {
    if (!m_run) return;
    if (m_run->Running()) {
        // Reading a live side: a count; comparing: how far through the Master's keys.
        const std::size_t total = m_run->KeysToCompare(), done = std::min(m_run->KeysCompared(), total);
        if (total > 0 && m_compareStartMs < 0) m_compareStartMs = m_clock.elapsed();
        const double seconds = total > 0 ? static_cast<double>(m_clock.elapsed() - m_compareStartMs) / 1000 : 0;
        m_counts->setText(QStringLiteral("Comparing: ") + FromUtf8(ProgressText(m_run->KeysDone(), done, total, seconds)));
        m_progress->setRange(0, total > 0 ? 1000 : 0);
        if (total > 0) m_progress->setValue(static_cast<int>(done * 1000 / total));
        return;
    }
    m_timer->stop();
    const bool whole = m_run->Finish();
    if (!m_run->Failure().empty()) m_ui.MessageBox(m_run->Failure(), MB_OK | MB_ICONWARNING);
    Refilter();
    if (!whole) m_counts->setText(m_counts->text() + QStringLiteral(" (cancelled: the list is incomplete)"));
}

QString CDifferencesDock::CountsText() const {
    if (!m_run || Running()) return {};
    const auto counts = m_run->Counts();
    std::size_t total = 0;
    QString parts;
    for (std::size_t k = 0; k < kDiffKinds; ++k) {
        total += counts[k];
        if (counts[k] == 0) continue;
        if (!parts.isEmpty()) parts += QStringLiteral(", ");
        parts += QStringLiteral("%1 %2").arg(counts[k]).arg(QString::fromLatin1(DiffKindName(static_cast<DiffKind>(k))));
    }
    return total == 0 ? QStringLiteral("No differences")
                      : QStringLiteral("%1 difference(s): %2").arg(total).arg(parts);
}

void CDifferencesDock::Refilter() {
    if (!m_run || Running()) return;
    const unsigned kinds = m_kind->currentData().toUInt();
    m_model->Reset(m_run.get(), m_run->Filter(kinds, ToUtf8(m_text->text())));
    m_details->clear();
    // Value names take what they need, up to a sixth of the list.
    m_table->resizeColumnToContents(2);
    m_table->setColumnWidth(2, std::min(m_table->columnWidth(2), m_table->viewport()->width() / 6));
    const QString counts = CountsText();
    m_counts->setText(counts);
    emit countsChanged(counts);
    ShowState();
}

void CDifferencesDock::OnRowChanged() {
    const QModelIndex current = m_table->currentIndex();
    if (!m_run || Running() || !current.isValid()) return;
    const DiffRow& row = m_run->Rows().at(m_model->RowIndex(current.row()));
    m_details->setPlainText(FromUtf8(DetailsText(row, m_run->MasterName(), m_run->SlaveName(), ProcessEnvironment())));
    m_doc.RevealDifference(row, m_run->MasterName(), m_run->SlaveName());
}

std::vector<std::size_t> CDifferencesDock::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows()) rows.push_back(m_model->RowIndex(index.row()));
    return rows;
}

void CDifferencesDock::Act(bool copy) {
    if (!m_run || Running()) return;
    ActOnDifferenceRows(m_doc, m_run, SelectedRows(), copy);
    if (m_run) Refilter();
}

void CDifferencesDock::Save(bool patch) {
    if (m_run && !Running()) SaveDifferences(m_ui, *m_run, patch);
}

void CDifferencesDock::ShowState() {
    const bool running = Running();
    const bool rows = m_run && !running && !m_run->Rows().empty();
    m_progress->setVisible(running);
    m_cancel->setVisible(running);
    m_copy->setEnabled(rows);
    m_delete->setEnabled(rows);
    m_report->setEnabled(m_run && !running);
    m_patch->setEnabled(m_run && !running);
    if (!m_run && m_counts->text().isEmpty())
        m_counts->setText(QStringLiteral("Select a key on each side and choose Search > Differences."));
    if (!m_run) m_pair->clear();
}

void EditIgnoreList(IModalUI& ui, QWidget* parent) {
    const std::string path = DefaultIgnoreListPath();
    if (path.empty()) {
        ui.MessageBox("There is no settings folder (set HOME or XDG_CONFIG_HOME).", MB_OK | MB_ICONERROR);
        return;
    }
    CIgnoreList list;
    std::string error;
    if (!list.Load(path, error)) ui.MessageBox(error, MB_OK | MB_ICONWARNING);
    std::string text = list.Text();
    for (;;) {
        bool ok = false;
        const QString edited = QInputDialog::getMultiLineText(
            parent, QStringLiteral("Ignore List"),
            QStringLiteral("Left out of every compare, one per line: \"key PATTERN\" or \"value PATTERN\"\n"
                           "(* and ? as wildcards, case ignored; a value pattern without a backslash\n"
                           "names values anywhere). Kept in %1.").arg(FromUtf8(path)),
            FromUtf8(text), &ok);
        if (!ok) return;
        text = ToUtf8(edited);
        if (!list.Parse(text, error)) {
            ui.MessageBox("The ignore list was not kept: " + error + ".", MB_OK | MB_ICONERROR);
            continue;
        }
        if (!list.Save(path, error)) ui.MessageBox(error, MB_OK | MB_ICONERROR);
        return;
    }
}

}  // namespace qv
