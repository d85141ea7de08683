#include "pack/manifest_code_page.h"

const char kCodePageElement[] =
    "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>";

bool AddUtf8CodePage(const std::string& manifest, std::string& out, std::string& error) {
    out = manifest;
    if (manifest.find("activeCodePage") != std::string::npos) return true;
    size_t settingsEnd = manifest.find("</windowsSettings>");
    if (settingsEnd != std::string::npos) {
        out.insert(settingsEnd, std::string("  ") + kCodePageElement + "\n    ");
        return true;
    }
    size_t assemblyEnd = manifest.rfind("</assembly>");
    if (assemblyEnd == std::string::npos) {
        error = "its manifest has no </assembly> end tag";
        return false;
    }
    out.insert(assemblyEnd, std::string("  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
                                        "    <windowsSettings>\n      ") +
                                kCodePageElement + "\n    </windowsSettings>\n  </application>\n");
    return true;
}
