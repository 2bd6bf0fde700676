#pragma once

#include "platform/dialogs/DialogService.h"

#include <deque>
#include <functional>
#include <vector>

// A DialogService for tests: nothing is shown. Every message box is recorded,
// and questions are answered from a queue set up in advance; when the queue is
// empty a question gets its negative answer (No or Cancel), the safe default.
// File dialogs return the next scripted file name, or an empty string (cancel).
class ScriptedDialogService final : public DialogService {
public:
    struct Shown {
        QString text;
        MessageButtons buttons;
        MessageIcon icon;
        MessageAnswer answer;
    };

    void setNextAnswer(MessageAnswer answer) { m_answers.push_back(answer); }
    void setNextFileName(const QString& fileName) { m_fileNames.push_back(fileName); }
    // Runs while each message box is "shown", as a real one runs the event
    // loop meanwhile (queued calls may arrive under it).
    void setWhileShown(std::function<void()> whileShown) { m_whileShown = std::move(whileShown); }

    const std::vector<Shown>& shown() const { return m_shown; }
    // Texts of the message boxes shown so far, in order.
    QStringList shownTexts() const;
    // The last file dialog request, for checking default names and filters.
    const FileDialogRequest& lastFileRequest() const { return m_lastFileRequest; }
    int fileDialogCount() const { return m_fileDialogCount; }
    void clear();

    MessageAnswer message(QWidget* parent, const QString& text, MessageButtons buttons,
                          MessageIcon icon) override;
    QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;

private:
    QString nextFileName(const FileDialogRequest& request);

    std::deque<MessageAnswer> m_answers;
    std::deque<QString> m_fileNames;
    std::vector<Shown> m_shown;
    FileDialogRequest m_lastFileRequest;
    int m_fileDialogCount = 0;
    std::function<void()> m_whileShown;
};
