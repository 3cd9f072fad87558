// setupapi of the simulated machine: INF files, section installation, file
// queues and their default callback, the setup prompts and the device
// installer, in ANSI and wide forms.
#pragma once
#include "windows.h"

#ifndef ANYSIZE_ARRAY
#define ANYSIZE_ARRAY 1
#endif

typedef PVOID HINF;
typedef PVOID HDEVINFO;
typedef PVOID HSPFILEQ;

// Limits.
#define LINE_LEN 256
#define MAX_INF_STRING_LENGTH 4096
#define MAX_TITLE_LEN 60
#define MAX_INSTRUCTION_LEN 256
#define MAX_LABEL_LEN 30
#define MAX_SERVICE_NAME_LEN 256
#define MAX_SUBTITLE_LEN 256
#define MAX_CLASS_NAME_LEN 32
#define MAX_DEVICE_ID_LEN 200
#define MAX_DEVNODE_ID_LEN MAX_DEVICE_ID_LEN

typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;

typedef struct _SP_INF_INFORMATION {
    DWORD InfStyle;
    DWORD InfCount;
    BYTE VersionData[ANYSIZE_ARRAY];
} SP_INF_INFORMATION, *PSP_INF_INFORMATION;

#define INF_STYLE_NONE 0x00000000
#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002

// SetupGetInfInformation: what InfSpec names.
#define INFINFO_INF_SPEC_IS_HINF 1
#define INFINFO_INF_NAME_IS_ABSOLUTE 2
#define INFINFO_DEFAULT_SEARCH 3
#define INFINFO_REVERSE_DEFAULT_SEARCH 4
#define INFINFO_INF_PATH_LIST_SEARCH 5

// SetupGetSourceInfo
#define SRCINFO_PATH 1
#define SRCINFO_TAGFILE 2
#define SRCINFO_DESCRIPTION 3

// SetupGetFileCompressionInfo
#define FILE_COMPRESSION_NONE 0
#define FILE_COMPRESSION_WINLZA 1
#define FILE_COMPRESSION_MSZIP 2
#define FILE_COMPRESSION_NTCAB 3

#define DIRID_ABSOLUTE -1
#define DIRID_ABSOLUTE_16BIT 0xffff
#define DIRID_NULL 0
#define DIRID_SRCPATH 1
#define DIRID_WINDOWS 10
#define DIRID_SYSTEM 11
#define DIRID_DRIVERS 12
#define DIRID_IOSUBSYS DIRID_DRIVERS
#define DIRID_INF 17
#define DIRID_HELP 18
#define DIRID_FONTS 20
#define DIRID_VIEWERS 21
#define DIRID_COLOR 23
#define DIRID_APPS 24
#define DIRID_SHARED 25
#define DIRID_BOOT 30
#define DIRID_SYSTEM16 50
#define DIRID_SPOOL 51
#define DIRID_SPOOLDRIVERS 52
#define DIRID_USERPROFILE 53
#define DIRID_LOADER 54
#define DIRID_PRINTPROCESSOR 55
#define DIRID_DEFAULT DIRID_SYSTEM
#define DIRID_USER 0x8000

#define SPINST_LOGCONFIG 0x00000001
#define SPINST_INIFILES 0x00000002
#define SPINST_REGISTRY 0x00000004
#define SPINST_INI2REG 0x00000008
#define SPINST_FILES 0x00000010
#define SPINST_ALL 0x0000001f
#define SPINST_SINGLESECTION 0x00010000
#define SPINST_LOGCONFIG_IS_FORCED 0x00020000
#define SPINST_LOGCONFIGS_ARE_OVERRIDES 0x00040000

#define SP_COPY_DELETESOURCE 0x0000001
#define SP_COPY_REPLACEONLY 0x0000002
#define SP_COPY_NEWER 0x0000004
#define SP_COPY_NEWER_OR_SAME SP_COPY_NEWER
#define SP_COPY_NOOVERWRITE 0x0000008
#define SP_COPY_NODECOMP 0x0000010
#define SP_COPY_LANGUAGEAWARE 0x0000020
#define SP_COPY_SOURCE_ABSOLUTE 0x0000040
#define SP_COPY_SOURCEPATH_ABSOLUTE 0x0000080
#define SP_COPY_IN_USE_NEEDS_REBOOT 0x0000100
#define SP_COPY_FORCE_IN_USE 0x0000200
#define SP_COPY_NOSKIP 0x0000400
#define SP_FLAG_CABINETCONTINUATION 0x0000800
#define SP_COPY_FORCE_NOOVERWRITE 0x0001000
#define SP_COPY_FORCE_NEWER 0x0002000
#define SP_COPY_WARNIFSKIP 0x0004000
#define SP_COPY_NOBROWSE 0x0008000

// Flags of a CopyFiles list's lines.
#define COPYFLG_WARN_IF_SKIP 0x00000001
#define COPYFLG_NOSKIP 0x00000002
#define COPYFLG_NOVERSIONCHECK 0x00000004
#define COPYFLG_FORCE_FILE_IN_USE 0x00000008
#define COPYFLG_NO_OVERWRITE 0x00000010
#define COPYFLG_NO_VERSION_DIALOG 0x00000020
#define COPYFLG_OVERWRITE_OLDER_ONLY 0x00000040
#define COPYFLG_REPLACEONLY 0x00000400

// Flags of a DelFiles list's lines.
#define DELFLG_IN_USE 0x00000001

// Flags of the service directives.
#define SPSVCINST_TAGTOFRONT 0x00000001
#define SPSVCINST_ASSOCSERVICE 0x00000002
#define SPSVCINST_DELETEEVENTLOGENTRY 0x00000004
#define SPSVCINST_NOCLOBBER_DISPLAYNAME 0x00000008
#define SPSVCINST_NOCLOBBER_STARTTYPE 0x00000010
#define SPSVCINST_NOCLOBBER_ERRORCONTROL 0x00000020
#define SPSVCINST_NOCLOBBER_LOADORDERGROUP 0x00000040
#define SPSVCINST_NOCLOBBER_DEPENDENCIES 0x00000080
#define SPSVCINST_STOPSERVICE 0x00000200

// AddReg/DelReg flags.
#define FLG_ADDREG_BINVALUETYPE 0x00000001
#define FLG_ADDREG_NOCLOBBER 0x00000002
#define FLG_ADDREG_DELVAL 0x00000004
#define FLG_ADDREG_APPEND 0x00000008
#define FLG_ADDREG_KEYONLY 0x00000010
#define FLG_ADDREG_OVERWRITEONLY 0x00000020
#define FLG_ADDREG_TYPE_MASK 0xFFFF0001
#define FLG_ADDREG_TYPE_SZ 0x00000000
#define FLG_ADDREG_TYPE_MULTI_SZ 0x00010000
#define FLG_ADDREG_TYPE_EXPAND_SZ 0x00020000
#define FLG_ADDREG_TYPE_BINARY (0x00000000 | FLG_ADDREG_BINVALUETYPE)
#define FLG_ADDREG_TYPE_DWORD (0x00010000 | FLG_ADDREG_BINVALUETYPE)
#define FLG_ADDREG_TYPE_NONE (0x00020000 | FLG_ADDREG_BINVALUETYPE)
#define FLG_DELREG_VALUE 0x00000000

// Notifications of a file queue to its callback.
#define SPFILENOTIFY_STARTQUEUE 0x00000001
#define SPFILENOTIFY_ENDQUEUE 0x00000002
#define SPFILENOTIFY_STARTSUBQUEUE 0x00000003
#define SPFILENOTIFY_ENDSUBQUEUE 0x00000004
#define SPFILENOTIFY_STARTDELETE 0x00000005
#define SPFILENOTIFY_ENDDELETE 0x00000006
#define SPFILENOTIFY_DELETEERROR 0x00000007
#define SPFILENOTIFY_STARTRENAME 0x00000008
#define SPFILENOTIFY_ENDRENAME 0x00000009
#define SPFILENOTIFY_RENAMEERROR 0x0000000a
#define SPFILENOTIFY_STARTCOPY 0x0000000b
#define SPFILENOTIFY_ENDCOPY 0x0000000c
#define SPFILENOTIFY_COPYERROR 0x0000000d
#define SPFILENOTIFY_NEEDMEDIA 0x0000000e
#define SPFILENOTIFY_QUEUESCAN 0x0000000f
#define SPFILENOTIFY_CABINETINFO 0x00000010
#define SPFILENOTIFY_FILEINCABINET 0x00000011
#define SPFILENOTIFY_NEEDNEWCABINET 0x00000012
#define SPFILENOTIFY_FILEEXTRACTED 0x00000013
#define SPFILENOTIFY_FILEOPDELAYED 0x00000014
#define SPFILENOTIFY_LANGMISMATCH 0x00010000
#define SPFILENOTIFY_TARGETEXISTS 0x00020000
#define SPFILENOTIFY_TARGETNEWER 0x00040000

#define FILEOP_COPY 0
#define FILEOP_RENAME 1
#define FILEOP_DELETE 2
#define FILEOP_ABORT 0
#define FILEOP_DOIT 1
#define FILEOP_SKIP 2
#define FILEOP_RETRY FILEOP_DOIT
#define FILEOP_NEWPATH 4

typedef UINT (CALLBACK* PSP_FILE_CALLBACK_A)(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);
typedef UINT (CALLBACK* PSP_FILE_CALLBACK_W)(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);

typedef struct _FILEPATHS_A {
    PCSTR Target;
    PCSTR Source;
    UINT Win32Error;
    DWORD Flags;
} FILEPATHS_A, *PFILEPATHS_A;

typedef struct _FILEPATHS_W {
    PCWSTR Target;
    PCWSTR Source;
    UINT Win32Error;
    DWORD Flags;
} FILEPATHS_W, *PFILEPATHS_W;

typedef struct _SOURCE_MEDIA_A {
    PCSTR Reserved;
    PCSTR Tagfile;
    PCSTR Description;
    PCSTR SourcePath;
    PCSTR SourceFile;
    DWORD Flags;
} SOURCE_MEDIA_A, *PSOURCE_MEDIA_A;

typedef struct _SOURCE_MEDIA_W {
    PCWSTR Reserved;
    PCWSTR Tagfile;
    PCWSTR Description;
    PCWSTR SourcePath;
    PCWSTR SourceFile;
    DWORD Flags;
} SOURCE_MEDIA_W, *PSOURCE_MEDIA_W;

// SetupPromptForDisk and the error prompts.
#define IDF_NOBROWSE 0x00000001
#define IDF_NOSKIP 0x00000002
#define IDF_NODETAILS 0x00000004
#define IDF_NOCOMPRESSED 0x00000008
#define IDF_CHECKFIRST 0x00000100
#define IDF_NOBEEP 0x00000200
#define IDF_NOFOREGROUND 0x00000400
#define IDF_WARNIFSKIP 0x00000800
#define DPROMPT_SUCCESS 0
#define DPROMPT_CANCEL 1
#define DPROMPT_SKIPFILE 2
#define DPROMPT_BUFFERTOOSMALL 3
#define DPROMPT_OUTOFMEMORY 4

// Restart prompt.
#define SPFILEQ_FILE_IN_USE 0x00000001
#define SPFILEQ_REBOOT_RECOMMENDED 0x00000002
#define SPFILEQ_REBOOT_IN_PROGRESS 0x00000004

// The device installer. The records keep their natural layout: 28, 1548,
// 780 and 556 bytes on 32-bit Windows, larger where pointers are wider.
typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

// NT 4.0 knows only the first layout of a driver record.
typedef struct _SP_DRVINFO_DATA_V1_A {
    DWORD cbSize;
    DWORD DriverType;
    ULONG_PTR Reserved;
    CHAR Description[LINE_LEN];
    CHAR MfgName[LINE_LEN];
    CHAR ProviderName[LINE_LEN];
} SP_DRVINFO_DATA_V1_A, *PSP_DRVINFO_DATA_V1_A;

typedef struct _SP_DRVINFO_DATA_V1_W {
    DWORD cbSize;
    DWORD DriverType;
    ULONG_PTR Reserved;
    WCHAR Description[LINE_LEN];
    WCHAR MfgName[LINE_LEN];
    WCHAR ProviderName[LINE_LEN];
} SP_DRVINFO_DATA_V1_W, *PSP_DRVINFO_DATA_V1_W;
typedef SP_DRVINFO_DATA_V1_A SP_DRVINFO_DATA_A;
typedef PSP_DRVINFO_DATA_V1_A PSP_DRVINFO_DATA_A;
typedef SP_DRVINFO_DATA_V1_W SP_DRVINFO_DATA_W;
typedef PSP_DRVINFO_DATA_V1_W PSP_DRVINFO_DATA_W;

typedef struct _SP_DRVINFO_DETAIL_DATA_A {
    DWORD cbSize;
    FILETIME InfDate;
    DWORD CompatIDsOffset;
    DWORD CompatIDsLength;
    ULONG_PTR Reserved;
    CHAR SectionName[LINE_LEN];
    CHAR InfFileName[MAX_PATH];
    CHAR DrvDescription[LINE_LEN];
    CHAR HardwareID[ANYSIZE_ARRAY];
} SP_DRVINFO_DETAIL_DATA_A, *PSP_DRVINFO_DETAIL_DATA_A;

typedef struct _SP_DRVINFO_DETAIL_DATA_W {
    DWORD cbSize;
    FILETIME InfDate;
    DWORD CompatIDsOffset;
    DWORD CompatIDsLength;
    ULONG_PTR Reserved;
    WCHAR SectionName[LINE_LEN];
    WCHAR InfFileName[MAX_PATH];
    WCHAR DrvDescription[LINE_LEN];
    WCHAR HardwareID[ANYSIZE_ARRAY];
} SP_DRVINFO_DETAIL_DATA_W, *PSP_DRVINFO_DETAIL_DATA_W;

typedef struct _SP_DRVINSTALL_PARAMS {
    DWORD cbSize;
    DWORD Rank;
    DWORD Flags;
    DWORD_PTR PrivateData;
    DWORD Reserved;
} SP_DRVINSTALL_PARAMS, *PSP_DRVINSTALL_PARAMS;

// SP_DRVINSTALL_PARAMS Flags.
#define DNF_DUPDESC 0x00000001
#define DNF_OLDDRIVER 0x00000002
#define DNF_EXCLUDEFROMLIST 0x00000004
#define DNF_NODRIVER 0x00000008
#define DNF_LEGACYINF 0x00000010
#define DNF_CLASS_DRIVER 0x00000020
#define DNF_COMPATIBLE_DRIVER 0x00000040
#define DNF_INET_DRIVER 0x00000080

typedef struct _SP_DEVINSTALL_PARAMS_A {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PSP_FILE_CALLBACK_A InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    CHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_A, *PSP_DEVINSTALL_PARAMS_A;

typedef struct _SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    PSP_FILE_CALLBACK_W InstallMsgHandler;
    PVOID InstallMsgHandlerContext;
    HSPFILEQ FileQueue;
    ULONG_PTR ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_W, *PSP_DEVINSTALL_PARAMS_W;

typedef DWORD DI_FUNCTION;

// The header of every class install parameter record.
typedef struct _SP_CLASSINSTALL_HEADER {
    DWORD cbSize;
    DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_REMOVEDEVICE_PARAMS {
    SP_CLASSINSTALL_HEADER ClassInstallHeader;
    DWORD Scope;
    DWORD HwProfile;
} SP_REMOVEDEVICE_PARAMS, *PSP_REMOVEDEVICE_PARAMS;
#define DI_REMOVEDEVICE_GLOBAL 0x00000001
#define DI_REMOVEDEVICE_CONFIGSPECIFIC 0x00000002

// SetupDiCreateDeviceInfo
#define DICD_GENERATE_ID 0x00000001
#define DICD_INHERIT_CLASSDRVS 0x00000002

// SetupDiOpenDeviceInfo
#define DIOD_INHERIT_CLASSDRVS 0x00000002
#define DIOD_CANCEL_REMOVE 0x00000004

// SetupDiRegisterDeviceInfo
#define SPRDI_FIND_DUPS 0x00000001

// SetupDiOpenClassRegKeyEx
#define DIOCR_INSTALLER 0x00000001
#define DIOCR_INTERFACE 0x00000002

// Driver list types.
#define SPDIT_NODRIVER 0x00000000
#define SPDIT_CLASSDRIVER 0x00000001
#define SPDIT_COMPATDRIVER 0x00000002

// SetupDiGetClassDevs
#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

// SetupDiBuildClassInfoList
#define DIBCI_NOINSTALLCLASS 0x00000001
#define DIBCI_NODISPLAYCLASS 0x00000002

// Device installation functions.
#define DIF_SELECTDEVICE 0x00000001
#define DIF_INSTALLDEVICE 0x00000002
#define DIF_ASSIGNRESOURCES 0x00000003
#define DIF_PROPERTIES 0x00000004
#define DIF_REMOVE 0x00000005
#define DIF_FIRSTTIMESETUP 0x00000006
#define DIF_FOUNDDEVICE 0x00000007
#define DIF_SELECTCLASSDRIVERS 0x00000008
#define DIF_VALIDATECLASSDRIVERS 0x00000009
#define DIF_INSTALLCLASSDRIVERS 0x0000000A
#define DIF_CALCDISKSPACE 0x0000000B
#define DIF_DESTROYPRIVATEDATA 0x0000000C
#define DIF_VALIDATEDRIVER 0x0000000D
#define DIF_MOVEDEVICE 0x0000000E
#define DIF_DETECT 0x0000000F
#define DIF_INSTALLWIZARD 0x00000010
#define DIF_DESTROYWIZARDDATA 0x00000011
#define DIF_PROPERTYCHANGE 0x00000012
#define DIF_ENABLECLASS 0x00000013
#define DIF_DETECTVERIFY 0x00000014
#define DIF_INSTALLDEVICEFILES 0x00000015
#define DIF_UNREMOVE 0x00000016
#define DIF_SELECTBESTCOMPATDRV 0x00000017
#define DIF_ALLOW_INSTALL 0x00000018
#define DIF_REGISTERDEVICE 0x00000019

// SP_DEVINSTALL_PARAMS Flags.
#define DI_SHOWOEM 0x00000001
#define DI_SHOWCOMPAT 0x00000002
#define DI_SHOWCLASS 0x00000004
#define DI_SHOWALL 0x00000007
#define DI_NOVCP 0x00000008
#define DI_DIDCOMPAT 0x00000010
#define DI_DIDCLASS 0x00000020
#define DI_AUTOASSIGNRES 0x00000040
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100
#define DI_NOBROWSE 0x00000200
#define DI_MULTMFGS 0x00000400
#define DI_DISABLED 0x00000800
#define DI_GENERALPAGE_ADDED 0x00001000
#define DI_RESOURCEPAGE_ADDED 0x00002000
#define DI_PROPERTIES_CHANGE 0x00004000
#define DI_INF_IS_SORTED 0x00008000
#define DI_ENUMSINGLEINF 0x00010000
#define DI_DONOTCALLCONFIGMG 0x00020000
#define DI_INSTALLDISABLED 0x00040000
#define DI_COMPAT_FROM_CLASS 0x00080000
#define DI_CLASSINSTALLPARAMS 0x00100000
#define DI_NODI_DEFAULTACTION 0x00200000
#define DI_QUIETINSTALL 0x00800000
#define DI_NOFILECOPY 0x01000000
#define DI_FORCECOPY 0x02000000
#define DI_DRIVERPAGE_ADDED 0x04000000
#define DI_USECI_SELECTSTRINGS 0x08000000
#define DI_OVERRIDE_INFFLAGS 0x10000000
#define DI_PROPS_NOCHANGEUSAGE 0x20000000
#define DI_NOSELECTICONS 0x40000000
#define DI_NOWRITE_IDS 0x80000000

// Scopes and kinds of a device's registry keys.
#define DICS_FLAG_GLOBAL 0x00000001
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#define DICS_FLAG_CONFIGGENERAL 0x00000004
#define DIREG_DEV 0x00000001
#define DIREG_DRV 0x00000002
#define DIREG_BOTH 0x00000004

// Device registry properties.
#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_NTDEVICEPATHS 0x00000003
#define SPDRP_SERVICE 0x00000004
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_LOCATION_INFORMATION 0x0000000D
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_UI_NUMBER 0x00000010
#define SPDRP_UPPERFILTERS 0x00000011
#define SPDRP_LOWERFILTERS 0x00000012
#define SPDRP_MAXIMUM_PROPERTY 0x00000013

typedef DWORD (CALLBACK* PSP_DETSIG_CMPPROC)(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA NewDeviceData,
    PSP_DEVINFO_DATA ExistingDeviceData, PVOID CompareContext);

// INF files.
NTSIM_API HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine);
NTSIM_API HINF WINAPI SetupOpenInfFileW(PCWSTR FileName, PCWSTR InfClass, DWORD InfStyle, PUINT ErrorLine);
NTSIM_API BOOL WINAPI SetupOpenAppendInfFileA(PCSTR FileName, HINF InfHandle, PUINT ErrorLine);
NTSIM_API BOOL WINAPI SetupOpenAppendInfFileW(PCWSTR FileName, HINF InfHandle, PUINT ErrorLine);
NTSIM_API void WINAPI SetupCloseInfFile(HINF InfHandle);
NTSIM_API BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context);
NTSIM_API BOOL WINAPI SetupFindFirstLineW(HINF InfHandle, PCWSTR Section, PCWSTR Key, PINFCONTEXT Context);
NTSIM_API BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut);
NTSIM_API BOOL WINAPI SetupFindNextMatchLineA(PINFCONTEXT ContextIn, PCSTR Key, PINFCONTEXT ContextOut);
NTSIM_API BOOL WINAPI SetupFindNextMatchLineW(PINFCONTEXT ContextIn, PCWSTR Key, PINFCONTEXT ContextOut);
NTSIM_API BOOL WINAPI SetupGetLineByIndexA(HINF InfHandle, PCSTR Section, DWORD Index, PINFCONTEXT Context);
NTSIM_API BOOL WINAPI SetupGetLineByIndexW(HINF InfHandle, PCWSTR Section, DWORD Index, PINFCONTEXT Context);
NTSIM_API LONG WINAPI SetupGetLineCountA(HINF InfHandle, PCSTR Section);
NTSIM_API LONG WINAPI SetupGetLineCountW(HINF InfHandle, PCWSTR Section);
NTSIM_API BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key,
    PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetLineTextW(PINFCONTEXT Context, HINF InfHandle, PCWSTR Section, PCWSTR Key,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API DWORD WINAPI SetupGetFieldCount(PINFCONTEXT Context);
NTSIM_API BOOL WINAPI SetupGetStringFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetStringFieldW(PINFCONTEXT Context, DWORD FieldIndex, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetIntField(PINFCONTEXT Context, DWORD FieldIndex, PINT IntegerValue);
NTSIM_API BOOL WINAPI SetupGetBinaryField(PINFCONTEXT Context, DWORD FieldIndex, PBYTE ReturnBuffer,
    DWORD ReturnBufferSize, LPDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetMultiSzFieldA(PINFCONTEXT Context, DWORD FieldIndex, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, LPDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetMultiSzFieldW(PINFCONTEXT Context, DWORD FieldIndex, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, LPDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetInfInformationA(LPCVOID InfSpec, DWORD SearchControl, PSP_INF_INFORMATION ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetInfInformationW(LPCVOID InfSpec, DWORD SearchControl, PSP_INF_INFORMATION ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupQueryInfFileInformationA(PSP_INF_INFORMATION InfInformation, UINT InfIndex,
    PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupQueryInfFileInformationW(PSP_INF_INFORMATION InfInformation, UINT InfIndex,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupQueryInfVersionInformationA(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PCSTR Key,
    PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupQueryInfVersionInformationW(PSP_INF_INFORMATION InfInformation, UINT InfIndex, PCWSTR Key,
    PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetSourceInfoA(HINF InfHandle, UINT SourceId, UINT InfoDesired, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetSourceInfoW(HINF InfHandle, UINT SourceId, UINT InfoDesired, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetSourceFileLocationA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR FileName,
    PUINT SourceId, PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetSourceFileLocationW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR FileName,
    PUINT SourceId, PWSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetTargetPathA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR Section, PSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupGetTargetPathW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR Section, PWSTR ReturnBuffer,
    DWORD ReturnBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupSetDirectoryIdA(HINF InfHandle, DWORD Id, PCSTR Directory);
NTSIM_API BOOL WINAPI SetupSetDirectoryIdW(HINF InfHandle, DWORD Id, PCWSTR Directory);
NTSIM_API DWORD WINAPI SetupGetFileCompressionInfoA(PCSTR SourceFileName, PSTR* ActualSourceFileName,
    PDWORD SourceFileSize, PDWORD TargetFileSize, PUINT CompressionType);
NTSIM_API DWORD WINAPI SetupGetFileCompressionInfoW(PCWSTR SourceFileName, PWSTR* ActualSourceFileName,
    PDWORD SourceFileSize, PDWORD TargetFileSize, PUINT CompressionType);

// Installing sections.
NTSIM_API BOOL WINAPI SetupInstallFromInfSectionA(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupInstallFromInfSectionW(HWND Owner, HINF InfHandle, PCWSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCWSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_W MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupInstallFilesFromInfSectionA(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
    PCSTR SectionName, PCSTR SourceRootPath, UINT CopyFlags);
NTSIM_API BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
    PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags);
NTSIM_API BOOL WINAPI SetupInstallServicesFromInfSectionA(HINF InfHandle, PCSTR SectionName, DWORD Flags);
NTSIM_API BOOL WINAPI SetupInstallServicesFromInfSectionW(HINF InfHandle, PCWSTR SectionName, DWORD Flags);
NTSIM_API BOOL WINAPI SetupInstallServicesFromInfSectionExA(HINF InfHandle, PCSTR SectionName, DWORD Flags,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PVOID Reserved1, PVOID Reserved2);
NTSIM_API BOOL WINAPI SetupInstallServicesFromInfSectionExW(HINF InfHandle, PCWSTR SectionName, DWORD Flags,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, PVOID Reserved1, PVOID Reserved2);
NTSIM_API BOOL WINAPI SetupInstallFileA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR SourceFile,
    PCSTR SourcePathRoot, PCSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_A CopyMsgHandler,
    PVOID Context);
NTSIM_API BOOL WINAPI SetupInstallFileW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR SourceFile,
    PCWSTR SourcePathRoot, PCWSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_W CopyMsgHandler,
    PVOID Context);
NTSIM_API BOOL WINAPI SetupInstallFileExA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR SourceFile,
    PCSTR SourcePathRoot, PCSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_A CopyMsgHandler,
    PVOID Context, PBOOL FileWasInUse);
NTSIM_API BOOL WINAPI SetupInstallFileExW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR SourceFile,
    PCWSTR SourcePathRoot, PCWSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_W CopyMsgHandler,
    PVOID Context, PBOOL FileWasInUse);

// File queues.
NTSIM_API HSPFILEQ WINAPI SetupOpenFileQueue(void);
NTSIM_API BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle);
NTSIM_API BOOL WINAPI SetupQueueCopyA(HSPFILEQ QueueHandle, PCSTR SourceRootPath, PCSTR SourcePath,
    PCSTR SourceFilename, PCSTR SourceDescription, PCSTR SourceTagfile, PCSTR TargetDirectory,
    PCSTR TargetFilename, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueCopyW(HSPFILEQ QueueHandle, PCWSTR SourceRootPath, PCWSTR SourcePath,
    PCWSTR SourceFilename, PCWSTR SourceDescription, PCWSTR SourceTagfile, PCWSTR TargetDirectory,
    PCWSTR TargetFilename, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueCopySectionA(HSPFILEQ QueueHandle, PCSTR SourceRootPath, HINF InfHandle,
    HINF ListInfHandle, PCSTR Section, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueCopySectionW(HSPFILEQ QueueHandle, PCWSTR SourceRootPath, HINF InfHandle,
    HINF ListInfHandle, PCWSTR Section, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueDefaultCopyA(HSPFILEQ QueueHandle, HINF InfHandle, PCSTR SourceRootPath,
    PCSTR SourceFilename, PCSTR TargetFilename, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueDefaultCopyW(HSPFILEQ QueueHandle, HINF InfHandle, PCWSTR SourceRootPath,
    PCWSTR SourceFilename, PCWSTR TargetFilename, DWORD CopyStyle);
NTSIM_API BOOL WINAPI SetupQueueDeleteA(HSPFILEQ QueueHandle, PCSTR PathPart1, PCSTR PathPart2);
NTSIM_API BOOL WINAPI SetupQueueDeleteW(HSPFILEQ QueueHandle, PCWSTR PathPart1, PCWSTR PathPart2);
NTSIM_API BOOL WINAPI SetupQueueDeleteSectionA(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle,
    PCSTR Section);
NTSIM_API BOOL WINAPI SetupQueueDeleteSectionW(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle,
    PCWSTR Section);
NTSIM_API BOOL WINAPI SetupQueueRenameA(HSPFILEQ QueueHandle, PCSTR SourcePath, PCSTR SourceFilename,
    PCSTR TargetPath, PCSTR TargetFilename);
NTSIM_API BOOL WINAPI SetupQueueRenameW(HSPFILEQ QueueHandle, PCWSTR SourcePath, PCWSTR SourceFilename,
    PCWSTR TargetPath, PCWSTR TargetFilename);
NTSIM_API BOOL WINAPI SetupQueueRenameSectionA(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle,
    PCSTR Section);
NTSIM_API BOOL WINAPI SetupQueueRenameSectionW(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle,
    PCWSTR Section);
NTSIM_API BOOL WINAPI SetupCommitFileQueueA(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_A MsgHandler,
    PVOID Context);
NTSIM_API BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler,
    PVOID Context);

// The default queue callback and the prompts.
NTSIM_API PVOID WINAPI SetupInitDefaultQueueCallback(HWND OwnerWindow);
NTSIM_API PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow,
    UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2);
NTSIM_API void WINAPI SetupTermDefaultQueueCallback(PVOID Context);
NTSIM_API UINT WINAPI SetupDefaultQueueCallbackA(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);
NTSIM_API UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2);
NTSIM_API UINT WINAPI SetupPromptForDiskA(HWND hwndParent, PCSTR DialogTitle, PCSTR DiskName, PCSTR PathToSource,
    PCSTR FileSought, PCSTR TagFile, DWORD DiskPromptStyle, PSTR PathBuffer, DWORD PathBufferSize,
    PDWORD PathRequiredSize);
NTSIM_API UINT WINAPI SetupPromptForDiskW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR DiskName,
    PCWSTR PathToSource, PCWSTR FileSought, PCWSTR TagFile, DWORD DiskPromptStyle, PWSTR PathBuffer,
    DWORD PathBufferSize, PDWORD PathRequiredSize);
NTSIM_API UINT WINAPI SetupCopyErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR DiskName, PCSTR PathToSource,
    PCSTR SourceFile, PCSTR TargetPathFile, UINT Win32ErrorCode, DWORD Style, PSTR PathBuffer,
    DWORD PathBufferSize, PDWORD PathRequiredSize);
NTSIM_API UINT WINAPI SetupCopyErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR DiskName, PCWSTR PathToSource,
    PCWSTR SourceFile, PCWSTR TargetPathFile, UINT Win32ErrorCode, DWORD Style, PWSTR PathBuffer,
    DWORD PathBufferSize, PDWORD PathRequiredSize);
NTSIM_API UINT WINAPI SetupDeleteErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR File, UINT Win32ErrorCode,
    DWORD Style);
NTSIM_API UINT WINAPI SetupDeleteErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR File, UINT Win32ErrorCode,
    DWORD Style);
NTSIM_API UINT WINAPI SetupRenameErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR SourceFile, PCSTR TargetFile,
    UINT Win32ErrorCode, DWORD Style);
NTSIM_API UINT WINAPI SetupRenameErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR SourceFile, PCWSTR TargetFile,
    UINT Win32ErrorCode, DWORD Style);
NTSIM_API int WINAPI SetupPromptReboot(HSPFILEQ FileQueue, HWND Owner, BOOL ScanOnly);

// rundll32 entry of setupapi.dll.
NTSIM_API void WINAPI InstallHinfSectionA(HWND Window, HINSTANCE ModuleHandle, PCSTR CommandLine, INT ShowCommand);
NTSIM_API void WINAPI InstallHinfSectionW(HWND Window, HINSTANCE ModuleHandle, PCWSTR CommandLine, INT ShowCommand);

// Classes.
NTSIM_API BOOL WINAPI SetupDiClassGuidsFromNameA(PCSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR ClassName, LPGUID ClassGuidList, DWORD ClassGuidListSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiClassNameFromGuidA(const GUID* ClassGuid, PSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiClassNameFromGuidW(const GUID* ClassGuid, PWSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetClassDescriptionA(const GUID* ClassGuid, PSTR ClassDescription,
    DWORD ClassDescriptionSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetClassDescriptionW(const GUID* ClassGuid, PWSTR ClassDescription,
    DWORD ClassDescriptionSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiBuildClassInfoList(DWORD Flags, LPGUID ClassGuidList, DWORD ClassGuidListSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetINFClassA(PCSTR InfName, LPGUID ClassGuid, PSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, LPGUID ClassGuid, PWSTR ClassName, DWORD ClassNameSize,
    PDWORD RequiredSize);
NTSIM_API HKEY WINAPI SetupDiOpenClassRegKey(const GUID* ClassGuid, REGSAM samDesired);
NTSIM_API HKEY WINAPI SetupDiOpenClassRegKeyExA(const GUID* ClassGuid, REGSAM samDesired, DWORD Flags,
    PCSTR MachineName, PVOID Reserved);
NTSIM_API HKEY WINAPI SetupDiOpenClassRegKeyExW(const GUID* ClassGuid, REGSAM samDesired, DWORD Flags,
    PCWSTR MachineName, PVOID Reserved);

// Device information sets and their elements.
NTSIM_API HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent);
NTSIM_API HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags);
NTSIM_API HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags);
NTSIM_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
NTSIM_API BOOL WINAPI SetupDiGetDeviceInfoListClass(HDEVINFO DeviceInfoSet, LPGUID ClassGuid);
NTSIM_API BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName, const GUID* ClassGuid,
    PCSTR DeviceDescription, HWND hwndParent, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName, const GUID* ClassGuid,
    PCWSTR DeviceDescription, HWND hwndParent, DWORD CreationFlags, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiOpenDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceInstanceId, HWND hwndParent,
    DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceInstanceId, HWND hwndParent,
    DWORD OpenFlags, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiDeleteDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    DWORD Property, PDWORD PropertyRegDataType, PBYTE PropertyBuffer, DWORD PropertyBufferSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    DWORD Property, const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
NTSIM_API BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    DWORD Property, const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
NTSIM_API BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams);
NTSIM_API BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_W DeviceInstallParams);
NTSIM_API BOOL WINAPI SetupDiSetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_A DeviceInstallParams);
NTSIM_API BOOL WINAPI SetupDiSetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DEVINSTALL_PARAMS_W DeviceInstallParams);
NTSIM_API BOOL WINAPI SetupDiGetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize, PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiSetClassInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize);
NTSIM_API BOOL WINAPI SetupDiSetClassInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_CLASSINSTALL_HEADER ClassInstallParams, DWORD ClassInstallParamsSize);
NTSIM_API BOOL WINAPI SetupDiGetSelectedDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiSetSelectedDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiRegisterDeviceInfo(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Flags,
    PSP_DETSIG_CMPPROC CompareProc, PVOID CompareContext, PSP_DEVINFO_DATA DupDeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiRemoveDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);

// A device's registry keys.
NTSIM_API HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType, REGSAM samDesired);
NTSIM_API HKEY WINAPI SetupDiCreateDevRegKeyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType, HINF InfHandle, PCSTR InfSectionName);
NTSIM_API HKEY WINAPI SetupDiCreateDevRegKeyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType, HINF InfHandle, PCWSTR InfSectionName);
NTSIM_API BOOL WINAPI SetupDiDeleteDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
    DWORD HwProfile, DWORD KeyType);

// Driver lists.
NTSIM_API BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType);
NTSIM_API BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
    DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiEnumDriverInfoW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
    DWORD MemberIndex, PSP_DRVINFO_DATA_W DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData, DWORD DriverInfoDetailDataSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetDriverInfoDetailW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINFO_DETAIL_DATA_W DriverInfoDetailData, DWORD DriverInfoDetailDataSize,
    PDWORD RequiredSize);
NTSIM_API BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams);
NTSIM_API BOOL WINAPI SetupDiGetDriverInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams);
NTSIM_API BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams);
NTSIM_API BOOL WINAPI SetupDiSetDriverInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams);
NTSIM_API BOOL WINAPI SetupDiGetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiGetSelectedDriverW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiSetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiSetSelectedDriverW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData);
NTSIM_API BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    DWORD DriverType);
NTSIM_API BOOL WINAPI SetupDiGetActualSectionToInstallA(HINF InfHandle, PCSTR InfSectionName,
    PSTR InfSectionWithExt, DWORD InfSectionWithExtSize, PDWORD RequiredSize, PSTR* Extension);
NTSIM_API BOOL WINAPI SetupDiGetActualSectionToInstallW(HINF InfHandle, PCWSTR InfSectionName,
    PWSTR InfSectionWithExt, DWORD InfSectionWithExtSize, PDWORD RequiredSize, PWSTR* Extension);

// Class installers and the default handlers.
NTSIM_API BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
    PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiInstallDevice(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiInstallDriverFiles(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiSelectBestCompatDrv(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);
NTSIM_API BOOL WINAPI SetupDiRegisterCoDeviceInstallers(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData);

#ifdef UNICODE
#define SetupOpenInfFile SetupOpenInfFileW
#define SetupOpenAppendInfFile SetupOpenAppendInfFileW
#define SetupFindFirstLine SetupFindFirstLineW
#define SetupFindNextMatchLine SetupFindNextMatchLineW
#define SetupGetLineByIndex SetupGetLineByIndexW
#define SetupGetLineCount SetupGetLineCountW
#define SetupGetLineText SetupGetLineTextW
#define SetupGetStringField SetupGetStringFieldW
#define SetupGetMultiSzField SetupGetMultiSzFieldW
#define SetupGetInfInformation SetupGetInfInformationW
#define SetupQueryInfFileInformation SetupQueryInfFileInformationW
#define SetupQueryInfVersionInformation SetupQueryInfVersionInformationW
#define SetupGetSourceInfo SetupGetSourceInfoW
#define SetupGetSourceFileLocation SetupGetSourceFileLocationW
#define SetupGetTargetPath SetupGetTargetPathW
#define SetupSetDirectoryId SetupSetDirectoryIdW
#define SetupGetFileCompressionInfo SetupGetFileCompressionInfoW
#define SetupInstallFromInfSection SetupInstallFromInfSectionW
#define SetupInstallFilesFromInfSection SetupInstallFilesFromInfSectionW
#define SetupInstallServicesFromInfSection SetupInstallServicesFromInfSectionW
#define SetupInstallServicesFromInfSectionEx SetupInstallServicesFromInfSectionExW
#define SetupInstallFile SetupInstallFileW
#define SetupInstallFileEx SetupInstallFileExW
#define SetupQueueCopy SetupQueueCopyW
#define SetupQueueCopySection SetupQueueCopySectionW
#define SetupQueueDefaultCopy SetupQueueDefaultCopyW
#define SetupQueueDelete SetupQueueDeleteW
#define SetupQueueDeleteSection SetupQueueDeleteSectionW
#define SetupQueueRename SetupQueueRenameW
#define SetupQueueRenameSection SetupQueueRenameSectionW
#define SetupCommitFileQueue SetupCommitFileQueueW
#define SetupDefaultQueueCallback SetupDefaultQueueCallbackW
#define SetupPromptForDisk SetupPromptForDiskW
#define SetupCopyError SetupCopyErrorW
#define SetupDeleteError SetupDeleteErrorW
#define SetupRenameError SetupRenameErrorW
#define InstallHinfSection InstallHinfSectionW
#define SetupDiClassGuidsFromName SetupDiClassGuidsFromNameW
#define SetupDiClassNameFromGuid SetupDiClassNameFromGuidW
#define SetupDiGetClassDescription SetupDiGetClassDescriptionW
#define SetupDiGetINFClass SetupDiGetINFClassW
#define SetupDiOpenClassRegKeyEx SetupDiOpenClassRegKeyExW
#define SetupDiGetClassDevs SetupDiGetClassDevsW
#define SetupDiCreateDeviceInfo SetupDiCreateDeviceInfoW
#define SetupDiOpenDeviceInfo SetupDiOpenDeviceInfoW
#define SetupDiGetDeviceInstanceId SetupDiGetDeviceInstanceIdW
#define SetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertyW
#define SetupDiSetDeviceRegistryProperty SetupDiSetDeviceRegistryPropertyW
#define SetupDiGetDeviceInstallParams SetupDiGetDeviceInstallParamsW
#define SetupDiSetDeviceInstallParams SetupDiSetDeviceInstallParamsW
#define SetupDiGetClassInstallParams SetupDiGetClassInstallParamsW
#define SetupDiSetClassInstallParams SetupDiSetClassInstallParamsW
#define SetupDiCreateDevRegKey SetupDiCreateDevRegKeyW
#define SetupDiEnumDriverInfo SetupDiEnumDriverInfoW
#define SetupDiGetDriverInfoDetail SetupDiGetDriverInfoDetailW
#define SetupDiGetDriverInstallParams SetupDiGetDriverInstallParamsW
#define SetupDiSetDriverInstallParams SetupDiSetDriverInstallParamsW
#define SetupDiGetSelectedDriver SetupDiGetSelectedDriverW
#define SetupDiSetSelectedDriver SetupDiSetSelectedDriverW
#define SetupDiGetActualSectionToInstall SetupDiGetActualSectionToInstallW
#define FILEPATHS FILEPATHS_W
#define PFILEPATHS PFILEPATHS_W
#define SOURCE_MEDIA SOURCE_MEDIA_W
#define PSOURCE_MEDIA PSOURCE_MEDIA_W
#define PSP_FILE_CALLBACK PSP_FILE_CALLBACK_W
#define SP_DRVINFO_DATA SP_DRVINFO_DATA_W
#define PSP_DRVINFO_DATA PSP_DRVINFO_DATA_W
#define SP_DRVINFO_DETAIL_DATA SP_DRVINFO_DETAIL_DATA_W
#define PSP_DRVINFO_DETAIL_DATA PSP_DRVINFO_DETAIL_DATA_W
#define SP_DEVINSTALL_PARAMS SP_DEVINSTALL_PARAMS_W
#define PSP_DEVINSTALL_PARAMS PSP_DEVINSTALL_PARAMS_W
#else
#define SetupOpenInfFile SetupOpenInfFileA
#define SetupOpenAppendInfFile SetupOpenAppendInfFileA
#define SetupFindFirstLine SetupFindFirstLineA
#define SetupFindNextMatchLine SetupFindNextMatchLineA
#define SetupGetLineByIndex SetupGetLineByIndexA
#define SetupGetLineCount SetupGetLineCountA
#define SetupGetLineText SetupGetLineTextA
#define SetupGetStringField SetupGetStringFieldA
#define SetupGetMultiSzField SetupGetMultiSzFieldA
#define SetupGetInfInformation SetupGetInfInformationA
#define SetupQueryInfFileInformation SetupQueryInfFileInformationA
#define SetupQueryInfVersionInformation SetupQueryInfVersionInformationA
#define SetupGetSourceInfo SetupGetSourceInfoA
#define SetupGetSourceFileLocation SetupGetSourceFileLocationA
#define SetupGetTargetPath SetupGetTargetPathA
#define SetupSetDirectoryId SetupSetDirectoryIdA
#define SetupGetFileCompressionInfo SetupGetFileCompressionInfoA
#define SetupInstallFromInfSection SetupInstallFromInfSectionA
#define SetupInstallFilesFromInfSection SetupInstallFilesFromInfSectionA
#define SetupInstallServicesFromInfSection SetupInstallServicesFromInfSectionA
#define SetupInstallServicesFromInfSectionEx SetupInstallServicesFromInfSectionExA
#define SetupInstallFile SetupInstallFileA
#define SetupInstallFileEx SetupInstallFileExA
#define SetupQueueCopy SetupQueueCopyA
#define SetupQueueCopySection SetupQueueCopySectionA
#define SetupQueueDefaultCopy SetupQueueDefaultCopyA
#define SetupQueueDelete SetupQueueDeleteA
#define SetupQueueDeleteSection SetupQueueDeleteSectionA
#define SetupQueueRename SetupQueueRenameA
#define SetupQueueRenameSection SetupQueueRenameSectionA
#define SetupCommitFileQueue SetupCommitFileQueueA
#define SetupDefaultQueueCallback SetupDefaultQueueCallbackA
#define SetupPromptForDisk SetupPromptForDiskA
#define SetupCopyError SetupCopyErrorA
#define SetupDeleteError SetupDeleteErrorA
#define SetupRenameError SetupRenameErrorA
#define InstallHinfSection InstallHinfSectionA
#define SetupDiClassGuidsFromName SetupDiClassGuidsFromNameA
#define SetupDiClassNameFromGuid SetupDiClassNameFromGuidA
#define SetupDiGetClassDescription SetupDiGetClassDescriptionA
#define SetupDiGetINFClass SetupDiGetINFClassA
#define SetupDiOpenClassRegKeyEx SetupDiOpenClassRegKeyExA
#define SetupDiGetClassDevs SetupDiGetClassDevsA
#define SetupDiCreateDeviceInfo SetupDiCreateDeviceInfoA
#define SetupDiOpenDeviceInfo SetupDiOpenDeviceInfoA
#define SetupDiGetDeviceInstanceId SetupDiGetDeviceInstanceIdA
#define SetupDiGetDeviceRegistryProperty SetupDiGetDeviceRegistryPropertyA
#define SetupDiSetDeviceRegistryProperty SetupDiSetDeviceRegistryPropertyA
#define SetupDiGetDeviceInstallParams SetupDiGetDeviceInstallParamsA
#define SetupDiSetDeviceInstallParams SetupDiSetDeviceInstallParamsA
#define SetupDiGetClassInstallParams SetupDiGetClassInstallParamsA
#define SetupDiSetClassInstallParams SetupDiSetClassInstallParamsA
#define SetupDiCreateDevRegKey SetupDiCreateDevRegKeyA
#define SetupDiEnumDriverInfo SetupDiEnumDriverInfoA
#define SetupDiGetDriverInfoDetail SetupDiGetDriverInfoDetailA
#define SetupDiGetDriverInstallParams SetupDiGetDriverInstallParamsA
#define SetupDiSetDriverInstallParams SetupDiSetDriverInstallParamsA
#define SetupDiGetSelectedDriver SetupDiGetSelectedDriverA
#define SetupDiSetSelectedDriver SetupDiSetSelectedDriverA
#define SetupDiGetActualSectionToInstall SetupDiGetActualSectionToInstallA
#define FILEPATHS FILEPATHS_A
#define PFILEPATHS PFILEPATHS_A
#define SOURCE_MEDIA SOURCE_MEDIA_A
#define PSOURCE_MEDIA PSOURCE_MEDIA_A
#define PSP_FILE_CALLBACK PSP_FILE_CALLBACK_A
#define SP_DRVINFO_DATA SP_DRVINFO_DATA_A
#define PSP_DRVINFO_DATA PSP_DRVINFO_DATA_A
#define SP_DRVINFO_DETAIL_DATA SP_DRVINFO_DETAIL_DATA_A
#define PSP_DRVINFO_DETAIL_DATA PSP_DRVINFO_DETAIL_DATA_A
#define SP_DEVINSTALL_PARAMS SP_DEVINSTALL_PARAMS_A
#define PSP_DEVINSTALL_PARAMS PSP_DEVINSTALL_PARAMS_A
#endif
