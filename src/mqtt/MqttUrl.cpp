#include "mqtt/MqttUrl.h"

#include <cstdlib>

#include "platform/ProfileFile.h"

std::string TopicLevel(const std::string& text)
{
    std::string level = text;
    for (char& c : level) {
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    return level.empty() ? std::string("_") : level;
}

std::string CheckTopicBase(const std::string& base)
{
    if (base.empty())
        return "the topic base is empty";
    if (base.find_first_of("+#") != std::string::npos)
        return "the topic base '" + base + "' holds a wildcard (+ or #)";
    if (base.front() == '/' || base.back() == '/' || base.find("//") != std::string::npos)
        return "the topic base '" + base + "' has an empty level";
    for (char c : base) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "the topic base holds a control character";
    }
    // The broker ends the connection of a client whose topic is no UTF-8.
    if (!platform::IsValidUtf8(base))
        return "the topic base is not UTF-8";
    return {};
}

bool ParseMqttUrl(const std::string& text, MqttUrl& url, std::string& error)
{
    url = MqttUrl{};
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        rest = text.substr(8);
        url.bTls = true;
        url.nPort = 8883;
    } else {
        error = "the broker URL must begin with mqtt:// or mqtts://, not '" + text + "'";
        return false;
    }
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos)
        url.strBase = rest.substr(slash + 1);

    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        url.strUser = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (url.strUser.find(':') != std::string::npos) {
            error = "the broker URL holds a password, which anyone could read in the process list; give it "
                    "with --mqtt-password-file FILE or the environment variable VORLENT_MQTT_PASSWORD";
            return false;
        }
        if (url.strUser.empty()) {
            error = "the broker URL has an '@' but no user name";
            return false;
        }
    }
    std::string port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            error = "the broker URL has an unclosed '[' in its host";
            return false;
        }
        url.strHost = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            error = "the broker URL has '" + after + "' after its host";
            return false;
        }
        port = after.empty() ? "" : after.substr(1);
        if (after == ":")
            port = ":";
    } else {
        const std::size_t colon = authority.find(':');
        url.strHost = authority.substr(0, colon);
        if (colon != std::string::npos)
            port = authority.substr(colon + 1).empty() ? ":" : authority.substr(colon + 1);
    }
    if (url.strHost.empty()) {
        error = "the broker URL names no host";
        return false;
    }
    if (!port.empty()) {
        const bool bDigits = port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
        const long number = bDigits ? std::strtol(port.c_str(), nullptr, 10) : 0;
        if (number < 1 || number > 65535) {
            error = "the broker's port must be a number from 1 to 65535, not '" + port + "'";
            return false;
        }
        url.nPort = static_cast<int>(number);
    }
    if (!url.strBase.empty()) {
        error = CheckTopicBase(url.strBase);
        if (!error.empty())
            return false;
    }
    return true;
}

std::string CheckPasswordFileMode(const std::string& path, unsigned mode)
{
    if ((mode & 0006) == 0)
        return {};
    return "the password file " + path + " can be " + ((mode & 0004) ? "read" : "changed") +
           " by every user of this machine; make it private with chmod o-rwx " + path;
}
