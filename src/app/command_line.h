// CommandLineReader: the options of one of Korvimo's programs, read one at a time, so that
// korvan and korvan-cli take options the same way: "--name value" or "--name=value" for an
// option with a value, "--name" alone for a flag, and "-h" for "--help".
//
//   CommandLineReader reader(args, {"--help", "--start"}, {"--port", "--address"});
//   CommandLineOption option;
//   while (reader.next(option)) {
//       if (option.name == "--port") ...
//   }
//   if (!reader.error().empty()) fail(reader.error());
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace korvimo::app {

struct CommandLineOption {
    std::string name;   // "--port"
    std::string value;  // empty for a flag
};

class CommandLineReader {
  public:
    CommandLineReader(const std::vector<std::string>& args,
                      std::initializer_list<const char*> flags,
                      std::initializer_list<const char*> valued)
        : args_(args), flags_(flags), valued_(valued) {}
    // Options of another command added to a command's own (a command that takes them too).
    CommandLineReader(const std::vector<std::string>& args, std::vector<const char*> flags,
                      std::vector<const char*> valued)
        : args_(args), flags_(std::move(flags)), valued_(std::move(valued)) {}

    // The next option; false at the end of the line or at a mistake, which error() then
    // describes ("unknown option '--x'", "unexpected argument 'x'", "--port needs a value").
    bool next(CommandLineOption& option);
    const std::string& error() const { return error_; }

  private:
    static bool listed(const std::vector<const char*>& names, const std::string& name);

    const std::vector<std::string>& args_;
    std::vector<const char*> flags_;
    std::vector<const char*> valued_;
    std::size_t position_ = 0;
    std::string error_;
};

// The values of the options both korvan and korvan-cli take, with their mistakes in the same
// words: "--port N" (a UDP port from 1 to 65535) and "--address ADDR" (not empty).
bool readPortOption(const std::string& value, uint16_t& port, std::string& error);
bool readAddressOption(const std::string& value, std::string& address, std::string& error);

// The parts of an address text with an optional port: "HOST", "HOST:PORT", "[IPv6]",
// "[IPv6]:PORT", or a bare IPv6 address (a second ":" makes the whole text the host).
// portText is empty without a port. What is wrong with a text that has no such parts:
enum class HostPortSplit {
    Ok,
    Unclosed,      // "[" without a "]", or "[]"
    AfterBracket,  // something other than ":PORT" after "]"
    NoPort,        // ":" with nothing after it
    NoHost,        // nothing before the ":"
};
HostPortSplit splitHostPort(const std::string& text, std::string& host, std::string& portText);

// A decimal number of at most ten digits from low to high, or false.
bool readOptionNumber(const std::string& text, unsigned long low, unsigned long high,
                      unsigned long& number);

}  // namespace korvimo::app
