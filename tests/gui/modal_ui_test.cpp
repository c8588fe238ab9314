// The Qt modal UI: message boxes and their answers, the wait cursor, the
// progress window, the file dialog's extension and overwrite rules, and the
// window that shows a value's data.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "framework/qt/qt_modal_ui.h"
#include "tests/gui/modal_driver.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

QMessageBox* AsBox(QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    EXPECT_NE(box, nullptr) << "expected a message box, got " << w->metaObject()->className();
    return box;
}

class QtModalUITest : public ::testing::Test {
protected:
    ModalWatchdog watchdog;
    CQtModalUI ui;
};

TEST_F(QtModalUITest, QuestionsAnswerYesOrNoAnyOtherCloseIsNoAndOkBoxesOk) {
    WhenModal([](QWidget* w) {
        QMessageBox* box = AsBox(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "Quorvane");
        EXPECT_EQ(box->text(), "Delete <Key> & all?");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);  // names are never markup
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Yes));
        ClickOn(box->button(QMessageBox::Yes));
    });
    EXPECT_EQ(ui.MessageBox("Delete <Key> & all?", MB_YESNO | MB_ICONQUESTION), IDYES);

    for (const std::function<void(QWidget*)>& no : std::initializer_list<std::function<void(QWidget*)>>{
             [](QWidget* w) { ClickOn(AsBox(w)->button(QMessageBox::No)); },
             [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }, [](QWidget* w) { w->close(); }}) {
        WhenModal(no);
        EXPECT_EQ(ui.MessageBox("Sure?", MB_YESNO), IDNO);
    }

    WhenModal([](QWidget* w) {
        QMessageBox* box = AsBox(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        w->close();
    });
    EXPECT_EQ(ui.MessageBox("Unable to open Registry.", MB_OK | MB_ICONERROR), IDOK);
}

TEST_F(QtModalUITest, WaitCursorNestsAndGivesWayToModalWindows) {
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ui.BeginWaitCursor();
    ui.BeginWaitCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    Qt::CursorShape shownOverBox = Qt::WaitCursor;
    WhenModal([&](QWidget* w) {
        shownOverBox = QApplication::overrideCursor()->shape();
        w->close();
    });
    ui.MessageBox("Values are different.", MB_OK);
    EXPECT_EQ(shownOverBox, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    ui.EndWaitCursor();
    EXPECT_NE(QApplication::overrideCursor(), nullptr) << "the outer wait is still on";
    ui.EndWaitCursor();
    ui.EndWaitCursor();  // unmatched: must not pop anyone else's cursor
    QApplication::setOverrideCursor(Qt::CrossCursor);
    ui.EndWaitCursor();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    QApplication::restoreOverrideCursor();
}

// Long work: the progress window comes up (here at once), counts the keys,
// and its Cancel makes the next step answer false; nothing of it stays.
TEST_F(QtModalUITest, TheProgressWindowsCancelStopsTheWork) {
    ui.SetProgressDelay(std::chrono::milliseconds(0));
    QString label;
    int maximum = -1, value = -1;
    const auto cancel = [&](QWidget* w) {
        auto* dialog = qobject_cast<QProgressDialog*>(w);
        ASSERT_NE(dialog, nullptr) << w->metaObject()->className();
        label = dialog->labelText();
        maximum = dialog->maximum();
        value = dialog->value();
        dialog->findChild<QPushButton*>()->click();
    };
    WhenModal(cancel);
    std::size_t steps = 0;
    ui.RunWithProgress("Loading HKEY_LOCAL_MACHINE\\SOFTWARE ...", [&](IProgress& progress) {
        while (progress.Step(++steps) && !watchdog.Fired()) {
        }
    });
    EXPECT_FALSE(watchdog.Fired());
    EXPECT_TRUE(label.startsWith("Loading HKEY_LOCAL_MACHINE\\SOFTWARE ...\n")) << label.toStdString();
    EXPECT_TRUE(label.endsWith(" keys read") && maximum == 0) << label.toStdString() << ": a count, a busy bar";
    // Where the whole is known, a fraction.
    WhenModal(cancel);
    ui.RunWithProgress("Reading m.qvf ...", [&](IProgress& progress) {
        while (progress.StepOf(7, 250, 1000) && !watchdog.Fired()) {
        }
    });
    EXPECT_EQ(label.toStdString() + " " + std::to_string(value) + "/" + std::to_string(maximum),
              "Reading m.qvf ...\n25% (7 keys read) 250/1000");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Save adds the extension and asks before replacing only when told to; Open
// starts on "*.qvf" and takes the typed name of a missing file (the command
// that asked says what is wrong with it).
TEST_F(QtModalUITest, FileDialogsAddTheExtensionAndSaveAsksBeforeReplacingOnlyWhenTold) {
    QTemporaryDir temp;
    const fs::path dir = temp.path().toStdString();
    QString shownName;  // what the name field held when the dialog came up
    // Types `name` into the file dialog that comes up and accepts it.
    const auto typeIn = [&](const QString& name, std::function<void(QWidget*)> then = nullptr) {
        WhenModal([&, name, then](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->nameFilters(), QStringList({"qvf (*.qvf)"}));
            dialog->setDirectory(temp.path());
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            shownName = edit->text();
            edit->setText(name);
            if (then) then(w);
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides it; the checks run as on OK
        });
    };
    const auto save = [](bool overwritePrompt) {
        FileDialogRequest r = TreeFileRequest(false);
        r.bOverwritePrompt = overwritePrompt;
        return r;
    };
    typeIn("tree");
    std::string path;
    ASSERT_TRUE(ui.GetFileName(save(true), path));
    EXPECT_EQ(fs::path(path), dir / "tree.qvf");

    std::ofstream(dir / "old.qvf") << "x";
    typeIn("old.qvf");
    ASSERT_TRUE(ui.GetFileName(save(false), path));  // a question would hang until the watchdog
    EXPECT_EQ(fs::path(path), dir / "old.qvf");
    EXPECT_FALSE(watchdog.Fired());

    bool asked = false;
    typeIn("old.qvf", [&asked](QWidget* fileDialog) {
        WhenModal(
            [&asked](QWidget* box) {
                asked = qobject_cast<QMessageBox*>(box) != nullptr;
                if (asked) ClickOn(static_cast<QMessageBox*>(box)->button(QMessageBox::Yes));
            },
            fileDialog);
    });
    path.clear();
    ASSERT_TRUE(ui.GetFileName(save(true), path));
    EXPECT_TRUE(asked);
    EXPECT_EQ(fs::path(path), dir / "old.qvf");

    typeIn("absent");
    ASSERT_TRUE(ui.GetFileName(TreeFileRequest(true), path));
    EXPECT_EQ(shownName, QStringLiteral("*.qvf"));
    EXPECT_EQ(fs::path(path), dir / "absent.qvf");
}

TEST_F(QtModalUITest, TheDataWindowShowsTheTextAndCopiesItOrTheRegLine) {
    DataView view{"Slave Value Data", "HKEY_CURRENT_USER\\k\n<b>    REG_BINARY, 1 byte", "0000  FF  .", "\"<b>\"=hex:ff", ""};
    WhenModal([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Slave Value Data");
        auto* text = w->findChild<QPlainTextEdit*>("dataText");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->toPlainText(), "0000  FF  .");
        EXPECT_TRUE(text->isReadOnly());
        ClickOn(w->findChild<QPushButton*>("copyText"));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "0000  FF  .");
        ClickOn(w->findChild<QPushButton*>("copyReg"));
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "\"<b>\"=hex:ff");
        QTest::keyClick(w, Qt::Key_Escape);
    });
    ui.ShowData(view);
    // A value no .reg file holds cannot be copied as one, and says why.
    view.regLine.clear();
    view.regError = "the value \"a\" has a line break in its name";
    WhenModal([](QWidget* w) {
        auto* copyReg = w->findChild<QPushButton*>("copyReg");
        EXPECT_FALSE(copyReg->isEnabled());
        EXPECT_TRUE(copyReg->toolTip().contains("line break")) << copyReg->toolTip().toStdString();
        w->close();
    });
    ui.ShowData(view);
    EXPECT_FALSE(watchdog.Fired());
}

}  // namespace
}  // namespace qv::test
