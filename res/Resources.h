// Identifiers of the program's dialogs, controls, strings and icon, and its string table.
#pragma once

#include <string_view>

// Dialogs.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_SORVELL_DIALOG = 102;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;

// Icon 128: one image of 16 x 16 and one of 32 x 32 pixels, 5 colours each, made from
// icons/sorvell.svg as the installed images are.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr const char* IconImage16 = ":/sorvell/icons/sorvell-16.png";
inline constexpr const char* IconImage32 = ":/sorvell/icons/sorvell-32.png";

// Controls of the main dialog. OK is the system's IDOK (1), which the platform layer defines
// (WinSerial.h).
inline constexpr int IDC_AUTOSET = 1000;
inline constexpr int IDC_MARGIN = 1001;
inline constexpr int IDC_RESET = 1002;
inline constexpr int IDC_STEPSIZE = 1004;
inline constexpr int IDC_MINLIMIT = 1006;
inline constexpr int IDC_MAXLIMIT = 1007;
inline constexpr int IDC_LIVEDATA = 1008;
inline constexpr int IDC_ERRORDATA = 1009;

// The string table; an id without an entry loads as an empty string.
constexpr std::string_view LoadResourceString(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return "&About Sorvell...";
        default:
            return {};
    }
}
