// SPDX-License-Identifier: MIT
// Node files in both forms: reading never crashes, and a list that reads back from
// its own saved form is the same list.
#include "model/ServerNode.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)vantor::decodeNodeConfigFile(bytes);
    const auto list = vantor::decodeNodeList(bytes);
    if (const auto *nodes = std::get_if<QList<vantor::ServerNode>>(&list)) {
        const auto again = vantor::decodeNodeList(vantor::encodeNodeList(*nodes));
        const auto *copy = std::get_if<QList<vantor::ServerNode>>(&again);
        if (!copy || *copy != *nodes) std::abort();
    }
    return 0;
}
