#include "pack/msi_source.h"

#include <cctype>
#include <map>
#include <set>

#include "config/service_settings.h"
#include "pack/md5_text.h"

bool ParseUpgradeCode(const std::string& text, std::string& code, std::string& error) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    bool ok = t.size() == 36;
    for (size_t i = 0; ok && i < t.size(); i++) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        ok = dash ? t[i] == '-' : std::isxdigit(static_cast<unsigned char>(t[i])) != 0;
    }
    if (!ok) {
        error = "--upgrade-code wants a UUID such as 6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11, not '" + text + "'";
        return false;
    }
    code.clear();
    for (char c : t) code += char(std::toupper(static_cast<unsigned char>(c)));
    return true;
}

bool MsiVersionText(const uint16_t version[4], std::string& text, std::string& error) {
    if (version[0] > 255 || version[1] > 255) {
        error = "Windows Installer allows at most 255 for the first two fields of the product version";
        return false;
    }
    if (version[3] != 0) {
        error =
            "Windows Installer ignores a fourth field of the product version, so two packages differing only "
            "there would install side by side; give the version as N.N.N";
        return false;
    }
    text = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." + std::to_string(version[2]);
    return true;
}

bool ParseShortcuts(const std::string& list, MsiSettings& settings, std::string& error) {
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item == "start-menu") {
            settings.startMenuShortcut = true;
        } else if (item == "desktop") {
            settings.desktopShortcut = true;
        } else {
            error = "--shortcut takes start-menu, desktop or both separated by a comma, not '" + item + "'";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool ParseAssociation(const std::string& spec, MsiAssociation& association, std::string& error) {
    size_t colon = spec.find(':');
    std::string ext = spec.substr(0, colon);
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    bool ok = colon != std::string::npos && colon + 1 < spec.size() && !ext.empty() && ext.size() <= 32;
    for (char c : ext) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-');
    if (!ok) {
        error = "--file-association wants EXT:DESCRIPTION with an extension of letters, digits, - and _, not '" + spec +
                "'";
        return false;
    }
    association.extension = ext;
    association.description = spec.substr(colon + 1);
    return true;
}

bool CheckInstallName(const std::string& what, const std::string& name, bool folder, std::string& error) {
    // A registry key name may hold anything but a backslash; a folder name is stricter.
    const std::string refused = folder ? "\\/:*?\"<>|$" : "\\$";
    bool ok = !name.empty() && name.size() <= 200 && (!folder || (name.back() != '.' && name.back() != ' '));
    for (unsigned char c : name) ok = ok && c >= 0x20 && refused.find(char(c)) == std::string::npos;
    if (!ok)
        error = what + " '" + name + "' names the install " + (folder ? "folder" : "registry key") +
                ": it must be non-empty, at most 200 bytes, hold none of " + refused +
                (folder ? " or control characters, and not end in a dot or blank" : " or control characters");
    return ok;
}

namespace {

std::string Xml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Text Windows Installer formats at install time ([Property] references): brackets are kept literal.
std::string Formatted(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '[' ? "[\\[]" : c == ']' ? "[\\]]" : std::string(1, c);
    return Xml(out);
}

// Ids derive from the path, so every build of a product gives each file the same component and
// component GUID: an upgrade then replaces files instead of removing and re-adding them.
std::string PathId(char kind, const std::string& relative) {
    return std::string(1, kind) + Md5Hex(relative.data(), relative.size());
}

struct Writer {
    const MsiSettings& s;
    const std::string& exeName;
    std::string text;
    std::vector<std::string> components;
    std::string root;    // HKLM or HKCU
    std::string appKey;  // Software\Company\Product

    void Line(int depth, const std::string& line) { text += std::string(size_t(depth) * 2, ' ') + line + "\n"; }

    void OpenComponent(int depth, const std::string& id) {
        components.push_back(id);
        Line(depth, "<Component Id=\"" + id + "\" Guid=\"*\" Win64=\"yes\">");
    }

    void Service(int d) {
        const MsiService& v = s.service;
        // The same default as the exe's own -install, and the argument by which it knows the SCM started it.
        std::string account = v.account.empty() ? kDefaultServiceAccount : v.account;
        Line(d, "<ServiceInstall Id=\"Service\" Name=\"" + Xml(v.name) + "\" DisplayName=\"" +
                    Xml(v.displayName.empty() ? v.name : v.displayName) + "\" Description=\"" + Xml(v.description) +
                    "\" Arguments=\"" + kServiceRunArgument + "\" Type=\"ownProcess\" Start=\"" +
                    (v.start == "demand" ? "demand" : "auto") +
                    "\" ErrorControl=\"normal\" Account=\"" + Xml(account) + "\">");
        for (const std::string& dep : v.dependsOn) Line(d + 1, "<ServiceDependency Id=\"" + Xml(dep) + "\"/>");
        Line(d, "</ServiceInstall>");
        Line(d, "<ServiceControl Id=\"Service\" Name=\"" + Xml(v.name) +
                    "\" Start=\"install\" Stop=\"both\" Remove=\"uninstall\" Wait=\"yes\"/>");
        // wixl has no ServiceConfig: the delayed start is the value the service manager reads.
        if (v.start == "delayed")
            Line(d, "<RegistryValue Root=\"HKLM\" Key=\"SYSTEM\\CurrentControlSet\\Services\\" + Formatted(v.name) +
                        "\" Name=\"DelayedAutostart\" Type=\"integer\" Value=\"1\"/>");
    }

    void File(int d, const ImageFile& f) {
        bool exe = f.relative == exeName;
        std::string fileId = exe ? "MainExe" : PathId('f', f.relative);
        OpenComponent(d, exe ? "MainExe" : PathId('c', f.relative));
        Line(d + 1, "<File Id=\"" + fileId + "\" Source=\"" + Xml(f.source) + "\" KeyPath=\"yes\"/>");
        if (exe && !s.service.name.empty()) Service(d + 1);
        Line(d, "</Component>");
    }

    // INSTALLDIR's own component: the remembered folder, which also makes the folder go at uninstall.
    void InstallDirComponent(int d) {
        OpenComponent(d, "InstallDir");
        Line(d + 1, "<CreateFolder/>");
        Line(d + 1, "<RemoveFolder Id=\"RemoveInstallDir\" On=\"uninstall\"/>");
        Line(d + 1, "<RegistryValue Root=\"" + root + "\" Key=\"" + appKey +
                        "\" Name=\"InstallDir\" Type=\"string\" Value=\"[INSTALLDIR]\" KeyPath=\"yes\"/>");
        Line(d, "</Component>");
        if (!s.licenseFile.empty()) {
            OpenComponent(d, "License");
            Line(d + 1, "<File Id=\"License\" Source=\"" + Xml(s.licenseFile) + "\" KeyPath=\"yes\"/>");
            Line(d, "</Component>");
        }
        if (s.associations.empty()) return;
        std::string classes = root == "HKLM" ? "HKLM" : "HKCU";
        OpenComponent(d, "Associations");
        bool first = true;
        for (const MsiAssociation& a : s.associations) {
            std::string progId = Formatted(s.productName + "." + a.extension);
            auto value = [&](const std::string& key, const std::string& v) {
                Line(d + 1, "<RegistryValue Root=\"" + classes + "\" Key=\"Software\\Classes\\" + key +
                                "\" Type=\"string\" Value=\"" + v + "\"" + (first ? " KeyPath=\"yes\"" : "") + "/>");
                first = false;
            };
            value("." + a.extension, progId);
            value(progId, Formatted(a.description));
            value(progId + "\\DefaultIcon", "&quot;[#MainExe]&quot;,0");
            value(progId + "\\shell\\open\\command", "&quot;[#MainExe]&quot; &quot;%1&quot;");
        }
        Line(d, "</Component>");
    }

    // The image's folders as nested Directory elements, each with its files.
    void Tree(int d, const std::string& dir, const std::map<std::string, std::vector<const ImageFile*>>& byDir,
              const std::map<std::string, std::set<std::string>>& children) {
        auto files = byDir.find(dir);
        if (files != byDir.end()) {
            for (const ImageFile* f : files->second) File(d, *f);
        }
        auto sub = children.find(dir);
        if (sub == children.end()) return;
        for (const std::string& child : sub->second) {
            std::string name = child.substr(child.rfind('/') + 1);
            Line(d, "<Directory Id=\"" + PathId('d', child) + "\" Name=\"" + Xml(name) + "\">");
            Tree(d + 1, child + "/", byDir, children);
            Line(d, "</Directory>");
        }
    }

    void Shortcut(int d, const std::string& id, const std::string& name, const std::string& target, bool icon) {
        Line(d, "<Shortcut Id=\"" + id + "\" Name=\"" + Xml(name) + "\" Target=\"" + target +
                    "\" WorkingDirectory=\"INSTALLDIR\"" + (icon ? " Icon=\"AppIcon.exe\"" : "") + "/>");
    }

    // A shortcut's component needs a key path of its own: a per-user value, as Windows Installer wants.
    void ShortcutComponent(int d, const std::string& dirId, const std::string& id, bool withLicense) {
        Line(d, "<DirectoryRef Id=\"" + dirId + "\">");
        OpenComponent(d + 1, id);
        Shortcut(d + 2, id, s.productName, "[#MainExe]", true);
        if (withLicense) Shortcut(d + 2, id + "License", s.productName + " licence", "[#License]", false);
        if (dirId == "AppMenuDir") Line(d + 2, "<RemoveFolder Id=\"RemoveAppMenuDir\" On=\"uninstall\"/>");
        Line(d + 2, "<RegistryValue Root=\"HKCU\" Key=\"" + appKey + "\" Name=\"" + id +
                        "\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>");
        Line(d + 1, "</Component>");
        Line(d, "</DirectoryRef>");
    }
};

}  // namespace

std::string WixSource(const MsiSettings& s, const std::string& exeName, const std::vector<ImageFile>& files) {
    Writer w{s,
             exeName,
             "",
             {},
             s.perUser ? "HKCU" : "HKLM",
             "Software\\" + Formatted(s.company) + "\\" + Formatted(s.productName)};
    std::map<std::string, std::vector<const ImageFile*>> byDir;  // "" for the top, else "lib/"
    std::map<std::string, std::set<std::string>> children;       // "lib/" -> "lib/x"
    for (const ImageFile& f : files) {
        size_t slash = f.relative.rfind('/');
        std::string dir = slash == std::string::npos ? "" : f.relative.substr(0, slash + 1);
        byDir[dir].push_back(&f);
        std::string parent;
        for (size_t at = dir.find('/'); at != std::string::npos; at = dir.find('/', at + 1)) {
            children[parent].insert(dir.substr(0, at));
            parent = dir.substr(0, at + 1);
        }
    }
    std::string name = Xml(s.productName), company = Xml(s.company);
    w.Line(0, "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    w.Line(0, "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">");
    w.Line(1, "<Product Id=\"*\" Name=\"" + name + "\" Manufacturer=\"" + company + "\" Version=\"" + s.version +
                  "\" Language=\"1033\" UpgradeCode=\"" + s.upgradeCode + "\">");
    w.Line(2, std::string("<Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"") +
                  (s.perUser ? "perUser" : "perMachine") + "\" Manufacturer=\"" + company + "\" Description=\"" + name +
                  " " + s.version + "\"/>");
    w.Line(2, "<MajorUpgrade DowngradeErrorMessage=\"A newer version of [ProductName] is already installed.\"/>");
    w.Line(2, "<Media Id=\"1\" Cabinet=\"app.cab\" EmbedCab=\"yes\"/>");
    for (const ImageFile& f : files) {
        if (f.relative == exeName) w.Line(2, "<Icon Id=\"AppIcon.exe\" SourceFile=\"" + Xml(f.source) + "\"/>");
    }
    w.Line(2, "<Property Id=\"ARPPRODUCTICON\" Value=\"AppIcon.exe\"/>");
    w.Line(2, "<Property Id=\"ARPNOMODIFY\" Value=\"1\"/>");
    w.Line(2, "<Property Id=\"ARPNOREPAIR\" Value=\"1\"/>");
    w.Line(2, "<CustomAction Id=\"SetARPINSTALLLOCATION\" Property=\"ARPINSTALLLOCATION\" Value=\"[INSTALLDIR]\"/>");
    // wixl places After= at the end of the sequence: the number puts it right after CostFinalize.
    w.Line(2,
           "<InstallExecuteSequence><Custom Action=\"SetARPINSTALLLOCATION\" "
           "Sequence=\"1001\"/></InstallExecuteSequence>");
    // An upgrade installs where the previous version is.
    w.Line(2, "<Property Id=\"INSTALLDIR\"><RegistrySearch Id=\"PreviousInstallDir\" Root=\"" + w.root + "\" Key=\"" +
                  w.appKey + "\" Name=\"InstallDir\" Type=\"raw\" Win64=\"yes\"/></Property>");
    w.Line(2, "<Directory Id=\"TARGETDIR\" Name=\"SourceDir\">");
    int d = 3;
    if (s.perUser) {
        w.Line(3, "<Directory Id=\"LocalAppDataFolder\">");
        w.Line(4, "<Directory Id=\"UserPrograms\" Name=\"Programs\">");
        d = 5;
    } else {
        w.Line(3, "<Directory Id=\"ProgramFiles64Folder\">");
        d = 4;
    }
    w.Line(d, "<Directory Id=\"INSTALLDIR\" Name=\"" + name + "\">");
    w.InstallDirComponent(d + 1);
    w.Tree(d + 1, "", byDir, children);
    w.Line(d, "</Directory>");
    if (s.perUser) {
        // Programs gets a component of its own to be removed (only when empty); its created-folder
        // row comes after INSTALLDIR's, so that INSTALLDIR is gone by then.
        w.OpenComponent(5, "UserPrograms");
        w.Line(6, "<CreateFolder/>");
        w.Line(6, "<RemoveFolder Id=\"RemoveUserPrograms\" On=\"uninstall\"/>");
        w.Line(6, "<RegistryValue Root=\"HKCU\" Key=\"" + w.appKey +
                      "\" Name=\"ProgramsFolder\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>");
        w.Line(5, "</Component>");
        w.Line(4, "</Directory>");
    }
    w.Line(3, "</Directory>");
    if (s.startMenuShortcut)
        w.Line(3,
               "<Directory Id=\"ProgramMenuFolder\"><Directory Id=\"AppMenuDir\" Name=\"" + name + "\"/></Directory>");
    if (s.desktopShortcut) w.Line(3, "<Directory Id=\"DesktopFolder\"/>");
    w.Line(2, "</Directory>");
    if (s.startMenuShortcut) w.ShortcutComponent(2, "AppMenuDir", "StartMenuShortcut", !s.licenseFile.empty());
    if (s.desktopShortcut) w.ShortcutComponent(2, "DesktopFolder", "DesktopShortcut", false);
    w.Line(2, "<Feature Id=\"Main\" Level=\"1\" Title=\"" + name + "\" Absent=\"disallow\">");
    for (const std::string& id : w.components) w.Line(3, "<ComponentRef Id=\"" + id + "\"/>");
    w.Line(2, "</Feature>");
    w.Line(1, "</Product>");
    w.Line(0, "</Wix>");
    return w.text;
}
