// The real modal windows: the save prompt's layout, texts and end codes, and what the file dialogs
// and message boxes of PlatformDialogs are set up with. Each modal window is answered from a timer
// while it runs, as a user would.
#include "app/ModalDialogs.h"

#include "app/DialogLayout.h"
#include "app/DialogTemplate.h"
#include "app/RecorderSettings.h"
#include "app/SavePromptDlg.h"
#include "support/TestData.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace velmar {
namespace {

// Runs `answer` on the modal window that is open once the event loop runs. A window still open
// long after (an answer that did not end it) fails the test and is closed, so nothing hangs.
void WhenModal(std::function<void(QWidget&)> answer) {
    QTimer::singleShot(0, [answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        answer(*modal);
        QTimer::singleShot(10000, modal, [modal] {
            ADD_FAILURE() << "the modal window stayed open";
            while (QWidget* open = QApplication::activeModalWidget()) {
                open->close();
                if (open == modal) {
                    break;
                }
            }
        });
    });
}

QPushButton& PromptButton(QWidget& prompt, ControlId id) {
    return *qobject_cast<QPushButton*>(FindControl(prompt, id));
}

TEST(SavePrompt, HasItsTitleQuestionAndButtonsInPlace) {
    CSavePromptDlg prompt;
    EXPECT_EQ(prompt.windowTitle().toStdString(), "Dialog");
    EXPECT_EQ(prompt.size(), DialogUnitsToPixels({0, 0, 187, 95}, prompt.font()).size());
    QPushButton& yes = PromptButton(prompt, ControlId::PromptYes);
    QPushButton& no = PromptButton(prompt, ControlId::PromptNo);
    EXPECT_EQ(yes.text().toStdString(), "Yes");
    EXPECT_EQ(no.text().toStdString(), "No");
    EXPECT_TRUE(yes.isDefault());
    EXPECT_EQ(yes.geometry(), DialogUnitsToPixels({51, 59, 33, 14}, prompt.font()));
    EXPECT_EQ(no.geometry(), DialogUnitsToPixels({111, 59, 34, 14}, prompt.font()));
    const auto labels = prompt.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text().toStdString(), "Do you want to save the recorded file?");
    EXPECT_TRUE(labels[0]->alignment() & Qt::AlignHCenter);
}

struct PromptAnswer {
    const char* name;
    std::function<void(QWidget&)> answer;
    int code;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const PromptAnswer& c, std::ostream* os) {
    *os << c.name;
}

class SavePromptAnswers : public ::testing::TestWithParam<PromptAnswer> {};

TEST_P(SavePromptAnswers, EndWithTheirCode) {
    CSavePromptDlg prompt;
    WhenModal(GetParam().answer);
    EXPECT_EQ(prompt.exec(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    SavePrompt, SavePromptAnswers,
    ::testing::Values(
        PromptAnswer{"Yes", [](QWidget& w) { PromptButton(w, ControlId::PromptYes).click(); },
                     QDialog::Accepted},
        PromptAnswer{"No", [](QWidget& w) { PromptButton(w, ControlId::PromptNo).click(); },
                     QDialog::Rejected},
        PromptAnswer{"Enter", [](QWidget& w) { QTest::keyClick(&w, Qt::Key_Return); }, QDialog::Accepted},
        PromptAnswer{"Escape", [](QWidget& w) { QTest::keyClick(&w, Qt::Key_Escape); }, QDialog::Rejected},
        PromptAnswer{"CloseBox", [](QWidget& w) { w.close(); }, QDialog::Rejected}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(PlatformDialogs, PromptIsTheSavePromptOwnedByTheWindow) {
    QWidget owner;
    owner.show();
    WhenModal([&](QWidget& modal) {
        EXPECT_NE(qobject_cast<CSavePromptDlg*>(&modal), nullptr);
        EXPECT_EQ(modal.parentWidget(), &owner);
        PromptButton(modal, ControlId::PromptNo).click();
    });
    EXPECT_EQ(PlatformDialogs().runSavePrompt(owner), QDialog::Rejected);
}

TEST(PlatformDialogs, OpenDialogAsksForOneExistingPrmFile) {
    QWidget owner;
    owner.show();
    test::CTempDir dir;
    test::WriteBytes(dir.Path() / "speech.prm", std::vector<std::uint8_t>(36, 0));
    const QString path = QString::fromStdString((dir.Path() / "speech.prm").string());
    WhenModal([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->nameFilters(), QStringList{QString::fromUtf8("Файлы Halvard(*.prm)")});
        EXPECT_EQ(dialog->defaultSuffix().toStdString(), "wav");
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its override
    });
    EXPECT_EQ(PlatformDialogs().chooseOpenFile(owner), std::optional<QString>(path));
}

TEST(PlatformDialogs, SaveDialogAsksBeforeReplacingAndAddsPrm) {
    QWidget owner;
    owner.show();
    WhenModal([&](QWidget& modal) {
        auto* dialog = qobject_cast<QFileDialog*>(&modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->nameFilters(),
                  (QStringList{QStringLiteral("Halvern (*.prm)"), QStringLiteral("WAV audio (*.wav)")}));
        EXPECT_EQ(dialog->defaultSuffix().toStdString(), "prm");
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        // A name typed without an extension gets the one of the kind chosen.
        dialog->selectNameFilter(QStringLiteral("WAV audio (*.wav)"));
        emit dialog->filterSelected(QStringLiteral("WAV audio (*.wav)"));
        EXPECT_EQ(dialog->defaultSuffix().toStdString(), "wav");
        emit dialog->filterSelected(QStringLiteral("Halvern (*.prm)"));
        EXPECT_EQ(dialog->defaultSuffix().toStdString(), "prm");
        dialog->reject();
    });
    EXPECT_EQ(PlatformDialogs().chooseSaveFile(owner), std::nullopt) << "cancelled";
}

TEST(PlatformDialogs, BothFileDialogsStartInTheFolderUsedLast) {
    // Two folders in turn, so that the dialog's own memory of where it was cannot pass for ours.
    const QTemporaryDir first;
    const QTemporaryDir second;
    QWidget owner;
    owner.show();
    for (const QTemporaryDir* used : {&first, &second, &first}) {
        RememberFolderOf(used->filePath(QStringLiteral("talk.prm")));
        for (const bool save : {false, true}) {
            SCOPED_TRACE(::testing::Message() << used->path().toStdString() << (save ? " save" : " open"));
            WhenModal([&](QWidget& modal) {
                auto* dialog = qobject_cast<QFileDialog*>(&modal);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(QDir(dialog->directory()), QDir(used->path()))
                    << dialog->directory().path().toStdString();
                dialog->reject();
            });
            EXPECT_EQ(save ? PlatformDialogs().chooseSaveFile(owner)
                           : PlatformDialogs().chooseOpenFile(owner),
                      std::nullopt);
        }
    }
    QSettings().clear();
}

TEST(PlatformDialogs, MessageBoxShowsTitleTextAndOk) {
    QWidget owner;
    owner.show();
    WhenModal([&](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle().toStdString(), "About");
        EXPECT_EQ(box->text().toStdString(), "one line");
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    PlatformDialogs().showMessage(owner, MessageKind::Plain, QStringLiteral("About"),
                                  QStringLiteral("one line"));
}

} // namespace
} // namespace velmar
