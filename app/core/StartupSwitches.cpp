#include "app/core/StartupSwitches.h"

bool splashWanted(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument.size() < 2 ||
            (argument.front() != QLatin1Char('/') && argument.front() != QLatin1Char('-')))
            continue;
        const QString name = argument.mid(1);
        if (name.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}
