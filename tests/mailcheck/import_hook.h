// Swapping an entry of this program's import table, so a test can watch or
// steer the Windows Sockets calls the check run makes.
#ifndef TOLVARAN_TEST_IMPORT_HOOK_H
#define TOLVARAN_TEST_IMPORT_HOOK_H

// Points this program's import of dll!function at replacement; the old
// address goes to *original. Returns false if there is no such import.
bool HookImport(const char *dll, const char *function, void *replacement, void **original);

#endif
