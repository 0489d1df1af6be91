// The server's certificate checked by the program: the chain, then the name.
// Both are needed: Wine's SSL policy passes a partial chain, so only the
// chain's own status catches a leaf from an unknown CA.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "transport/tls_session.h"

#include <schannel.h>
#include <wincrypt.h>

#include <string.h>

// Chain faults that do not make the certificate untrusted: revocation that
// could not be looked up, offline or without a list to look in.
#define REVOCATION_UNKNOWN (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)
// SECURITY_FLAG_IGNORE_REVOCATION and SECURITY_FLAG_IGNORE_CERT_CN_INVALID
// of wininet.h. Revocation is judged on the chain alone: Wine's SSL policy
// fails unknown revocation whatever the policy flags say.
#define POLICY_IGNORE_REVOCATION 0x00000080
#define POLICY_IGNORE_NAME       0x00001000
// Room for the decoded subject alternative names of one certificate.
#define ALT_NAMES_SIZE 8192

// What the helper thread needs; it owns this block and the certificate.
struct ChainJob {
    PCCERT_CONTEXT certificate;
    DWORD urlTimeoutMs;
    int isIpv4;
    unsigned char ipv4[4];
    char host[SERVER_NAME_SIZE];
};

// Whether the certificate's subject alternative names hold the address.
// Windows versions differ in whether the SSL policy matches IP entries, and
// Wine never does, so they are read here.
static int AddressInCertificate(PCCERT_CONTEXT certificate, const unsigned char *address)
{
    PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                                  certificate->pCertInfo->rgExtension);
    // Room, aligned for its pointers, for the structure decoded into it.
    alignas(void *) BYTE room[ALT_NAMES_SIZE];
    DWORD size = sizeof room;
    if (extension == NULL ||
        !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_NOCOPY_FLAG, NULL, room, &size))
        return 0;
    const CERT_ALT_NAME_INFO *names = (const CERT_ALT_NAME_INFO *)room;
    for (DWORD i = 0; i < names->cAltEntry; i++) {
        const CERT_ALT_NAME_ENTRY *entry = &names->rgAltEntry[i];
        if (entry->dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry->IPAddress.cbData == 4 &&
            memcmp(entry->IPAddress.pbData, address, 4) == 0)
            return 1;
    }
    return 0;
}

// Whether the chain built for the job's certificate reaches a trusted root
// for server authentication without a fault, and the SSL policy accepts it
// for the host (for an address, the IP entries must hold it instead).
static int ChainTrusted(const ChainJob *job)
{
    WCHAR wideHost[SERVER_NAME_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, job->host, -1, wideHost, SERVER_NAME_SIZE) == 0)
        return 0;

    LPSTR serverAuth = (LPSTR)szOID_PKIX_KP_SERVER_AUTH;
    CERT_CHAIN_PARA chainPara;
    ZeroMemory(&chainPara, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    // Missing issuers and revocation lists are fetched within the time the
    // session has left, all revocation fetches together.
    chainPara.dwUrlRetrievalTimeout = job->urlTimeoutMs;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!CertGetCertificateChain(NULL, job->certificate, NULL, job->certificate->hCertStore, &chainPara,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                 NULL, &chain))
        return 0;

    int trusted = (chain->TrustStatus.dwErrorStatus & ~(DWORD)REVOCATION_UNKNOWN) == 0;
    if (trusted) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara;
        ZeroMemory(&sslPara, sizeof sslPara);
        sslPara.cbSize = sizeof sslPara;
        sslPara.dwAuthType = AUTHTYPE_SERVER;
        sslPara.fdwChecks = POLICY_IGNORE_REVOCATION | (job->isIpv4 ? POLICY_IGNORE_NAME : 0);
        sslPara.pwszServerName = wideHost;
        CERT_CHAIN_POLICY_PARA policyPara;
        ZeroMemory(&policyPara, sizeof policyPara);
        policyPara.cbSize = sizeof policyPara;
        policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        policyPara.pvExtraPolicyPara = &sslPara;
        CERT_CHAIN_POLICY_STATUS policyStatus;
        ZeroMemory(&policyStatus, sizeof policyStatus);
        policyStatus.cbSize = sizeof policyStatus;
        trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus) &&
                  policyStatus.dwError == 0;
    }
    if (trusted && job->isIpv4)
        trusted = AddressInCertificate(job->certificate, job->ipv4);
    CertFreeCertificateChain(chain);
    return trusted;
}

// The helper thread: checks the chain, frees the job, and gives the verdict
// (1 trusted, 0 not) as its exit code.
static DWORD WINAPI ChainThread(void *parameter)
{
    ChainJob *job = (ChainJob *)parameter;
    DWORD trusted = (DWORD)ChainTrusted(job);
    CertFreeCertificateContext(job->certificate);
    HeapFree(GetProcessHeap(), 0, job);
    return trusted;
}

// Checks the server's certificate on a helper thread, waited for no longer
// than the session has left: the fetches of a chain build may take far
// longer than their time-out says. A helper still at work at the deadline
// is left to finish alone.
TlsStart CheckServerCertificate(TlsSession *session)
{
    int left = TimeLeftPlain(session->raw);
    if (left == 0)
        return TLS_SILENT;
    PCCERT_CONTEXT certificate = NULL;
    if (QueryContextAttributesA(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        certificate == NULL)
        return TLS_CERTIFICATE_REJECTED;

    TlsStart result = TLS_CERTIFICATE_REJECTED;
    HANDLE thread = NULL;
    ChainJob *job = (ChainJob *)HeapAlloc(GetProcessHeap(), 0, sizeof *job);
    if (job != NULL) {
        job->certificate = certificate;
        job->urlTimeoutMs = (DWORD)left;
        job->isIpv4 = session->isIpv4;
        memcpy(job->ipv4, session->ipv4, sizeof job->ipv4);
        CopyTextCut(job->host, sizeof job->host, session->host);
        thread = CreateThread(NULL, 0, ChainThread, job, 0, NULL);
    }
    if (thread != NULL) {
        // From here on the job and the certificate are the helper's.
        DWORD trusted = 0;
        result = TLS_SILENT;
        if (WaitForSingleObject(thread, (DWORD)left) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &trusted))
            result = trusted == 1 ? TLS_READY : TLS_CERTIFICATE_REJECTED;
        else
            TimeLeftPlain(session->raw);
        CloseHandle(thread);
    } else {
        if (job != NULL)
            HeapFree(GetProcessHeap(), 0, job);
        CertFreeCertificateContext(certificate);
    }
    return result;
}
