#include "viewer/browse/PageCounter.h"

#include "viewer/ImageDecoding.h"

#include <QPointer>

#include <algorithm>

TPageCounter::TPageCounter(QObject* parent) : QObject(parent) {
    FPool.setMaxThreadCount(1);
}

TPageCounter::~TPageCounter() {
    FQueue.clear();
    FPool.waitForDone();
}

void TPageCounter::Count(const QStringList& APaths) {
    FQueue.assign(APaths.begin(), APaths.end());
    Next();
}

void TPageCounter::Prefer(const QString& APath) {
    const auto found = std::find(FQueue.begin(), FQueue.end(), APath);
    if (found == FQueue.end() || found == FQueue.begin())
        return;
    FQueue.erase(found);
    FQueue.push_front(APath);
}

void TPageCounter::Stop() {
    FQueue.clear();
    ++FGeneration; // the read under way reports nothing
}

void TPageCounter::Next() {
    if (FRunning || FQueue.empty())
        return;
    const QString path = FQueue.front();
    FQueue.pop_front();
    FRunning = true;
    QPointer<TPageCounter> self(this);
    FPool.start([self, path, generation = FGeneration] {
        int count = 1;
        bool failed = false;
        try {
            count = std::max(1, ReadPageCount(path));
        } catch (...) {
            failed = true;
        }
        QMetaObject::invokeMethod(
            self,
            [self, path, count, failed, generation] {
                self->FRunning = false;
                if (generation == self->FGeneration)
                    emit self->Counted(path, count, failed);
                self->Next();
            },
            Qt::QueuedConnection);
    });
}
