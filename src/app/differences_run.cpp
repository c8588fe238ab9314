#include "app/differences_run.h"

#include <algorithm>

#include "compare/diff_output.h"
#include "model/loader.h"
#include "model/progress.h"
#include "model/registry_errors.h"

namespace qv {

namespace {

bool ContainsIgnoringCase(std::string_view text, const std::string& lowered) {
    if (lowered.empty()) return true;
    const auto it = std::search(text.begin(), text.end(), lowered.begin(), lowered.end(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
    return it != text.end();
}

}  // namespace

CDifferencesRun::~CDifferencesRun() {
    Cancel();
    if (m_thread.joinable()) m_thread.join();
}

void CDifferencesRun::Start(IRegistry& registry, const DiffSide& master, const DiffSide& slave, CIgnoreList ignore) {
    m_ignore = std::move(ignore);
    m_masterName = KeyPathOf(master.node);
    m_slaveName = KeyPathOf(slave.node);
    m_thread = std::thread([this, &registry, master, slave] { Run(registry, master, slave); });
}

bool CDifferencesRun::Finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_finished;
}

const KeyNode* CDifferencesRun::Load(IRegistry& registry, const DiffSide& side, std::unique_ptr<KeyNode>& owned) {
    if (!side.live) return side.node;
    // A chain from a top of our own down to the key, read afresh below it.
    std::vector<const KeyNode*> chain;
    for (const KeyNode* n = side.node; n != nullptr && n->parent != nullptr; n = n->parent) chain.push_back(n);
    owned = std::make_unique<KeyNode>(side.computer);
    KeyNode* node = owned.get();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) node = node->AppendSubkey(std::make_unique<KeyNode>((*it)->name));
    HKEY root = nullptr;
    std::string path;
    PathOf(node, root, path);
    if (root == nullptr) return node;  // the top itself: nothing below it to read
    // Read key by key, counted for the progress display, stopped by Cancel.
    struct CRunProgress : IProgress {
        CDifferencesRun& run;
        explicit CRunProgress(CDifferencesRun& r) : run(r) {}
        bool Step(std::size_t) override {
            ++run.m_keysDone;
            return !run.m_cancel.load(std::memory_order_relaxed);
        }
    } progress(*this);
    LONG status = 0;
    std::unique_ptr<KeyNode> fresh = ReadSubtreeCopy(node, registry, side.computer, root, path, status, &progress);
    if (fresh != nullptr) ReplaceContents(node, std::move(fresh));
    if (status == ERROR_CANCELLED) return nullptr;
    if (status != 0) m_failure = "Can't read the key \"" + KeyPathOf(node) + "\": " + RegistryErrorText(status);
    return node;
}

void CDifferencesRun::Run(IRegistry& registry, DiffSide masterSide, DiffSide slaveSide) {
    const KeyNode* master = Load(registry, masterSide, m_masterOwned);
    const KeyNode* slave = m_cancel ? nullptr : Load(registry, slaveSide, m_slaveOwned);
    if (master != nullptr && slave != nullptr && !m_cancel) {
        DiffOptions options;
        options.ignore = &m_ignore;
        options.masterPath = m_masterName;
        options.names = masterSide.inFile && slaveSide.inFile ? NameMatch::kAnyScript : NameMatch::kAscii;
        options.keyEntered = [this] {
            ++m_keysDone;
            ++m_keysCompared;
            return !m_cancel.load(std::memory_order_relaxed);
        };
        m_keysTotal = CountKeys(*master);
        m_finished = DiffTrees(*master, *slave, options, [this](const Difference& d) {
            // A key only the Master has is passed with all below it.
            if (d.kind == DiffKind::kKeyOnlyInMaster) m_keysCompared += CountKeys(*d.masterKey);
            m_rows.push_back({d.kind, std::string(d.path), std::string(d.slavePath), d.masterKey, d.slaveKey, d.master,
                              d.slave});
            return true;
        });
    }
    m_done = true;
    if (m_onDone) m_onDone();
}

std::array<std::size_t, kDiffKinds> CDifferencesRun::Counts() const {
    std::array<std::size_t, kDiffKinds> counts{};
    for (const DiffRow& r : m_rows) ++counts[static_cast<std::size_t>(r.kind)];
    return counts;
}

std::vector<std::size_t> CDifferencesRun::Filter(unsigned kinds, const std::string& text) const {
    std::string lowered = text;
    for (char& c : lowered) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const DiffRow& r = m_rows[i];
        if ((kinds & (1u << static_cast<unsigned>(r.kind))) == 0) continue;
        const bool hit = ContainsIgnoringCase(r.path, lowered) || ContainsIgnoringCase(r.ValueName(), lowered) ||
                         (r.IsValue() && r.master != nullptr && ContainsIgnoringCase(DataText(r.master->type, r.master->data), lowered)) ||
                         (r.IsValue() && r.slave != nullptr && ContainsIgnoringCase(DataText(r.slave->type, r.slave->data), lowered));
        if (hit) shown.push_back(i);
    }
    return shown;
}

void CDifferencesRun::Remove(std::vector<std::size_t> indices) {
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    for (auto it = indices.rbegin(); it != indices.rend(); ++it)
        if (*it < m_rows.size()) m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(*it));
}

std::string CDifferencesRun::Report() const {
    std::string out;
    for (const DiffRow& r : m_rows) AppendDiffLines(r.View(), m_masterName, m_slaveName, out);
    return out;
}

bool CDifferencesRun::Patch(std::string& bytes, std::string& error) const {
    CPatchBuilder patch(m_slaveName);
    for (const DiffRow& r : m_rows) patch.Add(r.View());
    return WriteRegPatch(patch.Sections(), bytes, error);
}

}  // namespace qv
