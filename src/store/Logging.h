// SPDX-License-Identifier: MIT
#pragma once

#include <QLoggingCategory>

namespace vantor {

// What the console has to say about its own doings, on standard error through Qt's message handler,
// so a desktop session's journal keeps it and QT_LOGGING_RULES chooses what shows. Information and
// above show by default; debug lines only when asked for (QT_LOGGING_RULES="vantor.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcPoll)    // vantor.poll: a node starts failing, and why; it answers again
Q_DECLARE_LOGGING_CATEGORY(lcNodes)   // vantor.nodes: node files passed over, and why
Q_DECLARE_LOGGING_CATEGORY(lcStore)   // vantor.store: a save of the node list that failed
Q_DECLARE_LOGGING_CATEGORY(lcDesktop) // vantor.desktop: no session bus, so no notifications

} // namespace vantor
