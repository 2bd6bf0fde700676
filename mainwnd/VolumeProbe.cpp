#include "mainwnd/VolumeProbe.h"

#include "app/core/AppStore.h"
#include "app/core/RecordVolume.h"

#include <QObject>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

struct VolumeProbe::Shared {
    struct Pending {
        std::string folder;
        std::function<void(const Reading&)> done;
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Pending> pending;
    bool stopping = false;
    bool busy = false;
    Query query;
    // Lives on the requesting thread; a reading is posted to it.
    std::unique_ptr<QObject> receiver;
    std::thread thread;
};

namespace {

void serve(const std::shared_ptr<VolumeProbe::Shared>& shared) {
    std::unique_lock lock(shared->mutex);
    while (true) {
        shared->wake.wait(lock, [&] { return shared->stopping || shared->pending; });
        if (shared->stopping)
            return;
        auto request = std::move(*shared->pending);
        shared->pending.reset();
        shared->busy = true;
        QObject* receiver = shared->receiver.get();
        lock.unlock();
        const VolumeProbe::Reading reading = shared->query(request.folder);
        lock.lock();
        shared->busy = false;
        if (shared->stopping)
            return;
        // Posted while the lock keeps the receiver alive; a probe destroyed
        // before the call runs takes the call with it.
        QMetaObject::invokeMethod(
            receiver, [done = std::move(request.done), reading] { done(reading); }, Qt::QueuedConnection);
    }
}

} // namespace

VolumeProbe::VolumeProbe(Query query)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->query = query ? std::move(query) : Query(&VolumeProbe::readVolume);
    m_shared->receiver = std::make_unique<QObject>();
    m_shared->thread = std::thread([shared = m_shared] { serve(shared); });
}

VolumeProbe::~VolumeProbe() {
    bool busy = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
        busy = m_shared->busy;
        m_shared->receiver.reset();
    }
    m_shared->wake.notify_all();
    // A query stuck on a hung volume must not hold up the program's end: the
    // worker keeps the shared state alive and ends when the kernel lets go.
    if (busy)
        m_shared->thread.detach();
    else
        m_shared->thread.join();
}

void VolumeProbe::request(const std::string& folder, std::function<void(const Reading&)> done) {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->pending = Shared::Pending{folder, std::move(done)};
    }
    m_shared->wake.notify_one();
}

VolumeProbe::Reading VolumeProbe::readVolume(const std::string& folder) {
    const std::string resolved = AppStore::resolveRecordPath(folder);
    return {RecordVolume::freeMegabytes(resolved), RecordVolume::mountPointOf(resolved)};
}
