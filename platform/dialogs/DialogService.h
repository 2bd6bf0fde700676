#pragma once

// Every message box and file dialog of the program goes through one
// DialogService. The program uses QtDialogService, which shows real modal
// dialogs; tests use ScriptedDialogService, which records what would have been
// shown and answers from a script, so dialogs are tested headless and never
// block.
//
// Message boxes carry the application title as caption. Notices have one OK
// button; questions use Yes/No or OK/Cancel.

#include <QString>
#include <QStringList>

class QWidget;

enum class MessageIcon { None, Exclamation, Question, Warning, Information };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// What a file dialog asks for. `filter` uses Qt's syntax, e.g. "Bitmap file (*.bmp)".
struct FileDialogRequest {
    QString title;
    QString directory;
    QString defaultName;   // e.g. "capture"
    QString defaultSuffix; // e.g. "bmp", appended when the operator types none
    QString filter;
    bool confirmOverwrite = true;
};

class DialogService {
public:
    virtual ~DialogService() = default;

    // Shows a modal message box and returns the button pressed. Closing the box
    // without a button counts as Cancel (OK/Cancel), No (Yes/No) or Ok (notice).
    virtual MessageAnswer message(QWidget* parent, const QString& text, MessageButtons buttons,
                                  MessageIcon icon) = 0;

    // A notice: OK button, exclamation icon.
    void notice(QWidget* parent, const QString& text) {
        message(parent, text, MessageButtons::Ok, MessageIcon::Exclamation);
    }

    // A file name to save to, or an empty string when the operator cancelled.
    virtual QString saveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // A file name to open, or an empty string when the operator cancelled.
    virtual QString openFileName(QWidget* parent, const FileDialogRequest& request) = 0;
};
