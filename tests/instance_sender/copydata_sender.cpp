// copydata-sender CLASS [--wait MS] MESSAGE...
//
// Finds the top-level window of class CLASS (waiting up to MS milliseconds for it to appear) and
// sends it one WM_COPYDATA per MESSAGE, in order, each with SendMessageA so that it returns only
// after the receiver has handled it. A MESSAGE is
//   TAG:HEX        dwData TAG (decimal or 0x-hex), the payload bytes HEX, cbData their count
//   TAG:HEX:COUNT  as above, but cbData COUNT (at most the number of bytes: the receiver gets only those)
//   TAG:-          dwData TAG with no data (lpData null, cbData 0)
//   null           a WM_COPYDATA whose lParam is null
// Prints one line per message with SendMessageA's result to standard output.
// Exit status: 0 when all were sent, 2 when no window was found, 3 on a malformed MESSAGE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool ParseHex(const char* text, size_t length, std::vector<unsigned char>* bytes) {
    if (length % 2 != 0) return false;
    for (size_t i = 0; i < length; i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes->push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

static bool ParseNumber(const char* text, size_t length, unsigned long long* value) {
    char buffer[32];
    if (length == 0 || length >= sizeof buffer) return false;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    char* end = nullptr;
    *value = strtoull(buffer, &end, 0);
    return end != nullptr && *end == '\0';
}

// Sends one MESSAGE; false when it is malformed.
static bool SendOne(HWND window, const char* spec) {
    if (strcmp(spec, "null") == 0) {
        LRESULT result = SendMessageA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(window), 0);
        printf("sent null result=%lld\n", static_cast<long long>(result));
        return true;
    }
    const char* colon = strchr(spec, ':');
    if (colon == nullptr) return false;
    unsigned long long tag = 0;
    if (!ParseNumber(spec, static_cast<size_t>(colon - spec), &tag)) return false;
    const char* hex = colon + 1;
    COPYDATASTRUCT data;
    data.dwData = static_cast<ULONG_PTR>(tag);
    std::vector<unsigned char> bytes;
    if (strcmp(hex, "-") == 0) {
        data.cbData = 0;
        data.lpData = nullptr;
    } else {
        const char* second = strchr(hex, ':');
        size_t hexLength = second != nullptr ? static_cast<size_t>(second - hex) : strlen(hex);
        if (!ParseHex(hex, hexLength, &bytes)) return false;
        unsigned long long count = bytes.size();
        if (second != nullptr && !ParseNumber(second + 1, strlen(second + 1), &count)) return false;
        if (count > bytes.size()) return false;
        if (bytes.empty()) bytes.push_back(0);  // a valid pointer even for zero bytes
        data.cbData = static_cast<DWORD>(count);
        data.lpData = bytes.data();
    }
    LRESULT result = SendMessageA(window, WM_COPYDATA, reinterpret_cast<WPARAM>(window), reinterpret_cast<LPARAM>(&data));
    printf("sent %s result=%lld\n", spec, static_cast<long long>(result));
    return true;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = __argc;
    char** argv = __argv;
    if (argc < 2) {
        fprintf(stderr, "usage: copydata-sender CLASS [--wait MS] MESSAGE...\n");
        return 3;
    }
    const char* className = argv[1];
    int first = 2;
    unsigned long long waitMs = 0;
    if (argc > 3 && strcmp(argv[2], "--wait") == 0) {
        if (!ParseNumber(argv[3], strlen(argv[3]), &waitMs)) return 3;
        first = 4;
    }
    HWND window = FindWindowA(className, nullptr);
    DWORD start = GetTickCount();
    while (window == nullptr && GetTickCount() - start < waitMs) {
        Sleep(50);
        window = FindWindowA(className, nullptr);
    }
    if (window == nullptr) {
        printf("no window of class %s\n", className);
        return 2;
    }
    for (int i = first; i < argc; i++) {
        if (!SendOne(window, argv[i])) {
            fprintf(stderr, "malformed message: %s\n", argv[i]);
            return 3;
        }
        fflush(stdout);
    }
    return 0;
}
