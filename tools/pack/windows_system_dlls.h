// DLLs that every supported Windows (10 and later, x64) has in System32, so that a runtime need not
// ship them. Reviewed list; keep it short and sure. It holds:
//  - the KnownDLLs of Windows 10 (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs);
//  - the core system DLLs every desktop edition installs (user interface, networking, security);
//  - ucrtbase.dll and the API sets, which Windows 10 carries as part of the system: names that end
//    in '*' are prefixes standing for a whole family of api-ms-win-* sets.
// Not here, on purpose: the Visual C++ runtime (VCRUNTIME140.dll, VCRUNTIME140_1.dll, MSVCP140.dll
// and their relatives), which a clean PC does not have; a runtime must carry them in its bin folder.
#pragma once

inline constexpr const char* kWindowsSystemDlls[] = {
    // KnownDLLs
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
    "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
    "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "wow64.dll", "ws2_32.dll",
    // Core system DLLs
    "ntdll.dll", "kernelbase.dll", "ucrtbase.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll",
    "dbghelp.dll", "dnsapi.dll", "dwmapi.dll", "iphlpapi.dll", "mpr.dll", "msimg32.dll", "mswsock.dll",
    "ncrypt.dll", "netapi32.dll", "ntdsapi.dll", "opengl32.dll", "glu32.dll", "pdh.dll", "powrprof.dll",
    "secur32.dll", "userenv.dll", "uxtheme.dll", "version.dll", "winhttp.dll", "wininet.dll", "winmm.dll",
    "winspool.drv", "wintrust.dll", "wsock32.dll", "d3d9.dll", "d3d11.dll", "dxgi.dll", "urlmon.dll",
    "cfgmgr32.dll", "credui.dll", "oledlg.dll",
    // API sets
    "api-ms-win-core-*", "api-ms-win-crt-*", "api-ms-win-security-*", "api-ms-win-eventing-*",
    "api-ms-win-shcore-*",
};
