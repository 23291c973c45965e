// QSharedMemory keeps its segments in System V shared memory on Linux. Its native key is a file
// whose ftok() key, with the project id 'Q', names the segment.
#include "platform/shared_segment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <QFile>
#include <QSharedMemory>
#include <QSystemSemaphore>

namespace xel::platform {
namespace {

int segmentId(const QSharedMemory& segment) {
    const QByteArray keyFile = QFile::encodeName(segment.nativeKey());
    if (keyFile.isEmpty())
        return -1;
    const key_t key = ::ftok(keyFile.constData(), 'Q');
    if (key == -1)
        return -1;
    return ::shmget(key, 0, 0400);
}

}  // namespace

std::optional<SegmentOwnership> segmentOwnership(const QSharedMemory& segment) {
    const int id = segmentId(segment);
    shmid_ds info{};
    if (id == -1 || ::shmctl(id, IPC_STAT, &info) != 0)
        return std::nullopt;
    return SegmentOwnership{info.shm_cpid, static_cast<std::int64_t>(info.shm_nattch)};
}

bool removeSegment(const QSharedMemory& segment) {
    const int id = segmentId(segment);
    return id != -1 && ::shmctl(id, IPC_RMID, nullptr) == 0;
}

void removeSegmentName(const QString& key) {
    {
        // Naming the key opens (and may create) Qt's lock semaphore; the owner made below removes
        // it again.
        QSharedMemory probe(key);
        removeSegment(probe);
        QFile::remove(probe.nativeKey());
    }
    // An owner made with Create removes the semaphore and its key file when it is destroyed.
    QSystemSemaphore(key, 1, QSystemSemaphore::Create);
}

}  // namespace xel::platform
