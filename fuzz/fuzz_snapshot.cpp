// SPDX-License-Identifier: MIT
// Agent reply bodies: decoding must never crash, and whatever decodes must survive
// being written back in the reply format and read again unchanged.
#include "model/SnapshotEncoder.h"

#include <QJsonDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto decoded = vantor::decodeSnapshot(body);
    if (const auto *snapshot = std::get_if<vantor::MetricsSnapshot>(&decoded)) {
        (void)snapshot->status();
        (void)vantor::qHash(*snapshot);
        const auto again = vantor::decodeSnapshot(QJsonDocument(vantor::encodeSnapshot(*snapshot)).toJson());
        const auto *copy = std::get_if<vantor::MetricsSnapshot>(&again);
        if (!copy || !(*copy == *snapshot)) std::abort();
    }
    return 0;
}
