// SPDX-License-Identifier: MIT
#pragma once

#include "Checks.h"
#include "Sensors.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace vantor::agent {

// One reading in Prometheus's text exposition format (version 0.0.4): the reply document's figures as
// gauges in base units, every sensor's temperature, what the checks found, the active alerts and the
// agent's version.
std::string prometheusText(const nlohmann::ordered_json &reading, const std::vector<Sensor> &sensors,
                           std::string_view version, const HealthFacts &facts = {});

// A label value as the format wants it: backslash, double quote and line feed escaped, and bytes
// that are not UTF-8 replaced, since Prometheus drops a whole scrape over one bad label.
std::string escapeLabelValue(std::string_view value);

} // namespace vantor::agent
