// Names that come from a package (files, resources, class path entries, version strings) as the
// packer's text reports print them: no name can move the cursor, recolour the terminal or forge a
// line of the report.
#pragma once

#include <string>

// Control characters (C0, DEL, and C1 written in UTF-8) and bytes that are not UTF-8 become \xNN;
// the rest, UTF-8 letters included, stays as it is.
std::string PrintableText(const std::string& text);
// The same between double quotes, with " and \ escaped too, so that the exact bytes can be read back.
std::string QuotedPrintableText(const std::string& text);
