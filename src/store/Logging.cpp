// SPDX-License-Identifier: MIT
#include "Logging.h"

namespace vantor {

Q_LOGGING_CATEGORY(lcPoll, "vantor.poll", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNodes, "vantor.nodes", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "vantor.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDesktop, "vantor.desktop", QtInfoMsg)

} // namespace vantor
