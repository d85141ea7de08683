// Trace file shared by the stand-in VM and the stand-in splash library: one JSON object per line,
// appended and flushed at once so that tests can read it even after ExitProcess or a crash.
// The file is pure ASCII: every non-ASCII character is written as a \uXXXX escape (UTF-16 units).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rt {

// Builds one JSON object. Keys are ASCII literals chosen by us.
class Json {
public:
    Json& Str(const char* key, const std::string& utf8);     // UTF-8 text (invalid bytes -> U+FFFD)
    Json& Str16(const char* key, const std::u16string& s);   // UTF-16 text, lone surrogates kept
    Json& Int(const char* key, long long v);
    Json& Bool(const char* key, bool v);
    Json& Null(const char* key);
    Json& Raw(const char* key, const std::string& json);     // already-encoded JSON value
    std::string Text() const { return "{" + body_ + "}"; }

private:
    void Key(const char* key);
    std::string body_;
};

std::string JsonString(const std::string& utf8);
std::string JsonString16(const std::u16string& s);
std::string JsonArray(const std::vector<std::string>& encodedValues);

std::string Hex(const void* data, size_t size);
std::string Hex(const std::string& bytes);

// UTF-8 <-> UTF-16 for our own bookkeeping (paths, env values).
std::u16string Utf8To16(const std::string& s);
std::string Utf16To8(const std::u16string& s);
std::wstring ToWide(const std::u16string& s);
std::u16string FromWide(const std::wstring& s);

// Reads an environment variable as UTF-8; false if unset.
bool GetEnv(const char* name, std::string* value);

// Current directory as UTF-8.
std::string CurrentDirectory();

// Appends {"event":..., "pid":..., "tick":..., <fields>} to the file named by QUORVIA_TEST_TRACE.
void Emit(const char* event, const Json& fields);

}  // namespace rt
