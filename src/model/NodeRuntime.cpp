// SPDX-License-Identifier: MIT
#include "NodeRuntime.h"

namespace vantor {

size_t qHash(const NodeRuntime &v, size_t seed)
{
    return hashFields(seed, v.node, v.metrics, v.status, v.errorMessage);
}

} // namespace vantor
