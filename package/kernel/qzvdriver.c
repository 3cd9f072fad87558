/*
 * The package's kernel drivers, one source for QZVMDM.SYS, QZVTAPI.SYS and
 * QZVFAX.SYS.
 *
 * Built with QZV_SOFTMODEM, the image is the soft-modem controller: on start
 * it records the PCI identity of its device under
 * Services\<service>\Parameters\<service>0 and publishes \Device\<service>0
 * in HARDWARE\DEVICEMAP\SERIALCOMM with a COM port; on unload it withdraws
 * that entry. Built without it, the image is a plain helper driver that
 * loads and unloads. The image, not the name it is installed under, decides:
 * the service name only names what the driver writes.
 *
 * C rather than C++: MinGW's DDK headers do not compile as C++ (wdm.h
 * redeclares the interlocked bit-test intrinsics).
 */
#include <ntddk.h>

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD QzvUnload;

#ifdef QZV_SOFTMODEM

/* "Qzvm" in a pool dump. */
#define QZV_TAG 0x6D767A51u

/* Longest service name the SCM accepts. */
#define QZV_MAX_SERVICE 256
/* Ports the driver chooses among; names beyond these are never handed out. */
#define QZV_MAX_PORT 256

/*
 * Where the device's PCI configuration header comes from: the value
 * PciConfiguration (REG_BINARY, the header as HalGetBusData(PCIConfiguration,
 * ...) reads it from the device) in the service's Parameters key. It is there
 * so that the driver runs where no PCI soft modem exists (Wine, a test
 * machine): whoever prepares the machine records the header, and without it
 * there is no device to drive. HARDWARE\DESCRIPTION, where NT's detection
 * describes what it finds, is volatile: nothing can be prepared below it
 * before the machine runs.
 */
static const WCHAR PciConfigurationValue[] = L"PciConfiguration";

static const WCHAR SerialCommKey[] = L"\\Registry\\Machine\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

typedef struct QZV_PCI_IDENTITY {
    ULONG VendorId;
    ULONG DeviceId;
    ULONG SubsystemId;
    ULONG SubsystemVendorId;
    ULONG Revision;
} QZV_PCI_IDENTITY;

/* What the unload must take back: the device and its SERIALCOMM entry. */
static PDEVICE_OBJECT QzvDevice;
static WCHAR QzvDeviceNameBuffer[sizeof("\\Device\\") + QZV_MAX_SERVICE + 1];
static UNICODE_STRING QzvDeviceName;

static NTSTATUS OpenKey(PHANDLE key, HANDLE root, PCUNICODE_STRING name, ACCESS_MASK access)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, NULL);
    return ZwOpenKey(key, access, &attributes);
}

static NTSTATUS CreateKey(PHANDLE key, HANDLE root, PCUNICODE_STRING name, ULONG options)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, NULL);
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, NULL, options, NULL);
}

static NTSTATUS SetDword(HANDLE key, PCWSTR name, ULONG value)
{
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    return ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
}

/* The last component of the driver's registry path: its service name. */
static void ServiceNameOf(PCUNICODE_STRING registryPath, PUNICODE_STRING service)
{
    USHORT count = registryPath->Length / sizeof(WCHAR);
    USHORT start = count;
    while (start > 0 && registryPath->Buffer[start - 1] != L'\\')
        --start;
    service->Buffer = registryPath->Buffer + start;
    service->Length = (USHORT)((count - start) * sizeof(WCHAR));
    service->MaximumLength = service->Length;
}

static NTSTATUS ReadPciIdentity(HANDLE parameters, QZV_PCI_IDENTITY* identity)
{
    /* Room for the whole configuration space; only the common header is read. */
    ULONG buffer[(FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data) + 256) / sizeof(ULONG)];
    PKEY_VALUE_PARTIAL_INFORMATION info = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
    UNICODE_STRING valueName;
    ULONG length;
    NTSTATUS status;
    RtlInitUnicodeString(&valueName, PciConfigurationValue);
    status = ZwQueryValueKey(parameters, &valueName, KeyValuePartialInformation, info, sizeof(buffer), &length);
    if (!NT_SUCCESS(status) || info->Type != REG_BINARY || info->DataLength < PCI_COMMON_HDR_LENGTH)
        return STATUS_NO_SUCH_DEVICE;

    PCI_COMMON_CONFIG header;
    RtlCopyMemory(&header, info->Data, PCI_COMMON_HDR_LENGTH);
    if (header.VendorID == PCI_INVALID_VENDORID || PCI_CONFIGURATION_TYPE(&header) != PCI_DEVICE_TYPE)
        return STATUS_NO_SUCH_DEVICE;
    identity->VendorId = header.VendorID;
    identity->DeviceId = header.DeviceID;
    identity->SubsystemId = header.u.type0.SubSystemID;
    identity->SubsystemVendorId = header.u.type0.SubVendorID;
    identity->Revision = header.RevisionID;
    return STATUS_SUCCESS;
}

/*
 * Services\<service>\Parameters\<service>0 with the PCI identity the
 * Parameters key records. No Parameters key, no device.
 */
static NTSTATUS RecordPciIdentity(PCUNICODE_STRING registryPath, PCUNICODE_STRING service)
{
    WCHAR instanceBuffer[QZV_MAX_SERVICE + 2];
    UNICODE_STRING instance = { 0, sizeof(instanceBuffer), instanceBuffer };
    UNICODE_STRING parametersName = RTL_CONSTANT_STRING(L"Parameters");
    QZV_PCI_IDENTITY identity;
    HANDLE serviceKey, parameters, key;
    NTSTATUS status;

    RtlCopyUnicodeString(&instance, service);
    if (!NT_SUCCESS(status = RtlAppendUnicodeToString(&instance, L"0")))
        return status;
    if (!NT_SUCCESS(status = OpenKey(&serviceKey, NULL, registryPath, KEY_READ)))
        return status;
    status = OpenKey(&parameters, serviceKey, &parametersName, KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY);
    ZwClose(serviceKey);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND)
        return STATUS_NO_SUCH_DEVICE;
    if (!NT_SUCCESS(status))
        return status;
    if (NT_SUCCESS(status = ReadPciIdentity(parameters, &identity)))
        status = CreateKey(&key, parameters, &instance, REG_OPTION_NON_VOLATILE);
    ZwClose(parameters);
    if (!NT_SUCCESS(status))
        return status;
    if (NT_SUCCESS(status = SetDword(key, L"PciVendorID", identity.VendorId))
        && NT_SUCCESS(status = SetDword(key, L"PciDeviceID", identity.DeviceId))
        && NT_SUCCESS(status = SetDword(key, L"PciSubsystemID", identity.SubsystemId))
        && NT_SUCCESS(status = SetDword(key, L"PciSubsystemVendorID", identity.SubsystemVendorId)))
        status = SetDword(key, L"PciRevision", identity.Revision);
    ZwClose(key);
    return status;
}

static WCHAR UpperCase(WCHAR c)
{
    return c >= L'a' && c <= L'z' ? (WCHAR)(c - L'a' + L'A') : c;
}

/* The number of a "COMn" port name, or 0. The name need not end in a NUL. */
static ULONG ComNumber(const WCHAR* text, ULONG count)
{
    ULONG n = 0, i;
    while (count > 0 && text[count - 1] == 0)
        --count;
    if (count < 4 || UpperCase(text[0]) != L'C' || UpperCase(text[1]) != L'O' || UpperCase(text[2]) != L'M')
        return 0;
    for (i = 3; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9' || n > QZV_MAX_PORT)
            return 0;
        n = n * 10 + (text[i] - L'0');
    }
    return n;
}

/*
 * The port for our device: the one SERIALCOMM already gives it, else the
 * lowest COMn no other entry holds.
 */
static NTSTATUS ChoosePort(HANDLE map, PULONG port)
{
    /* One bit a port, 1..QZV_MAX_PORT. */
    ULONG used[(QZV_MAX_PORT + 1 + 31) / 32];
    const ULONG size = 1024;
    PKEY_VALUE_FULL_INFORMATION info;
    ULONG index, length, n;
    NTSTATUS status;

    RtlZeroMemory(used, sizeof(used));
    info = ExAllocatePoolWithTag(PagedPool, size, QZV_TAG);
    if (!info)
        return STATUS_INSUFFICIENT_RESOURCES;
    *port = 0;
    for (index = 0;; ++index) {
        status = ZwEnumerateValueKey(map, index, KeyValueFullInformation, info, size, &length);
        if (status == STATUS_NO_MORE_ENTRIES)
            break;
        if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL)
            continue; /* longer than any port name */
        if (!NT_SUCCESS(status))
            goto done;
        if (info->Type != REG_SZ)
            continue;
        n = ComNumber((const WCHAR*)((const UCHAR*)info + info->DataOffset), info->DataLength / sizeof(WCHAR));
        if (n == 0 || n > QZV_MAX_PORT)
            continue;
        UNICODE_STRING name = { (USHORT)info->NameLength, (USHORT)info->NameLength, info->Name };
        if (RtlEqualUnicodeString(&name, &QzvDeviceName, TRUE)) {
            *port = n;
            break;
        }
        used[n / 32] |= 1u << (n % 32);
    }
    status = STATUS_SUCCESS;
    if (*port == 0) {
        for (n = 1; n <= QZV_MAX_PORT && (used[n / 32] & (1u << (n % 32))); ++n)
            ;
        if (n > QZV_MAX_PORT)
            status = STATUS_TOO_MANY_NAMES;
        else
            *port = n;
    }
done:
    ExFreePool(info);
    return status;
}

/* \Device\<service>0 = COMn in SERIALCOMM, the volatile map of serial ports. */
static NTSTATUS PublishPort(void)
{
    UNICODE_STRING mapName;
    WCHAR portName[sizeof("COM") + 3];
    ULONG port, digits, n, i;
    HANDLE map;
    NTSTATUS status;

    RtlInitUnicodeString(&mapName, SerialCommKey);
    if (!NT_SUCCESS(status = CreateKey(&map, NULL, &mapName, REG_OPTION_VOLATILE)))
        return status;
    if (NT_SUCCESS(status = ChoosePort(map, &port))) {
        for (digits = 1, n = port; n >= 10; n /= 10)
            ++digits;
        portName[0] = L'C';
        portName[1] = L'O';
        portName[2] = L'M';
        for (i = 3 + digits, n = port; i > 3; n /= 10)
            portName[--i] = (WCHAR)(L'0' + n % 10);
        portName[3 + digits] = 0;
        status = ZwSetValueKey(map, &QzvDeviceName, 0, REG_SZ, portName, (3 + digits + 1) * sizeof(WCHAR));
    }
    ZwClose(map);
    return status;
}

static void WithdrawPort(void)
{
    UNICODE_STRING mapName;
    HANDLE map;
    RtlInitUnicodeString(&mapName, SerialCommKey);
    if (NT_SUCCESS(OpenKey(&map, NULL, &mapName, KEY_SET_VALUE))) {
        ZwDeleteValueKey(map, &QzvDeviceName);
        ZwClose(map);
    }
}

static NTSTATUS StartSoftModem(PDRIVER_OBJECT driver, PCUNICODE_STRING registryPath)
{
    UNICODE_STRING service;
    NTSTATUS status;

    ServiceNameOf(registryPath, &service);
    if (service.Length == 0 || service.Length > QZV_MAX_SERVICE * sizeof(WCHAR))
        return STATUS_OBJECT_NAME_INVALID;
    if (!NT_SUCCESS(status = RecordPciIdentity(registryPath, &service)))
        return status;

    QzvDeviceName.Buffer = QzvDeviceNameBuffer;
    QzvDeviceName.Length = 0;
    QzvDeviceName.MaximumLength = sizeof(QzvDeviceNameBuffer);
    RtlAppendUnicodeToString(&QzvDeviceName, L"\\Device\\");
    RtlAppendUnicodeStringToString(&QzvDeviceName, &service);
    RtlAppendUnicodeToString(&QzvDeviceName, L"0");

    status = IoCreateDevice(driver, 0, &QzvDeviceName, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &QzvDevice);
    if (!NT_SUCCESS(status))
        return status;
    if (!NT_SUCCESS(status = PublishPort())) {
        IoDeleteDevice(QzvDevice);
        QzvDevice = NULL;
    }
    return status;
}

static VOID NTAPI QzvUnload(PDRIVER_OBJECT driver)
{
    UNREFERENCED_PARAMETER(driver);
    WithdrawPort();
    IoDeleteDevice(QzvDevice);
    QzvDevice = NULL;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status = StartSoftModem(driver, registryPath);
    if (NT_SUCCESS(status))
        driver->DriverUnload = QzvUnload;
    return status;
}

#else

static VOID NTAPI QzvUnload(PDRIVER_OBJECT driver)
{
    UNREFERENCED_PARAMETER(driver);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNREFERENCED_PARAMETER(registryPath);
    driver->DriverUnload = QzvUnload;
    return STATUS_SUCCESS;
}

#endif
