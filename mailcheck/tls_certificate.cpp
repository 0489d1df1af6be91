// The server's certificate checked by the program: the chain, then the name.
// Both are needed: Wine's SSL policy passes a partial chain, so only the
// chain's own status catches a leaf from an unknown CA.
#include "mailcheck/tls_session.h"

#include <schannel.h>
#include <wincrypt.h>

// Chain faults that do not make the certificate untrusted: revocation that
// could not be looked up, offline or without a list to look in.
#define REVOCATION_UNKNOWN (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)
// SECURITY_FLAG_IGNORE_REVOCATION of wininet.h. Revocation is judged on the
// chain alone: Wine's SSL policy fails unknown revocation whatever the
// policy flags say.
#define POLICY_IGNORE_REVOCATION 0x00000080

// Whether the chain built for certificate reaches a trusted root for server
// authentication without a fault, and the SSL policy accepts it for host.
static int ChainTrusted(PCCERT_CONTEXT certificate, const char *host)
{
    WCHAR wideHost[SERVER_NAME_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, SERVER_NAME_SIZE) == 0)
        return 0;

    LPSTR serverAuth = (LPSTR)szOID_PKIX_KP_SERVER_AUTH;
    CERT_CHAIN_PARA chainPara;
    ZeroMemory(&chainPara, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &chainPara,
                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, NULL, &chain))
        return 0;

    int trusted = (chain->TrustStatus.dwErrorStatus & ~(DWORD)REVOCATION_UNKNOWN) == 0;
    if (trusted) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara;
        ZeroMemory(&sslPara, sizeof sslPara);
        sslPara.cbSize = sizeof sslPara;
        sslPara.dwAuthType = AUTHTYPE_SERVER;
        sslPara.fdwChecks = POLICY_IGNORE_REVOCATION;
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
    CertFreeCertificateChain(chain);
    return trusted;
}

// Whether the certificate the server presented in context is trusted for host.
int ServerCertificateTrusted(CtxtHandle *context, const char *host)
{
    PCCERT_CONTEXT certificate = NULL;
    if (QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        certificate == NULL)
        return 0;
    int trusted = ChainTrusted(certificate, host);
    CertFreeCertificateContext(certificate);
    return trusted;
}
