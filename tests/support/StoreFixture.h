// SPDX-License-Identifier: MIT
#pragma once

#include "model/Snapshot.h"
#include "store/MonitorStore.h"

#include <QTemporaryDir>

namespace vantor::test {

// A private support folder holding Vantor/config/nodes.json with the given list, so that a store
// never loads (or polls) anything but what the test chose.
class TempNodeFiles
{
public:
    explicit TempNodeFiles(const QList<ServerNode> &nodes) : TempNodeFiles(encodeNodeList(nodes)) {}
    explicit TempNodeFiles(const QByteArray &fileContents);

    NodeLocations locations() const { return NodeLocations{m_dir.path(), std::nullopt}; }
    QByteArray savedFile() const; // the current contents of the file the store writes

private:
    QTemporaryDir m_dir;
};

// A valid reading with whole-second times, so that it survives a trip through the reply format.
MetricsSnapshot sampleReading(double cpu, const QStringList &severities = {});
QByteArray replyBody(const MetricsSnapshot &reading);

// A loopback port that is bound but never listens, held for the rest of the process: a connection to
// it is refused, and no other socket (a fake agent of the same test, say) can take it meanwhile.
quint16 refusingPort();

// Spins the event loop until the store's cycle has ended; false if it did not within the time, which is
// only a safeguard for a failing run (a loaded machine must never reach it).
bool waitIdle(const MonitorStore &store, int timeoutMs = 30000);

} // namespace vantor::test
