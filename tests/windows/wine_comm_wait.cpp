// Wine 8 waits for serial events (WaitCommEvent, IOCTL_SERIAL_WAIT_ON_MASK) in
// its own way: asked without an event handle it blocks the calling thread until
// the wait ends, and it never queues the completion routine the caller passed.
// Qt Serial Port starts exactly such a wait on open, with a completion routine
// and no event, and reads only when that routine runs: under Wine 8 the window
// would freeze on open, or, where the wait ends at once, never read. Windows
// itself returns STATUS_PENDING and runs the routine on the calling thread once
// the wait ends. Under Wine only (ntdll has wine_get_version), this gives Qt
// that behaviour: NtDeviceIoControlFile, as Qt looks it up, starts Wine's wait
// with an event of its own, and when the event is set queues Qt's routine to
// the thread that asked. Every other call goes to Wine unchanged. The program
// under test is not touched: only this test program links it.

#include <cstring>
#include <windows.h>
#include <winternl.h>

namespace {

constexpr ULONG waitOnMask
    = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS);

using IoControl = NTSTATUS(NTAPI *)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG,
                                    PVOID, ULONG, PVOID, ULONG);
IoControl wineIoControl = nullptr;

struct PendingWait
{
    HANDLE event = nullptr;
    HANDLE thread = nullptr;
    HANDLE registration = nullptr;
    PIO_APC_ROUTINE routine = nullptr;
    PVOID context = nullptr;
    PIO_STATUS_BLOCK status = nullptr;
};

void release(PendingWait *wait)
{
    if (wait->registration)
        UnregisterWait(wait->registration);
    if (wait->event)
        CloseHandle(wait->event);
    if (wait->thread)
        CloseHandle(wait->thread);
    delete wait;
}

// Runs on the thread that started the wait, when it next waits alertably.
void CALLBACK complete(ULONG_PTR arg)
{
    auto *wait = reinterpret_cast<PendingWait *>(arg);
    const PIO_APC_ROUTINE routine = wait->routine;
    const PVOID context = wait->context;
    const PIO_STATUS_BLOCK status = wait->status;
    release(wait);
    routine(context, status, 0);
}

void CALLBACK ended(PVOID arg, BOOLEAN)
{
    auto *wait = static_cast<PendingWait *>(arg);
    QueueUserAPC(complete, wait->thread, reinterpret_cast<ULONG_PTR>(wait));
}

NTSTATUS NTAPI ioControl(HANDLE file, HANDLE event, PIO_APC_ROUTINE routine, PVOID context,
                         PIO_STATUS_BLOCK status, ULONG code, PVOID in, ULONG inSize, PVOID out,
                         ULONG outSize)
{
    if (code != waitOnMask || event || !routine)
        return wineIoControl(file, event, routine, context, status, code, in, inSize, out, outSize);

    auto *wait = new PendingWait;
    wait->routine = routine;
    wait->context = context;
    wait->status = status;
    wait->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wait->event
        || !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                            &wait->thread, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        release(wait);
        return STATUS_NO_MEMORY;
    }
    const NTSTATUS result = wineIoControl(file, wait->event, nullptr, nullptr, status, code, in,
                                          inSize, out, outSize);
    if (result == STATUS_PENDING) {
        if (!RegisterWaitForSingleObject(&wait->registration, wait->event, ended, wait, INFINITE,
                                         WT_EXECUTEONLYONCE))
            wait->registration = nullptr; // the routine never runs, as when Qt cancels the wait
    } else if (NT_SUCCESS(result)) {
        QueueUserAPC(complete, wait->thread, reinterpret_cast<ULONG_PTR>(wait));
    } else {
        release(wait);
    }
    return result;
}

// Points ntdll's export of NtDeviceIoControlFile at ioControl. An export is a
// 32-bit offset from ntdll's base, so a jump to ioControl is placed just past
// ntdll's image.
void divertWaits()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version"))
        return; // Windows waits properly
    auto *base = reinterpret_cast<BYTE *>(ntdll);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto *exports
        = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    const auto *names = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    const auto *ordinals = reinterpret_cast<const WORD *>(base + exports->AddressOfNameOrdinals);
    auto *functions = reinterpret_cast<DWORD *>(base + exports->AddressOfFunctions);
    DWORD *entry = nullptr;
    for (DWORD i = 0; i < exports->NumberOfNames && !entry; ++i) {
        if (!std::strcmp(reinterpret_cast<const char *>(base + names[i]), "NtDeviceIoControlFile"))
            entry = &functions[ordinals[i]];
    }
    if (!entry)
        return;

    BYTE *jump = nullptr;
    const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(base) + nt->OptionalHeader.SizeOfImage;
    for (ULONG_PTR at = (start + 0xffff) & ~ULONG_PTR(0xffff);
         !jump && at - reinterpret_cast<ULONG_PTR>(base) < 0x80000000u; at += 0x10000) {
        jump = static_cast<BYTE *>(VirtualAlloc(reinterpret_cast<void *>(at), 16,
                                                MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    }
    if (!jump)
        return;
    const BYTE jmpIndirect[6] = {0xff, 0x25, 0, 0, 0, 0}; // jmp [rip]: the address follows
    const IoControl target = ioControl;
    std::memcpy(jump, jmpIndirect, sizeof jmpIndirect);
    std::memcpy(jump + sizeof jmpIndirect, &target, sizeof target);

    wineIoControl = reinterpret_cast<IoControl>(base + *entry);
    DWORD old = 0;
    if (VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &old)) {
        *entry = DWORD(jump - base);
        VirtualProtect(entry, sizeof *entry, old, &old);
    }
}

// Before main, so before Qt Serial Port looks the function up on first open.
const bool diverted = (divertWaits(), true);

} // namespace
