#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "pack/app_image.h"
#include "pack/msi_source.h"

namespace {

TEST(InstallerSettings, ValuesAreCheckedAsWindowsInstallerReadsThem) {
    struct {
        const char* text;
        const char* code;  // nullptr: refused
    } codes[] = {
        {"6f1c1a4e-2b7d-4c55-9a0e-3d2f8b9c0a11", "6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11"},
        {"{6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11}", "6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11"},
        {"6F1C1A4E2B7D4C559A0E3D2F8B9C0A11", nullptr},
        {"6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A1G", nullptr},
        {"{6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11", nullptr},
    };
    for (const auto& c : codes) {
        std::string code, error;
        EXPECT_EQ(ParseUpgradeCode(c.text, code, error), c.code != nullptr) << c.text;
        if (c.code) {
            EXPECT_EQ(code, c.code);
        }
    }
    struct {
        uint16_t v[4];
        const char* text;
    } versions[] = {{{1, 2, 3, 0}, "1.2.3"},
                    {{255, 255, 65535, 0}, "255.255.65535"},
                    {{256, 0, 0, 0}, nullptr},
                    {{1, 256, 0, 0}, nullptr},
                    {{1, 2, 3, 4}, nullptr}};
    for (const auto& v : versions) {
        std::string text, error;
        EXPECT_EQ(MsiVersionText(v.v, text, error), v.text != nullptr) << v.v[0] << "." << v.v[1];
        if (v.text) {
            EXPECT_EQ(text, v.text);
        }
    }
    struct {
        const char* list;
        bool ok, menu, desktop;
    } shortcuts[] = {{"start-menu", true, true, false},
                     {"desktop,start-menu", true, true, true},
                     {"start-menu,", false, true, false},
                     {"taskbar", false, false, false}};
    for (const auto& s : shortcuts) {
        MsiSettings settings;
        std::string error;
        EXPECT_EQ(ParseShortcuts(s.list, settings, error), s.ok) << s.list;
        if (s.ok) {
            EXPECT_EQ(std::make_pair(settings.startMenuShortcut, settings.desktopShortcut),
                      std::make_pair(s.menu, s.desktop))
                << s.list;
        }
    }
    struct {
        const char* spec;
        const char* ext;
        const char* description;
    } associations[] = {{".ldg:Ledger: book", "ldg", "Ledger: book"},
                        {"tar-gz:Archive", "tar-gz", "Archive"},
                        {"ldg:", nullptr, nullptr},
                        {":Book", nullptr, nullptr},
                        {"l g:Book", nullptr, nullptr},
                        {"a\\b:Book", nullptr, nullptr}};
    for (const auto& a : associations) {
        MsiAssociation got;
        std::string error;
        EXPECT_EQ(ParseAssociation(a.spec, got, error), a.ext != nullptr) << a.spec;
        if (a.ext) {
            EXPECT_EQ(got.extension + "|" + got.description, std::string(a.ext) + "|" + a.description);
        }
    }
    struct {
        const char* name;
        bool folder, ok;
    } names[] = {{"", false, false},
                 {"A\\B", false, false},
                 {"Co$(var.X)", false, false},
                 {"Tab\t", false, false},
                 {"Example Ltd.", false, true},
                 {"A/B: C", false, true},
                 {"Example Ltd.", true, false},
                 {"A/B", true, false},
                 {"Trail ", true, false},
                 {"Société [EU]", true, true}};
    for (const auto& n : names) {
        std::string error;
        EXPECT_EQ(CheckInstallName("the name", n.name, n.folder, error), n.ok) << n.name << " " << n.folder;
    }
}

TEST(InstallerSettings, JavaMajorOfReleaseVersions) {
    struct {
        const char* text;
        int major;
    } cases[] = {{"17.0.2", 17}, {"21", 21}, {"1.8.0_392", 8}, {"25-ea", 25}, {"", 0}, {"x17", 0}};
    for (const auto& c : cases) EXPECT_EQ(JavaMajor(c.text), c.major) << c.text;
}

// The value of attribute `name` in the tag starting at `at`, "" when it has none.
std::string Attribute(const std::string& text, size_t at, const std::string& name) {
    size_t end = text.find('>', at), found = text.find(" " + name + "=\"", at);
    if (found == std::string::npos || found > end) return "";
    found += name.size() + 3;
    return text.substr(found, text.find('"', found) - found);
}

// Every tag `<element ...` in order, as its start offsets.
std::vector<size_t> Tags(const std::string& text, const std::string& element) {
    std::vector<size_t> at;
    for (size_t i = text.find(element); i != std::string::npos; i = text.find(element, i + 1)) at.push_back(i);
    return at;
}

// The folder each File sits in, read back from the nesting of Directory elements.
std::map<std::string, std::string> FileFolders(const std::string& wxs) {
    std::map<std::string, std::string> folders;
    std::vector<std::string> stack;
    for (size_t i = wxs.find('<'); i != std::string::npos; i = wxs.find('<', i + 1)) {
        if (wxs.compare(i, 11, "<Directory ") == 0) {
            if (wxs[wxs.find('>', i) - 1] != '/') stack.push_back(Attribute(wxs, i, "Name"));
        } else if (wxs.compare(i, 12, "</Directory>") == 0) {
            if (stack.empty()) return {{"unbalanced", "</Directory>"}};
            stack.pop_back();
        } else if (wxs.compare(i, 6, "<File ") == 0) {
            std::string path;
            for (const std::string& d : stack) path += d.empty() ? "" : d + "/";
            folders[Attribute(wxs, i, "Source")] = path;
        }
    }
    return folders;
}

TEST(InstallerSource, FilesSitInTheirFoldersAndEveryComponentIsInstalled) {
    MsiSettings s;
    s.productName = "Ledger [Pro]";
    s.company = "Example";
    s.version = "1.2.3";
    s.upgradeCode = "6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11";
    s.associations = {{"ldg", "Book [1]"}};
    std::vector<ImageFile> files = {{"Ledger.exe", "/i/Ledger.exe"},
                                    {"jre/bin/java.dll", "/i/jre/bin/java.dll"},
                                    {"jre/bin/server/jvm.dll", "/i/jre/bin/server/jvm.dll"},
                                    {"jre/lib/jvm.cfg", "/i/jre/lib/jvm.cfg"},
                                    {"lib/a.jar", "/i/lib/a.jar"}};
    std::string wxs = WixSource(s, "Ledger.exe", files);
    std::map<std::string, std::string> expected = {
        {"/i/Ledger.exe", "SourceDir/Ledger [Pro]/"},
        {"/i/jre/bin/java.dll", "SourceDir/Ledger [Pro]/jre/bin/"},
        {"/i/jre/bin/server/jvm.dll", "SourceDir/Ledger [Pro]/jre/bin/server/"},
        {"/i/jre/lib/jvm.cfg", "SourceDir/Ledger [Pro]/jre/lib/"},
        {"/i/lib/a.jar", "SourceDir/Ledger [Pro]/lib/"}};
    EXPECT_EQ(FileFolders(wxs), expected) << wxs;
    std::set<std::string> components, refs;
    for (size_t at : Tags(wxs, "<Component ")) components.insert(Attribute(wxs, at, "Id"));
    for (size_t at : Tags(wxs, "<ComponentRef ")) refs.insert(Attribute(wxs, at, "Id"));
    EXPECT_EQ(components.size(), files.size() + 2);  // the install folder's and the association's
    EXPECT_EQ(refs, components);
    // Brackets in a registry value or key would be read as properties at install time.
    EXPECT_NE(wxs.find("Value=\"Book [\\[]1[\\]]\""), std::string::npos) << wxs;
    EXPECT_NE(wxs.find("Key=\"Software\\Example\\Ledger [\\[]Pro[\\]]\""), std::string::npos) << wxs;
    // The same path gives the same component in every build: upgrades replace files in place.
    EXPECT_EQ(wxs, WixSource(s, "Ledger.exe", files));
}

}  // namespace
