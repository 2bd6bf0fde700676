#include "platform/dialogs/ScriptedDialogService.h"

QStringList ScriptedDialogService::shownTexts() const {
    QStringList texts;
    for (const Shown& s : m_shown)
        texts << s.text;
    return texts;
}

void ScriptedDialogService::clear() {
    m_answers.clear();
    m_fileNames.clear();
    m_shown.clear();
    m_fileDialogCount = 0;
}

MessageAnswer ScriptedDialogService::message(QWidget*, const QString& text, MessageButtons buttons,
                                             MessageIcon icon) {
    MessageAnswer answer = MessageAnswer::Ok;
    if (buttons != MessageButtons::Ok) {
        answer = buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
    }
    m_shown.push_back({text, buttons, icon, answer});
    if (m_whileShown)
        m_whileShown();
    return answer;
}

QString ScriptedDialogService::nextFileName(const FileDialogRequest& request) {
    m_lastFileRequest = request;
    ++m_fileDialogCount;
    if (m_fileNames.empty())
        return {};
    QString name = m_fileNames.front();
    m_fileNames.pop_front();
    return name;
}

QString ScriptedDialogService::saveFileName(QWidget*, const FileDialogRequest& request) {
    return nextFileName(request);
}

QString ScriptedDialogService::openFileName(QWidget*, const FileDialogRequest& request) {
    return nextFileName(request);
}
