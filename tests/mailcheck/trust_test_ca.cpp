// Adds a DER certificate to the current user's trusted roots of this Wine
// prefix: trust_test_ca PATH. Exits 0 once it is in the store.
#include <windows.h>
#include <wincrypt.h>

#include <stdio.h>

#include <string>

#include "test_support.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trust_test_ca CERTIFICATE.der\n");
        return 2;
    }
    std::string der = ReadFileBytes(argv[1]);
    if (der.empty()) {
        fprintf(stderr, "trust_test_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    if (store == nullptr) {
        fprintf(stderr, "trust_test_ca: no ROOT store, error %lu\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE *)der.data(),
                                                  (DWORD)der.size(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        fprintf(stderr, "trust_test_ca: not added, error 0x%lx\n", error);
        return 1;
    }
    return 0;
}
