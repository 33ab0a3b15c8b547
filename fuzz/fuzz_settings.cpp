// SPDX-License-Identifier: MIT
// The settings sheet's text, read as UTF-16 so that lone surrogates occur: the check never crashes,
// always gives nodes or a message, and accepted nodes survive their own saved form.
#include "ui/SettingsView.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const auto parsed = vantor::ui::parseSettingsText(text);
    if (const auto *nodes = std::get_if<QList<vantor::ServerNode>>(&parsed)) {
        const auto again = vantor::ui::parseSettingsText(QString::fromUtf8(vantor::encodeNodeList(*nodes)));
        const auto *copy = std::get_if<QList<vantor::ServerNode>>(&again);
        if (nodes->size() != 3 || !copy || *copy != *nodes) std::abort();
    } else if (std::get<QString>(parsed).isEmpty()) {
        std::abort();
    }
    return 0;
}
