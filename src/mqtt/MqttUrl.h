#pragma once

#include <string>

// Where the monitor publishes: mqtt://[user@]host[:port]/BASE or
// mqtts://..., the port 1883 or 8883 when none is given. A password never
// stands in the URL (it would show in ps and in the journal): it comes from
// a file or the environment.
struct MqttUrl
{
    bool bTls = false;
    std::string strUser;  // empty: no login
    std::string strHost;  // a name, an IPv4 address, or an IPv6 address without its brackets
    int nPort = 1883;
    std::string strBase;  // empty: the caller's default
};

// False with the reason in error for anything else: another scheme, a
// password, no host, a port outside 1..65535, a BASE with a wildcard (+ #),
// an empty level or a leading or trailing slash.
bool ParseMqttUrl(const std::string& text, MqttUrl& url, std::string& error);

// A topic level made of a free text (a host or device name): the characters
// MQTT gives a meaning ('/', '+', '#') and control characters become '_'.
std::string TopicLevel(const std::string& text);

// The checks of ParseMqttUrl for a topic prefix; empty error when it is good.
std::string CheckTopicBase(const std::string& base);

// Whether a password file's permission bits (as 0640) keep it a secret:
// empty when they do, else why not and the remedy. Its owner and its group
// may read it (root:GROUP 0640 is how a service's user is given one); when
// every user of the machine may read or change it, it is refused, as a
// password everyone has is no password, and a warning would go unread in a
// service's journal.
std::string CheckPasswordFileMode(const std::string& path, unsigned mode);
