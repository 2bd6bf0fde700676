#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/dialogs/QtDialogService.h"
#include "res/StringTable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

TEST(ScriptedDialogService, QuestionsTakeScriptedAnswersThenTheSafeDefault) {
    ScriptedDialogService dialogs;
    dialogs.setNextAnswer(MessageAnswer::Yes);
    EXPECT_EQ(dialogs.message(nullptr, "q1", MessageButtons::YesNo, MessageIcon::Question),
              MessageAnswer::Yes);
    EXPECT_EQ(dialogs.message(nullptr, "q2", MessageButtons::YesNo, MessageIcon::Question),
              MessageAnswer::No);
    EXPECT_EQ(dialogs.message(nullptr, "q3", MessageButtons::OkCancel, MessageIcon::Question),
              MessageAnswer::Cancel);
    dialogs.notice(nullptr, "n");
    ASSERT_EQ(dialogs.shown().size(), 4u);
    EXPECT_EQ(dialogs.shown()[3].buttons, MessageButtons::Ok);
    EXPECT_EQ(dialogs.shown()[3].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dialogs.shownTexts(), QStringList({"q1", "q2", "q3", "n"}));
}

TEST(ScriptedDialogService, NoticeDoesNotConsumeAScriptedAnswer) {
    ScriptedDialogService dialogs;
    dialogs.setNextAnswer(MessageAnswer::Ok);
    dialogs.notice(nullptr, "n");
    EXPECT_EQ(dialogs.message(nullptr, "q", MessageButtons::OkCancel, MessageIcon::Question),
              MessageAnswer::Ok);
}

TEST(ScriptedDialogService, FileNamesComeFromTheScriptAndRecordTheRequest) {
    ScriptedDialogService dialogs;
    dialogs.setNextFileName("/tmp/a.bmp");
    FileDialogRequest request;
    request.defaultName = "capture";
    request.defaultSuffix = "bmp";
    EXPECT_EQ(dialogs.saveFileName(nullptr, request), "/tmp/a.bmp");
    EXPECT_EQ(dialogs.lastFileRequest().defaultName, "capture");
    EXPECT_TRUE(dialogs.openFileName(nullptr, request).isEmpty());
    EXPECT_EQ(dialogs.fileDialogCount(), 2);
}

TEST(StringTable, MessagesKeepTheirFramingExactly) {
    EXPECT_EQ(loadString(IDP_PASSWORD_NOT_CORRECT), QString("\n\n Password is not correct! \n\n"));
    EXPECT_EQ(loadString(IDP_LOGIN_ERROR),
              QString("\n\n ** Login Error ** \n\n User name or password invalid.\n\n"));
    EXPECT_EQ(loadString(IDS_APP_TITLE), QString("Dialscope"));
    EXPECT_TRUE(loadString(static_cast<StringId>(1)).isEmpty());
}

// The real service shows a QMessageBox captioned with the application title and
// maps the pressed button back.
TEST(QtDialogService, ShowsTitledBoxAndMapsTheButton) {
    QtDialogService dialogs;
    QString caption;
    QString text;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                caption = box->windowTitle();
                text = box->text();
                box->button(QMessageBox::Yes)->click();
            }
        }
    });
    EXPECT_EQ(dialogs.message(nullptr, "Sure?", MessageButtons::YesNo, MessageIcon::Question),
              MessageAnswer::Yes);
    EXPECT_EQ(caption, "Dialscope");
    EXPECT_EQ(text, "Sure?");
}
