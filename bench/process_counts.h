// What a process holds, as the benchmarks print it: handles by the
// documented count and by the system's handle table (Wine answers the
// former with 0), threads, private bytes, GDI and USER objects (which Wine
// answers with 0).
#ifndef TOLVARAN_BENCH_PROCESS_COUNTS_H
#define TOLVARAN_BENCH_PROCESS_COUNTS_H

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <stdlib.h>

struct ProcessCounts {
    DWORD handleCount;   // GetProcessHandleCount
    int tableHandles;    // entries of the system handle table, -1 if unknown
    int threads;
    unsigned long long privateBytes;
    DWORD gdiObjects;
    DWORD userObjects;
};

// Handles of processId in the system's handle table; -1 if it cannot be read.
static int CountTableHandles(DWORD processId)
{
    struct Entry {
        ULONG processId;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        void *object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    typedef LONG(WINAPI * QueryProc)(ULONG, void *, ULONG, ULONG *);
    const ULONG systemHandleInformation = 16;
    const LONG lengthMismatch = (LONG)0xC0000004;
    QueryProc query = (QueryProc)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                        "NtQuerySystemInformation");
    if (query == NULL)
        return -1;
    ULONG size = 1 << 20;
    Table *table = (Table *)malloc(size);
    ULONG got = 0;
    LONG status;
    while (table != NULL && (status = query(systemHandleInformation, table, size, &got)) == lengthMismatch) {
        free(table);
        size *= 2;
        table = (Table *)malloc(size);
    }
    if (table == NULL)
        return -1;
    int count = -1;
    if (status == 0) {
        count = 0;
        for (ULONG i = 0; i < table->count; i++)
            count += table->entries[i].processId == processId;
    }
    free(table);
    return count;
}

// Threads of processId.
static int CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int threads = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        threads += entry.th32OwnerProcessID == processId;
    CloseHandle(snapshot);
    return threads;
}

// Everything above for one process; 0 if it cannot be opened.
static int ReadProcessCounts(DWORD processId, ProcessCounts *counts)
{
    HANDLE process = processId == GetCurrentProcessId()
                         ? GetCurrentProcess()
                         : OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == NULL)
        return 0;
    counts->handleCount = 0;
    GetProcessHandleCount(process, &counts->handleCount);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory);
    // The commit charge is the private bytes: Windows gives it in both
    // fields, Wine only in PagefileUsage.
    counts->privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    counts->gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    counts->userObjects = GetGuiResources(process, GR_USEROBJECTS);
    if (process != GetCurrentProcess())
        CloseHandle(process);
    counts->tableHandles = CountTableHandles(processId);
    counts->threads = CountThreads(processId);
    return 1;
}

#endif
