// Argument files: "@FILE" on the command line stands for the arguments FILE holds, split as the
// JDK's javac and jpackage split theirs. Each argument keeps the file and line it came from, so
// that errors can name them and relative paths can be taken from the file's own folder.
#pragma once

#include <string>
#include <vector>

struct Argument {
    std::string text;
    std::string file;   // the argument file, or "" for the command line itself
    unsigned line = 0;  // 1-based line in `file`
    bool commentAfter = false;  // a '#' comment follows on its line, as when '#/lib/x.jar' was meant
};

// Splits the text of an argument file: blanks and line ends separate arguments; single or double
// quotes keep blanks (and '#') inside one argument, and end at the line end; within quotes a
// backslash escapes the next character (\n \r \t \f as in C) or, at the line end, joins the next
// line without its leading blanks; outside quotes a backslash is an ordinary character; '#' where
// an argument would start comments out the rest of the line. A NUL byte is refused: no value could
// hold it. On error `error` names file and line.
bool SplitArgumentFile(const std::string& text, const std::string& file, std::vector<Argument>& out,
                       std::string& error);

// Replaces each "@FILE" that stands where an option is expected by the arguments of FILE. The value
// of an option is never a file to expand, so that "--class-path @/lib/x.jar" keeps its runtime-home
// prefix: `takesValue` says which options take the next argument as their value (not those written
// --option=VALUE). Arguments inside a file are taken literally, so files do not nest. Returns 0, or
// the exit status with `error` set: 1 for a file that cannot be read, 2 for one that cannot be split.
int ExpandArgumentFiles(const std::vector<std::string>& args, bool (*takesValue)(const std::string& option),
                        std::vector<Argument>& out, std::string& error);

// "FILE:LINE: " for an argument from a file, "" for one from the command line.
std::string ArgumentOrigin(const Argument& argument);

// A path value as given, or, when it is relative and came from a file, joined to that file's folder.
std::string ArgumentPath(const Argument& argument, const std::string& value);
