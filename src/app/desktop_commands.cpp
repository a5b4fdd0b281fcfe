#include "app/desktop_commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/agent_start.h"
#include "base/text.h"

namespace korvimo::app {

namespace {

std::optional<std::string> nonEmptyVariable(const DesktopEnvironment& environment,
                                            const char* name) {
    if (!environment.variable) {
        return std::nullopt;
    }
    std::optional<std::string> value = environment.variable(name);
    if (value && value->find_first_not_of(" \t") == std::string::npos) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

DesktopEnvironment DesktopEnvironment::system() {
    DesktopEnvironment environment;
    environment.variable = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr) {
            return std::nullopt;
        }
        return std::string(value);
    };
    environment.hasProgram = [](const std::string& program) {
        const char* path = std::getenv("PATH");
        return findProgram(program, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    };
    return environment;
}

std::vector<FileFilter> parseFilterList(const char* text) {
    std::vector<std::string> fields;
    std::string field;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '|') {
            fields.push_back(field);
            field.clear();
        } else {
            field += *c;
        }
    }
    if (!field.empty()) {
        fields.push_back(field);
    }
    std::vector<FileFilter> filters;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (fields[i].empty()) {
            break;  // the empty pair that ends the list
        }
        std::string pattern = fields[i + 1];
        if (pattern.size() >= 2 && pattern.front() == '(' && pattern.back() == ')') {
            pattern = pattern.substr(1, pattern.size() - 2);
        }
        filters.push_back(FileFilter{fields[i], pattern});
    }
    return filters;
}

std::vector<std::string> splitCommandWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;  // "" is an empty word of its own
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

bool findProgram(const std::string& program, const std::string& path) {
    if (program.empty()) {
        return false;
    }
    auto executable = [](const std::string& file) {
        std::error_code error;
        return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), X_OK) == 0;
    };
    if (program.find('/') != std::string::npos) {
        return executable(program);
    }
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        // An empty entry means the working directory.
        const std::string directory = end > begin ? path.substr(begin, end - begin) : ".";
        if (executable(directory + "/" + program)) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

DesktopCommands::DesktopCommands(const Configuration& config, DesktopEnvironment environment)
    : config_(config), environment_(std::move(environment)) {}

std::string DesktopCommands::installDir() const {
    return fullPath(installDirectory(config_));
}

std::string fullPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error) {
        return path;
    }
    std::string text = full.lexically_normal().string();
    // "/home/x/." normalises to "/home/x/"; a directory is named without the last slash.
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

FileChooser DesktopCommands::browseChooser() const {
    FileChooser chooser;
    chooser.style = FileChooser::Style::Save;
    chooser.title = kBrowseTitle;
    chooser.directory = installDir() + kAgentFolder;
    chooser.proposedName = kControlFilePattern;
    chooser.filters = {FileFilter{kBrowseFilterText, kControlFilePattern}};
    return chooser;
}

FileChooser DesktopCommands::trapFileChooser() const {
    FileChooser chooser;
    chooser.style = FileChooser::Style::Save;
    chooser.title = kTrapFileChooserTitle;
    chooser.directory = installDir() + kAgentFolder;
    chooser.proposedName = kTrapFilePattern;
    chooser.filters = {FileFilter{kTrapFileFilterText, kTrapFilePattern}};
    return chooser;
}

FileChooser DesktopCommands::createTrapFileChooser() const {
    FileChooser chooser = trapFileChooser();
    chooser.confirmOverwrite = true;
    return chooser;
}

std::string DesktopCommands::agentFileFromChoice(const std::string& chosenPath) {
    const std::size_t slash = chosenPath.find_last_of('/');
    return slash == std::string::npos ? chosenPath : chosenPath.substr(slash + 1);
}

FileChooser DesktopCommands::editChooser(const char* title, const char* pattern,
                                         const char* filters) const {
    FileChooser chooser;
    chooser.style = FileChooser::Style::Open;
    chooser.title = title;
    chooser.directory = installDir() + kAgentFolder;
    chooser.proposedName = pattern;
    chooser.filters = parseFilterList(filters);
    return chooser;
}

FileChooser DesktopCommands::editVariableFileChooser() const {
    return editChooser(kEditVariableFileTitle, kControlFilePattern, kEditVariableFileFilters);
}

FileChooser DesktopCommands::editTrapFileChooser() const {
    return editChooser(kEditTrapFileTitle, kTrapFilePattern, kEditTrapFileFilters);
}

bool DesktopCommands::hasProgram(const std::string& program) const {
    return environment_.hasProgram && environment_.hasProgram(program);
}

DesktopLaunch DesktopCommands::editFile(const std::string& path) const {
    const std::string file = fullPath(path);
    std::vector<std::string> argv;
    std::string editor;  // the program that must be there for the command to run

    std::string configured;
    config_.readPlain(ConfigKey::EDITOR, configured);
    argv = splitCommandWords(configured);
    if (!argv.empty()) {
        editor = argv.front();
    } else {
        std::optional<std::string> variable = nonEmptyVariable(environment_, "VISUAL");
        if (!variable) {
            variable = nonEmptyVariable(environment_, "EDITOR");
        }
        if (variable) {
            const std::vector<std::string> words = splitCommandWords(*variable);
            if (hasProgram(kTerminalProgram)) {
                argv = {kTerminalProgram, kTerminalCommandOption};
            }
            argv.insert(argv.end(), words.begin(), words.end());
            editor = words.empty() ? std::string() : words.front();
        } else {
            argv = {kDesktopOpener};
            editor = kDesktopOpener;
        }
    }
    argv.push_back(file);

    DesktopLaunch launch;
    if (hasProgram(editor)) {
        launch.command.argv = std::move(argv);
        launch.fallbackText = formatText(kEditorNotStartedText, editor.c_str(), file.c_str());
    } else {
        launch.fallbackText = formatText(kEditorNotFoundText, editor.c_str(), file.c_str());
    }
    launch.fallbackText += kEditorHintText;
    return launch;
}

DesktopLaunch DesktopCommands::viewControlFile(const std::string& controlFileText) const {
    // The file the agent start opens for the same text.
    return editFile(controlFilePath(installDir(), controlFileText));
}

DesktopLaunch DesktopCommands::viewTrapFile(const std::string& trapFileText) const {
    // The file the Generate Traps load opens for the same text.
    return editFile(controlFilePath(installDir(), trapFileText));
}

DesktopLaunch DesktopCommands::viewMibInfo() const {
    const std::string path = installDir() + kMibListPath;
    if (::access(path.c_str(), R_OK) != 0) {
        const int error = errno;
        DesktopLaunch launch;
        launch.fallbackText = formatText(kMibListFailedText, path.c_str(), std::strerror(error));
        if (error == ENOENT) {
            launch.fallbackText = launch.fallbackText + "\n" + kMibListHintText;
        }
        return launch;
    }
    return editFile(path);
}

std::string DesktopCommands::helpPath(HelpDocument document) const {
    return installDir() + (document == HelpDocument::Html ? kHtmlHelpPath : kPdfHelpPath);
}

DesktopLaunch DesktopCommands::help(HelpDocument document) const {
    DesktopLaunch launch;
    const std::string path = helpPath(document);
    launch.fallbackText = std::string(kHelpFallbackText) + path;
    std::error_code error;
    const bool present = std::filesystem::is_regular_file(path, error);
    if (present && hasProgram(kDesktopOpener)) {
        launch.command.argv = {kDesktopOpener, path};
    }
    return launch;
}

}  // namespace korvimo::app
