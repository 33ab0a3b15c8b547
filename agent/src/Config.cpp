// SPDX-License-Identifier: MIT
#include "Config.h"

#include "Text.h"
#include "Tls.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <sstream>
#include <tuple>

namespace vantor::agent {

using nlohmann::json;

namespace {

struct ConfigError {
    std::string message;
};

[[noreturn]] void fail(const std::string &key, const std::string &what)
{
    throw ConfigError{"\"" + key + "\" " + what};
}

// Refuses keys the agent does not know: a misspelt threshold would otherwise be ignored in silence.
void checkKeys(const json &object, const std::string &prefix, std::initializer_list<const char *> known)
{
    for (const auto &[key, value] : object.items()) {
        bool found = false;
        for (const char *k : known)
            found = found || key == k;
        if (!found) throw ConfigError{"unknown key \"" + prefix + key + "\""};
    }
}

const json *member(const json &object, const char *key)
{
    return object.contains(key) ? &object.at(key) : nullptr;
}

void readText(const json &object, const char *key, const std::string &name, std::string &out, bool mayBeEmpty)
{
    const json *v = member(object, key);
    if (!v) return;
    if (!v->is_string()) fail(name, "must be a string");
    out = v->get<std::string>();
    if (!mayBeEmpty && out.empty()) fail(name, "must not be empty");
}

void readNumber(const json &object, const char *key, const std::string &name, double &out, double low,
                double high)
{
    const json *v = member(object, key);
    if (!v) return;
    if (!v->is_number() || !(v->get<double>() >= low && v->get<double>() <= high))
        fail(name, "must be a number from " + formatNumber(low, 0) + " to " + formatNumber(high, 0));
    out = v->get<double>();
}

void readLimits(const json &thresholds, const char *key, Limits &out)
{
    const json *v = member(thresholds, key);
    if (!v) return;
    const std::string name = std::string("thresholds.") + key;
    if (!v->is_object()) fail(name, "must be an object with \"warning\" and \"critical\"");
    checkKeys(*v, name + ".", {"warning", "critical"});
    // A value above 100 switches the level off.
    readNumber(*v, "warning", name + ".warning", out.warning, 0, 1000);
    readNumber(*v, "critical", name + ".critical", out.critical, 0, 1000);
    if (out.warning > out.critical)
        fail(name, "has a warning level (" + formatNumber(out.warning, 1) + ") above its critical level (" +
                       formatNumber(out.critical, 1) + ")");
}

void readSwitches(const json &root, CheckSwitches &out)
{
    const json *v = member(root, "checks");
    if (!v) return;
    if (!v->is_object()) fail("checks", "must be an object of true or false switches");
    checkKeys(*v, "checks.", {"fileSystems", "failedUnits", "oomKills", "clockSync", "rebootRequired"});
    for (auto [key, flag] : {std::pair{"fileSystems", &out.fileSystems},
                             {"failedUnits", &out.failedUnits},
                             {"oomKills", &out.oomKills},
                             {"clockSync", &out.clockSync},
                             {"rebootRequired", &out.rebootRequired}}) {
        const json *s = member(*v, key);
        if (!s) continue;
        if (!s->is_boolean()) fail(std::string("checks.") + key, "must be true or false");
        *flag = s->get<bool>();
    }
}

bool isUnitName(const std::string &unit)
{
    if (unit.empty() || unit.size() > 256 || unit.front() == '-') return false;
    for (unsigned char c : unit)
        if (c <= ' ' || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

// The console sends the token as an HTTP header value, and HTTP drops blanks around a value, so a
// token with edge blanks or control characters could never match.
bool isHeaderSafe(const std::string &token)
{
    if (!token.empty() &&
        (token.front() == ' ' || token.front() == '\t' || token.back() == ' ' || token.back() == '\t'))
        return false;
    for (unsigned char c : token)
        if ((c < ' ' && c != '\t') || c == 0x7F) return false;
    return true;
}

Config readConfig(const json &root)
{
    if (!root.is_object()) throw ConfigError{"the configuration must be a JSON object"};
    checkKeys(root, "",
              {"listenAddress", "port", "token", "allowEmptyToken", "services", "thresholds",
               "sampleIntervalSeconds", "systemctl", "procRoot", "sysRoot", "rootPath", "tls", "checks"});
    Config c;
    readText(root, "listenAddress", "listenAddress", c.listenAddress, false);
    if (const json *v = member(root, "port")) {
        if (!v->is_number_integer() || v->get<std::int64_t>() < 1 || v->get<std::int64_t>() > 65535)
            fail("port", "must be a whole number from 1 to 65535");
        c.port = static_cast<int>(v->get<std::int64_t>());
    }
    readText(root, "token", "token", c.token, true);
    if (!isHeaderSafe(c.token)) fail("token", "must not begin or end with blanks or hold control characters");
    if (const json *v = member(root, "allowEmptyToken")) {
        if (!v->is_boolean()) fail("allowEmptyToken", "must be true or false");
        c.allowEmptyToken = v->get<bool>();
    }
    if (c.token.empty() && !c.allowEmptyToken)
        fail("token",
             "is empty: set a secret token (for example the output of `openssl rand -hex 32`), or set "
             "\"allowEmptyToken\": true to let anyone who reaches the port read the metrics");
    if (const json *v = member(root, "services")) {
        if (!v->is_array()) fail("services", "must be a list of systemd unit names");
        std::set<std::string> seen;
        for (std::size_t i = 0; i < v->size(); ++i) {
            const json &unit = v->at(i);
            const std::string name = "services[" + std::to_string(i) + "]";
            if (!unit.is_string() || !isUnitName(unit.get<std::string>()))
                fail(name, "must be a systemd unit name such as \"nginx.service\"");
            if (!seen.insert(unit.get<std::string>()).second) fail(name, "names a unit a second time");
            c.services.push_back(unit.get<std::string>());
        }
    }
    if (const json *v = member(root, "thresholds")) {
        if (!v->is_object()) fail("thresholds", "must be an object");
        checkKeys(*v, "thresholds.", {"cpu", "memory", "disk", "temperatureC", "inodes", "swap"});
        readLimits(*v, "cpu", c.thresholds.cpu);
        readLimits(*v, "memory", c.thresholds.memory);
        readLimits(*v, "disk", c.thresholds.disk);
        readLimits(*v, "inodes", c.thresholds.inodes);
        readLimits(*v, "swap", c.thresholds.swap);
        readNumber(*v, "temperatureC", "thresholds.temperatureC", c.thresholds.temperatureC, 0, 1000);
    }
    readSwitches(root, c.checks);
    readNumber(root, "sampleIntervalSeconds", "sampleIntervalSeconds", c.sampleIntervalSeconds, 1, 3600);
    readText(root, "systemctl", "systemctl", c.systemctl, false);
    if (c.systemctl.front() != '/') fail("systemctl", "must be an absolute path");
    readText(root, "procRoot", "procRoot", c.procRoot, false);
    readText(root, "sysRoot", "sysRoot", c.sysRoot, false);
    readText(root, "rootPath", "rootPath", c.rootPath, false);
    if (const json *v = member(root, "tls")) {
        if (!v->is_object()) fail("tls", "must be an object with \"certificate\" and \"key\"");
        checkKeys(*v, "tls.", {"certificate", "key"});
        readText(*v, "certificate", "tls.certificate", c.tlsCertificatePath, false);
        readText(*v, "key", "tls.key", c.tlsKeyPath, false);
        if (c.tlsCertificatePath.empty() || c.tlsKeyPath.empty())
            fail("tls", "needs both \"certificate\" and \"key\" (paths of PEM files)");
    }
    return c;
}

// nlohmann's messages end with "; last read: '...'", which quotes the file, and begin with the byte
// position; what lies between names the kind of fault only.
std::string syntaxError(const json::parse_error &e, std::string_view text)
{
    std::size_t line = 1, column = 1;
    const std::size_t end = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column; // counts characters, not the bytes of UTF-8 sequences
        }
    }
    std::string reason = e.what();
    if (const auto colon = reason.find(": "); colon != std::string::npos) reason.erase(0, colon + 2);
    if (const auto quoted = reason.find("; last read"); quoted != std::string::npos) reason.erase(quoted);
    return "not valid JSON at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
           reason;
}

std::optional<TlsPair> readTlsPair(const Config &c, std::string &problem)
{
    TlsPair pair;
    for (auto [key, path, out] : {std::tuple{"tls.certificate", &c.tlsCertificatePath, &pair.certificate},
                                  std::tuple{"tls.key", &c.tlsKeyPath, &pair.key}}) {
        errno = 0;
        auto text = readFile(*path, 1u << 20);
        if (!text) {
            problem =
                std::string("the file named by \"") + key + "\" cannot be read: " + describeReadError(errno);
            return std::nullopt;
        }
        *out = std::move(*text);
    }
    if (auto error = checkTlsPair(pair); !error.empty()) {
        problem = "\"tls\" does not name a usable certificate and key: " + error;
        return std::nullopt;
    }
    return pair;
}
} // namespace

std::string describeReadError(int error)
{
    switch (error) {
    case EISDIR:
        return "it is a folder, not a file";
    case EINVAL:
        return "it is not a regular file";
    case EFBIG:
        return "it is too large";
    case 0:
        return "unknown error";
    default:
        return std::strerror(error);
    }
}

namespace {

// Parses the text and refuses a key given twice in one object, which JSON leaves open and nlohmann
// would settle silently by keeping the last one.
json parseWithoutRepeats(std::string_view text)
{
    // The parser reads a stream one character at a time, so where the stream stands when a key has been
    // read tells its line.
    std::istringstream in{std::string(text)};
    std::vector<std::pair<std::set<std::string>, std::string>> objects; // keys seen, and the last one
    const json::parser_callback_t check = [&](int, json::parse_event_t event, json &parsed) {
        if (event == json::parse_event_t::object_start) objects.emplace_back();
        if (event == json::parse_event_t::object_end && !objects.empty()) objects.pop_back();
        if (event != json::parse_event_t::key || objects.empty()) return true;
        auto &[seen, last] = objects.back();
        last = parsed.get<std::string>();
        if (seen.insert(last).second) return true;
        std::string name;
        for (const auto &object : objects)
            name += (name.empty() ? "" : ".") + object.second;
        const auto end =
            static_cast<std::size_t>(in.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in));
        const auto line = 1 + std::count(text.begin(), text.begin() + std::min(end, text.size()), '\n');
        fail(name, "is given twice, the second time at line " + std::to_string(line));
    };
    return json::parse(in, check);
}
} // namespace

std::variant<Config, std::string> parseConfig(std::string_view text)
{
    try {
        return readConfig(parseWithoutRepeats(text));
    } catch (const json::parse_error &e) {
        return syntaxError(e, text);
    } catch (const json::exception &) {
        return std::string("not valid JSON");
    } catch (const ConfigError &e) {
        return e.message;
    }
}

std::variant<Config, std::string> loadConfig(const std::filesystem::path &path)
{
    errno = 0;
    const auto text = readFile(path, 1u << 20);
    if (!text) return "cannot read the file: " + describeReadError(errno);
    auto parsed = parseConfig(*text);
    auto *config = std::get_if<Config>(&parsed);
    if (!config || config->tlsCertificatePath.empty()) return parsed;
    std::string problem;
    config->tls = readTlsPair(*config, problem);
    if (!config->tls) return problem;
    return parsed;
}

std::string permissionWarning(const std::filesystem::path &path)
{
    struct stat info {
    };
    if (stat(path.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return {};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return path.string() + " is open to other users (mode " + mode +
           ") and holds the access token; run: chmod 600 " + path.string();
}

} // namespace vantor::agent
