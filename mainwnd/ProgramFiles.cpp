#include "mainwnd/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QStringList programFileFolders() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    QStringList folders{exeDir};
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders.append(QDir(data).filePath(QStringLiteral("dialscope")));
    folders.append(QDir::cleanPath(exeDir + QStringLiteral("/../share/dialscope")));
    return folders;
}

QString findProgramFile(const QString& name, const QStringList& folders) {
    for (const QString& folder : folders) {
        const QFileInfo info(QDir(folder), name);
        if (info.isFile())
            return info.absoluteFilePath();
    }
    return {};
}
