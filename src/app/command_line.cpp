#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

namespace korvimo::app {

bool CommandLineReader::listed(const std::vector<const char*>& names, const std::string& name) {
    for (const char* known : names) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

bool CommandLineReader::next(CommandLineOption& option) {
    if (position_ >= args_.size()) {
        return false;
    }
    const std::string& arg = args_[position_++];
    option.name = arg == "-h" ? "--help" : arg;
    option.value.clear();
    if (listed(flags_, option.name)) {
        return true;
    }
    const std::size_t equals = arg.find('=');
    const bool inlineValue = arg.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inlineValue) {
        option.name = arg.substr(0, equals);
        option.value = arg.substr(equals + 1);
    }
    if (!listed(valued_, option.name)) {
        error_ = arg.rfind("-", 0) == 0 ? "unknown option '" + arg + "'"
                                        : "unexpected argument '" + arg + "'";
        return false;
    }
    if (!inlineValue) {
        if (position_ >= args_.size()) {
            error_ = option.name + " needs a value";
            return false;
        }
        option.value = args_[position_++];
    }
    return true;
}

HostPortSplit splitHostPort(const std::string& text, std::string& host, std::string& portText) {
    host.clear();
    portText.clear();
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close == 1) {
            return HostPortSplit::Unclosed;
        }
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                return HostPortSplit::AfterBracket;
            }
            portText = text.substr(close + 2);
            if (portText.empty()) {
                return HostPortSplit::NoPort;
            }
        }
        return HostPortSplit::Ok;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (portText.empty()) {
            return HostPortSplit::NoPort;
        }
    } else {
        host = text;  // a name, an IPv4 address, or an IPv6 address without a port
    }
    return host.empty() ? HostPortSplit::NoHost : HostPortSplit::Ok;
}

bool readPortOption(const std::string& value, uint16_t& port, std::string& error) {
    unsigned long number = 0;
    if (!readOptionNumber(value, 1, 65535, number)) {
        error = "--port takes a UDP port from 1 to 65535, not '" + value + "'";
        return false;
    }
    port = static_cast<uint16_t>(number);
    return true;
}

bool readAddressOption(const std::string& value, std::string& address, std::string& error) {
    if (value.empty()) {
        error = "--address needs a numeric IP address";
        return false;
    }
    address = value;
    return true;
}

bool readOptionNumber(const std::string& text, unsigned long low, unsigned long high,
                      unsigned long& number) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::strtoul(text.c_str(), nullptr, 10);
    return number >= low && number <= high;
}

}  // namespace korvimo::app
