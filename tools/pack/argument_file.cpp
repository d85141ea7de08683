#include "pack/argument_file.h"

#include "pack/file_io.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f'; }

static bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Steps over one line end ("\r\n", "\n" or a lone "\r") at `at` and counts it.
static void SkipLineEnd(const std::string& text, size_t& at, unsigned& line) {
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') at++;
    at++;
    line++;
}

static char EscapedChar(char c) {
    switch (c) {
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        case 'f': return '\f';
        default: return c;
    }
}

static bool UnterminatedQuote(const std::string& file, unsigned line, std::string& error) {
    error = file + ":" + std::to_string(line) + ": unterminated quote";
    return false;
}

// The launcher reads its values up to their first NUL: a value holding one would be stored cut.
static bool HasNul(const std::string& text, const std::string& file, std::string& error) {
    size_t nul = text.find('\0');
    if (nul == std::string::npos) return false;
    unsigned line = 1;
    for (size_t at = 0; at < nul; at++) {
        if (text[at] == '\n' || (text[at] == '\r' && text[at + 1] != '\n')) line++;
    }
    error = file + ":" + std::to_string(line) + ": a NUL byte, which no value can hold";
    return true;
}

bool SplitArgumentFile(const std::string& text, const std::string& file, std::vector<Argument>& out,
                       std::string& error) {
    if (HasNul(text, file, error)) return false;
    size_t at = 0;
    unsigned line = 1;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;  // a UTF-8 byte order mark
    while (true) {
        while (at < text.size()) {
            if (IsBlank(text[at])) {
                at++;
            } else if (IsLineEnd(text[at])) {
                SkipLineEnd(text, at, line);
            } else if (text[at] == '#') {
                if (!out.empty() && out.back().file == file && out.back().line == line) out.back().commentAfter = true;
                while (at < text.size() && !IsLineEnd(text[at])) at++;
            } else {
                break;
            }
        }
        if (at >= text.size()) return true;

        Argument argument;
        argument.file = file;
        argument.line = line;
        char quote = 0;
        while (at < text.size()) {
            char c = text[at];
            if (quote == 0) {
                if (IsBlank(c) || IsLineEnd(c)) break;
                if (c == '"' || c == '\'') {
                    quote = c;
                } else {
                    argument.text.push_back(c);
                }
                at++;
            } else if (c == quote) {
                quote = 0;
                at++;
            } else if (IsLineEnd(c)) {
                return UnterminatedQuote(file, line, error);
            } else if (c == '\\') {
                at++;
                if (at >= text.size()) return UnterminatedQuote(file, line, error);
                if (IsLineEnd(text[at])) {
                    // A continued line: the value goes on after the next line's leading blanks.
                    SkipLineEnd(text, at, line);
                    while (at < text.size() && IsBlank(text[at])) at++;
                } else {
                    argument.text.push_back(EscapedChar(text[at]));
                    at++;
                }
            } else {
                argument.text.push_back(c);
                at++;
            }
        }
        if (quote != 0) return UnterminatedQuote(file, line, error);
        out.push_back(argument);
    }
}

int ExpandArgumentFiles(const std::vector<std::string>& args, bool (*takesValue)(const std::string& option),
                        std::vector<Argument>& out, std::string& error) {
    bool valueNext = false;
    for (const std::string& arg : args) {
        if (valueNext || arg.size() < 2 || arg[0] != '@') {
            Argument literal;
            literal.text = arg;
            out.push_back(literal);
            valueNext = !valueNext && takesValue(arg);
            continue;
        }
        std::string path = arg.substr(1);
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(path, kTextFile, bytes, error)) {
            error = path + ": " + error;
            return 1;
        }
        std::string text(bytes.begin(), bytes.end());
        size_t first = out.size();
        if (!SplitArgumentFile(text, path, out, error)) return 2;
        // A file that ends with an option leaves its value to the next argument.
        valueNext = false;
        for (size_t i = first; i < out.size(); i++) valueNext = !valueNext && takesValue(out[i].text);
    }
    return 0;
}

std::string ArgumentOrigin(const Argument& argument) {
    if (argument.file.empty()) return "";
    return argument.file + ":" + std::to_string(argument.line) + ": ";
}

static bool IsAbsolutePath(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    char drive = path.size() >= 2 ? path[0] : '\0';
    return ((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) && path[1] == ':';
}

std::string ArgumentPath(const Argument& argument, const std::string& value) {
    if (argument.file.empty() || value.empty() || IsAbsolutePath(value)) return value;
    size_t slash = argument.file.find_last_of("/\\");
    if (slash == std::string::npos) return value;
    return argument.file.substr(0, slash + 1) + value;
}
