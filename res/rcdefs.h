// Window styles and language ids for the resource scripts, which are
// compiled without the platform headers.
#pragma once

#define WS_CHILD                0x40000000
#define WS_VISIBLE              0x10000000
#define WS_BORDER               0x00800000
#define WS_VSCROLL              0x00200000
#define WS_GROUP                0x00020000
#define WS_TABSTOP              0x00010000
#define DS_SETFONT              0x00000040
#define DS_MODALFRAME           0x00000080
#define SS_LEFT                 0x00000000
#define SS_BITMAP               0x0000000E
#define SS_SUNKEN               0x00001000
#define BS_AUTOCHECKBOX         0x00000003
#define LBS_NOTIFY              0x00000001
#define VOS_NT_WINDOWS32        0x00040004
#define VFT_APP                 0x00000001
#define VFT2_UNKNOWN            0x00000000

// Window class atoms of the controls, so that the templates name the
// class by ordinal as the resource compiler's own statements do.
#define CLASS_STATIC            0x0082
#define CLASS_LISTBOX           0x0083

#define LANG_NEUTRAL            0x00
#define LANG_CHINESE            0x04
#define LANG_DANISH             0x06
#define LANG_GERMAN             0x07
#define LANG_ENGLISH            0x09
#define LANG_SPANISH            0x0a
#define LANG_FINNISH            0x0b
#define LANG_FRENCH             0x0c
#define LANG_ITALIAN            0x10
#define LANG_JAPANESE           0x11
#define LANG_DUTCH              0x13
#define LANG_NORWEGIAN          0x14
#define LANG_PORTUGUESE         0x16
#define LANG_SWEDISH            0x1d
#define SUBLANG_NEUTRAL         0x00
#define SUBLANG_DEFAULT         0x01
#define SUBLANG_CHINESE_TRADITIONAL 0x01
#define SUBLANG_CHINESE_SIMPLIFIED  0x02
