#pragma once

// Gives a clip index that has no post yet one that queues onto the
// application's thread, so catalogs built on the worker reach the dialogs by
// queued calls (see ClipIndex::setPost).

#include "clips/core/ClipIndex.h"

#include <QCoreApplication>
#include <QMetaObject>

inline void ensureQueuedCatalogPost(ClipIndex& index) {
    if (index.hasPost())
        return;
    index.setPost([](std::function<void()> call) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
    });
}
