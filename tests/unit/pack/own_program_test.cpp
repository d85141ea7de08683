// What makes a packed exe the user's own program: icon, version details, console launcher, code
// page and signature handling. Windows' own reading of the result is checked under Wine
// (tests/e2e/test_own_program.py); these pin down the packer's choices and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "pack/manifest_code_page.h"
#include "pack/pack_tool.h"
#include "pack/pe_image.h"
#include "pack/version_info.h"
#include "test_support.h"

namespace {

using namespace packtest;

void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, uint16_t(v));
    Put16(b, uint16_t(v >> 16));
}
void Put32BigEndian(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}

// A 32-bit bitmap icon image: header, pixels, AND mask.
Bytes Bitmap(uint32_t side) {
    Bytes b;
    Put32(b, 40);
    Put32(b, side);
    Put32(b, side * 2);  // colour and mask rows
    Put16(b, 1);
    Put16(b, 32);
    b.resize(40, 0);
    b.resize(40 + side * side * 4 + (side + 31) / 32 * 4 * side, 0x5A);
    return b;
}

// The start of an RGBA PNG file: signature and header chunk, enough for the directory.
Bytes PngImage(uint32_t side) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    Put32BigEndian(b, side);
    Put32BigEndian(b, side);
    b.insert(b.end(), {8, 6, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF});
    return b;
}

struct IcoEntry {
    uint8_t width, height;
    uint16_t bitCount;  // 0: as many writers leave it
    Bytes data;
};

Bytes Ico(const std::vector<IcoEntry>& entries) {
    Bytes b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, uint16_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    for (const IcoEntry& e : entries) {
        b.insert(b.end(), {e.width, e.height, 0, 0});
        Put16(b, 1);
        Put16(b, e.bitCount);
        Put32(b, uint32_t(e.data.size()));
        Put32(b, offset);
        offset += uint32_t(e.data.size());
    }
    for (const IcoEntry& e : entries) b.insert(b.end(), e.data.begin(), e.data.end());
    return b;
}

VersionDetails ReadDetails(const std::optional<Bytes>& resource) {
    VersionDetails details;
    std::string error;
    EXPECT_TRUE(resource.has_value());
    if (resource) {
        EXPECT_TRUE(ReadVersionInfo(*resource, details, error)) << error;
    }
    return details;
}

std::string Text(const VersionDetails& details, const std::string& key) {
    const std::u16string* value = FindVersionString(details, key);
    return value == nullptr ? "(absent)" : Utf16ToUtf8(*value);
}

class OwnProgram : public ::testing::Test {
protected:
    TempDir dir;
    std::string launcher = fixture("checker_stripped.exe");
    std::string out = dir.path("My Tool.exe");

    std::string File(const std::string& name, const Bytes& content) {
        write_bytes(dir.path(name), content);
        return dir.path(name);
    }
    Outcome Pack(std::vector<std::string> extra) {
        // --force: these cases are about the exe's own details, not about a whole application.
        std::vector<std::string> args = {"--launcher", launcher, "--out", out, "--force"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCaptured(args);
    }
    std::optional<Bytes> Packed(const std::string& type, const std::string& name) {
        return find_like_windows(read_bytes(out), type, name, 1033);
    }
    // Every resource of the output whose numeric type is `type`.
    size_t CountOfType(uint16_t type) {
        Bytes image = read_bytes(out);
        PeInfo info;
        std::vector<Resource> resources;
        std::string error;
        EXPECT_TRUE(ParsePe(image, info, error) && ReadResources(image, info, resources, error))
            << error;
        size_t count = 0;
        for (const Resource& r : resources) count += !r.type.isString && r.type.id == type;
        return count;
    }
};

TEST_F(OwnProgram, IconBecomesOneGroupAndRepackingReplacesIt) {
    Bytes small = Bitmap(16), large = Bitmap(48), huge = PngImage(256);
    std::string ico = File("app.ico", Ico({{16, 16, 32, small}, {48, 48, 0, large}, {0, 0, 0, huge}}));
    Outcome r = Pack({"--icon", ico});
    ASSERT_EQ(r.status, 0) << r.err;

    std::optional<Bytes> group = Packed("#14", "#1");
    ASSERT_TRUE(group.has_value());
    ASSERT_EQ(group->size(), 6u + 3 * 14);
    EXPECT_EQ(get16(*group, 2), 1);  // icons, not cursors
    EXPECT_EQ(get16(*group, 4), 3);
    const Bytes* images[] = {&small, &large, &huge};
    const uint8_t sides[] = {16, 48, 0};  // 256 is stored as 0
    for (size_t i = 0; i < 3; ++i) {
        size_t e = 6 + 14 * i;
        EXPECT_EQ((*group)[e], sides[i]);
        EXPECT_EQ((*group)[e + 1], sides[i]);
        EXPECT_EQ(get16(*group, e + 6), 32) << "bit count of image " << i;
        EXPECT_EQ(get32(*group, e + 8), images[i]->size());
        EXPECT_EQ(Packed("#3", "#" + std::to_string(get16(*group, e + 12))), *images[i]) << "image " << i;
    }
    Outcome shown = RunCaptured({"--show", out});
    EXPECT_NE(shown.out.find("icon group 1: 16x16 32bpp, 48x48 32bpp, 256x256 32bpp png\n"), std::string::npos)
        << shown.out;

    launcher = File("first.exe", read_bytes(out));
    ASSERT_EQ(Pack({"--icon", File("other.ico", Ico({{32, 32, 32, Bitmap(32)}}))}).status, 0);
    EXPECT_EQ(CountOfType(14), 1u);
    EXPECT_EQ(CountOfType(3), 1u);
    EXPECT_NE(RunCaptured({"--show", out}).out.find("icon group 1: 32x32 32bpp\n"), std::string::npos);
}

TEST_F(OwnProgram, MalformedIconsAreRefusedWithoutOutput) {
    Bytes pastEnd = Ico({{16, 16, 32, Bitmap(16)}});
    pastEnd.resize(pastEnd.size() - 1);
    Bytes cutDirectory = Ico({{16, 16, 32, Bitmap(16)}, {32, 32, 32, Bitmap(32)}});
    cutDirectory.resize(6 + 16 + 8);
    Bytes cursor = Ico({{16, 16, 32, Bitmap(16)}});
    cursor[2] = 2;
    struct Case {
        const char* name;
        Bytes content;
        const char* message;
    } cases[] = {
        {"png.ico", PngImage(32), "not an .ico file: it is a PNG image"},
        {"empty.ico", Ico({}), "holds no images"},
        {"past-end.ico", pastEnd, "points past the end of the file"},
        {"cut.ico", cutDirectory, "icon directory is cut short"},
        {"cursor.ico", cursor, "a cursor file, not an icon"},
        {"text.ico", Ico({{16, 16, 32, text("just some text here, forty bytes or more...")}}),
         "neither a PNG image nor a bitmap"},
        {"big.ico", Ico({{0, 0, 32, PngImage(512)}}), "512x512 pixels; an icon image is at most 256x256"},
        {"none.ico", Bytes(), "not an .ico file"},
    };
    std::vector<std::string> inputs;
    for (const Case& c : cases) {
        std::string path = File(c.name, c.content);
        inputs.push_back(c.name);
        Outcome r = Pack({"--icon", path, "--main-class", "a.B"});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.err.rfind("quorvia-pack: " + path + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    for (const std::string& name : dir.entries()) {
        EXPECT_NE(std::find(inputs.begin(), inputs.end(), name), inputs.end()) << "left behind: " << name;
    }
}

TEST_F(OwnProgram, VersionDetailsDefaultToTheOutputName) {
    ASSERT_EQ(Pack({"--main-class", "a.B"}).status, 0);
    VersionDetails details = ReadDetails(Packed("#16", "#1"));
    EXPECT_EQ(Text(details, "FileDescription"), "My Tool");
    EXPECT_EQ(Text(details, "ProductName"), "My Tool");
    EXPECT_EQ(Text(details, "InternalName"), "My Tool");
    EXPECT_EQ(Text(details, "OriginalFilename"), "My Tool.exe");
    EXPECT_EQ(VersionNumberText(details.fileVersion), "1.0.0.0");
}

TEST_F(OwnProgram, VersionOptionsRewriteTheDetailsAndRepackingKeepsThoseNotNamed) {
    Outcome r = Pack({"--product-name", "Outil Ünïcode €", "--product-version", "2.5", "--file-version",
                      "65535.0.7.1", "--file-description", "Builds things", "--company", "Example Ltd.",
                      "--copyright", "© 2026 Example", "--original-filename", "tool.exe", "--internal-name", "tool"});
    ASSERT_EQ(r.status, 0) << r.err;
    VersionDetails details = ReadDetails(Packed("#16", "#1"));
    EXPECT_EQ(Text(details, "ProductName"), "Outil Ünïcode €");
    EXPECT_EQ(Text(details, "ProductVersion"), "2.5");
    EXPECT_EQ(Text(details, "FileVersion"), "65535.0.7.1");
    EXPECT_EQ(Text(details, "FileDescription"), "Builds things");
    EXPECT_EQ(Text(details, "CompanyName"), "Example Ltd.");
    EXPECT_EQ(Text(details, "LegalCopyright"), "© 2026 Example");
    EXPECT_EQ(Text(details, "OriginalFilename"), "tool.exe");
    EXPECT_EQ(Text(details, "InternalName"), "tool");
    EXPECT_EQ(VersionNumberText(details.fileVersion), "65535.0.7.1");
    EXPECT_EQ(VersionNumberText(details.productVersion), "2.5.0.0");
    EXPECT_NE(RunCaptured({"--show", out}).out.find("version LegalCopyright=\"© 2026 Example\"\n"), std::string::npos);

    launcher = File("first.exe", read_bytes(out));
    out = dir.path("Renamed.exe");
    ASSERT_EQ(Pack({"--file-version", "3"}).status, 0);
    details = ReadDetails(Packed("#16", "#1"));
    EXPECT_EQ(Text(details, "FileVersion"), "3");
    EXPECT_EQ(VersionNumberText(details.fileVersion), "3.0.0.0");
    EXPECT_EQ(Text(details, "ProductName"), "Outil Ünïcode €");
    EXPECT_EQ(Text(details, "OriginalFilename"), "tool.exe");
    EXPECT_EQ(VersionNumberText(details.productVersion), "2.5.0.0");
}

TEST_F(OwnProgram, ABareLaunchersOwnDetailsAreNotCarriedOverAnEarlierPacksAre) {
    // The launcher as built: no launch resources, its own product's version details.
    Bytes image = read_bytes(launcher);
    PeInfo info;
    std::vector<Resource> resources;
    std::string error;
    ASSERT_TRUE(ParsePe(image, info, error) && ReadResources(image, info, resources, error));
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource& r) {
                                       return r.type.isString && r.type.text == u"MAIN-CLASS";
                                   }),
                    resources.end());
    VersionDetails own;
    own.fileVersion[0] = 3;
    own.strings = {{"CompanyName", u"Quorvia Ltd."}, {"ProductName", u"Quorvia Launcher"}, {"FileVersion", u"3.0"}};
    Resource version;
    version.type = NumericName(16);
    version.name = NumericName(1);
    version.lang = NumericName(1033);
    ASSERT_TRUE(BuildVersionInfo(own, version.data, error));
    resources.push_back(version);
    ASSERT_TRUE(WriteResources(image, resources, error)) << error;
    launcher = File("launcher.exe", image);

    ASSERT_EQ(Pack({"--company", "Example Ltd."}).status, 0);
    VersionDetails details = ReadDetails(Packed("#16", "#1"));
    EXPECT_EQ(Text(details, "ProductName"), "My Tool");
    EXPECT_EQ(Text(details, "FileVersion"), "1.0");
    EXPECT_EQ(Text(details, "CompanyName"), "Example Ltd.");
    EXPECT_EQ(VersionNumberText(details.fileVersion), "1.0.0.0");

    // Packed with version details alone, it is still an earlier pack whose details carry over.
    launcher = File("first.exe", read_bytes(out));
    out = dir.path("Second.exe");
    ASSERT_EQ(Pack({"--file-version", "2"}).status, 0);
    details = ReadDetails(Packed("#16", "#1"));
    EXPECT_EQ(Text(details, "CompanyName"), "Example Ltd.");
    EXPECT_EQ(Text(details, "OriginalFilename"), "My Tool.exe");
}

TEST_F(OwnProgram, BadVersionInputIsRefusedWithoutOutput) {
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "65536", "1.70000", "-1", "1a", " 1", "v1", "1,2"}) {
        Outcome r = Pack({"--file-version", bad});
        EXPECT_EQ(r.status, 1) << "'" << bad << "'";
        EXPECT_NE(r.err.find("FileVersion must be 1 to 4 numbers from 0 to 65535"), std::string::npos) << r.err;
    }
    EXPECT_EQ(Pack({"--product-version", "4.x"}).status, 1);
    Outcome tooLong = Pack({"--copyright", std::string(4001, 'c')});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.err.find("LegalCopyright text is 4001 characters long"), std::string::npos) << tooLong.err;
    Outcome notUtf8 = Pack({"--company", "caf\xE9"});
    EXPECT_EQ(notUtf8.status, 1);
    EXPECT_NE(notUtf8.err.find("CompanyName text is not valid UTF-8"), std::string::npos) << notUtf8.err;
    EXPECT_EQ(Pack({"--product-name", ""}).status, 1);
    EXPECT_TRUE(dir.entries().empty());
    // The largest values still fit: eight texts at the limit make one valid resource.
    std::string most(4000, 'x');
    ASSERT_EQ(Pack({"--product-name", most, "--file-description", most, "--company", most, "--copyright", most,
                    "--original-filename", most, "--internal-name", most})
                  .status,
              0);
    EXPECT_EQ(Text(ReadDetails(Packed("#16", "#1")), "LegalCopyright"), most);
}

TEST_F(OwnProgram, ConsolePicksTheConsoleLauncherBesideTheTool) {
    File("launcher-console.exe", read_bytes(launcher));
    Outcome r = RunCaptured({"--console", "--out", out, "--main-class", "a.B", "--force"}, dir.path("launcher.exe"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Packed("MAIN-CLASS", "#3000").has_value());
    Outcome both = RunCaptured({"--console", "--launcher", launcher, "--out", dir.path("x.exe")});
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("cannot be combined with --launcher"), std::string::npos) << both.err;
}

TEST_F(OwnProgram, StripSignatureRemovesTheCertificateTable) {
    Bytes unsignedImage = read_bytes(launcher);
    ASSERT_EQ(unsignedImage.size() % 8, 0u);
    Bytes signedImage = unsignedImage;
    Bytes certificate = {24, 0, 0, 0, 0x00, 0x02, 0x02, 0x00};  // WIN_CERTIFICATE, PKCS#7
    certificate.resize(24, 0x30);
    signedImage.insert(signedImage.end(), certificate.begin(), certificate.end());
    size_t opt = optional_header_offset(signedImage);
    set32(signedImage, opt + 112 + 32, uint32_t(unsignedImage.size()));
    set32(signedImage, opt + 112 + 36, uint32_t(certificate.size()));
    launcher = File("signed.exe", signedImage);

    Outcome refused = Pack({"--main-class", "a.B"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("code signature"), std::string::npos) << refused.err;

    Outcome r = Pack({"--main-class", "a.B", "--strip-signature"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: " + launcher + ": removed its code signature"), std::string::npos) << r.err;
    Bytes stripped = read_bytes(out);
    EXPECT_EQ(get32(stripped, opt + 112 + 32), 0u);
    EXPECT_EQ(get32(stripped, opt + 112 + 36), 0u);
    EXPECT_EQ(get32(stripped, opt + 64), reference_checksum(stripped));
    // The same as packing the exe before it was signed.
    launcher = File("unsigned.exe", unsignedImage);
    ASSERT_EQ(Pack({"--main-class", "a.B"}).status, 0);
    EXPECT_EQ(read_bytes(out), stripped);
}

TEST_F(OwnProgram, Utf8SetsTheCodePageInTheManifestOnce) {
    ASSERT_EQ(Pack({"--utf8"}).status, 0);
    launcher = File("first.exe", read_bytes(out));
    ASSERT_EQ(Pack({"--utf8"}).status, 0);
    std::optional<Bytes> manifest = Packed("#24", "#1");
    ASSERT_TRUE(manifest.has_value());
    std::string text(manifest->begin(), manifest->end());
    const std::string element =
        "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>";
    size_t at = text.find(element);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(element, at + 1), std::string::npos) << "added twice: " << text;
    EXPECT_LT(text.find("<windowsSettings>"), at);
    EXPECT_GT(text.find("</windowsSettings>"), at);

    // A manifest without application settings gets them.
    std::string plain = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n</assembly>\n",
                updated, error;
    ASSERT_TRUE(AddUtf8CodePage(plain, updated, error));
    EXPECT_NE(updated.find("<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n    <windowsSettings>\n      " +
                           element + "\n    </windowsSettings>\n  </application>\n</assembly>"),
              std::string::npos)
        << updated;
    EXPECT_FALSE(AddUtf8CodePage("<assembly>", updated, error));
}

}  // namespace
