// The Schannel and CryptoAPI calls of a check run over TLS, steered through
// the import table into the paths Windows takes and Wine never does: a
// client-certificate request, renegotiations, close_notify as
// SEC_I_CONTEXT_EXPIRED, a chain build that hangs, a failed EncryptMessage.
// The server is the Dovecot of the TLS fixture (pop3s://localhost:10995).
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "import_hook.h"
#include "checkrun/check_messages.h"
#include "mailcheck/mailcheck.h"
#include "transport/tls_session.h"
#include "report_window.h"
#include "resources/resource.h"
#include "test_support.h"

#include <schannel.h>
#include <wincrypt.h>

namespace {

enum Steer {
    NOTHING,
    ASK_CERTIFICATE,   // ISC answers SEC_I_INCOMPLETE_CREDENTIALS n times first
    RENEGOTIATE,       // the first n decrypts ask for a renegotiation
    NEW_CERTIFICATE,   // one renegotiation, after which the server presents the test root
    EXPIRE,            // the n-th decrypt gives SEC_I_CONTEXT_EXPIRED
    FAIL_ENCRYPT,      // the n-th EncryptMessage fails
    HANG_CHAIN,        // with 1 s left, the chain build waits until the check run is over
    LATE_GREETING,     // the clock jumps past the deadline as the greeting is decrypted
    NO_CONFIDENTIALITY // the handshake leaves ISC_RET_CONFIDENTIALITY out
};

struct Row {
    const char *name;
    Steer steer;
    int n;
    int status;
    const char *text;
    int encrypts;     // EncryptMessage calls: records the client sealed
    int sizeQueries;  // SECPKG_ATTR_STREAM_SIZES queries: handshakes checked
    const char *host = "localhost";
};

const Row *row;
const int deadlineMs = Patience(20000);
int credentialAnswers, renegotiationsLeft, decrypts, encrypts, sizeQueries, chainCalls;
bool renegotiating, renegotiated, unsuppliedAsked, chainReleased;
std::string targetName;  // the name the handshake was started with
DWORD checkStart, clockOffset, chainFlags;
CERT_CHAIN_PARA chainPara;
HANDLE releaseChain, chainLeft;
PCCERT_CONTEXT rootCertificate;

INITIALIZE_SECURITY_CONTEXT_FN_A realInitialize;
DECRYPT_MESSAGE_FN realDecrypt;
ENCRYPT_MESSAGE_FN realEncrypt;
QUERY_CONTEXT_ATTRIBUTES_FN_A realQuery;
decltype(&CertGetCertificateChain) realChain;
decltype(&GetTickCount) realTickCount;
decltype(&gethostbyname) realLookup;

SECURITY_STATUS WINAPI HookInitialize(PCredHandle credentials, PCtxtHandle context, SEC_CHAR *target, ULONG flags,
                                      ULONG reserved1, ULONG representation, PSecBufferDesc input,
                                      ULONG reserved2, PCtxtHandle newContext, PSecBufferDesc output,
                                      ULONG *attributes, PTimeStamp expiry)
{
    unsuppliedAsked |= (flags & ISC_REQ_USE_SUPPLIED_CREDS) == 0;
    if (context == nullptr)
        targetName = target != nullptr ? target : "(none)";
    if (context != nullptr && input != nullptr && row->steer == ASK_CERTIFICATE && credentialAnswers < row->n) {
        credentialAnswers++;
        return SEC_I_INCOMPLETE_CREDENTIALS;
    }
    if (renegotiating && input != nullptr) {
        // Takes none of the record, which is application data behind it.
        renegotiating = false;
        renegotiated = true;
        input->pBuffers[1] = {input->pBuffers[0].cbBuffer, SECBUFFER_EXTRA, nullptr};
        return SEC_E_OK;
    }
    SECURITY_STATUS status = realInitialize(credentials, context, target, flags, reserved1, representation, input,
                                            reserved2, newContext, output, attributes, expiry);
    if (status == SEC_E_OK && context != nullptr && input != nullptr && row->steer == NO_CONFIDENTIALITY)
        *attributes &= ~(ULONG)ISC_RET_CONFIDENTIALITY;
    // The clock moves to a second before the deadline (which the connect
    // may have put a little later), however long the handshake took.
    if (status == SEC_E_OK && context != nullptr && input != nullptr && row->steer == HANG_CHAIN)
        clockOffset = checkStart + deadlineMs - 1000 - realTickCount();
    return status;
}

SECURITY_STATUS WINAPI HookDecrypt(PCtxtHandle context, PSecBufferDesc message, ULONG sequence, ULONG *quality)
{
    if (renegotiationsLeft > 0) {
        // The record stays whole, as the start of the handshake's input.
        renegotiationsLeft--;
        renegotiating = true;
        message->pBuffers[1] = {message->pBuffers[0].cbBuffer, SECBUFFER_EXTRA, message->pBuffers[0].pvBuffer};
        message->pBuffers[0].cbBuffer = 0;
        return SEC_I_RENEGOTIATE;
    }
    SECURITY_STATUS status = realDecrypt(context, message, sequence, quality);
    if (row->steer == LATE_GREETING)
        clockOffset = 3600000;
    return status == SEC_E_OK && ++decrypts == row->n && row->steer == EXPIRE ? SEC_I_CONTEXT_EXPIRED : status;
}

SECURITY_STATUS WINAPI HookEncrypt(PCtxtHandle context, ULONG quality, PSecBufferDesc message, ULONG sequence)
{
    if (++encrypts == row->n && row->steer == FAIL_ENCRYPT)
        return SEC_E_INTERNAL_ERROR;
    return realEncrypt(context, quality, message, sequence);
}

SECURITY_STATUS WINAPI HookQuery(PCtxtHandle context, ULONG attribute, void *buffer)
{
    sizeQueries += attribute == SECPKG_ATTR_STREAM_SIZES;
    if (attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT && renegotiated && row->steer == NEW_CERTIFICATE) {
        *(PCCERT_CONTEXT *)buffer = CertDuplicateCertificateContext(rootCertificate);
        return SEC_E_OK;
    }
    return realQuery(context, attribute, buffer);
}

// Runs on the check run's helper thread.
BOOL WINAPI HookChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, LPFILETIME time, HCERTSTORE store,
                      PCERT_CHAIN_PARA para, DWORD flags, LPVOID reserved, PCCERT_CHAIN_CONTEXT *chain)
{
    chainCalls++;
    memcpy(&chainPara, para, para->cbSize < sizeof chainPara ? para->cbSize : sizeof chainPara);
    chainFlags = flags;
    if (row->steer != HANG_CHAIN)
        return realChain(engine, certificate, time, store, para, flags, reserved, chain);
    chainReleased = WaitForSingleObject(releaseChain, 60000) == WAIT_OBJECT_0;
    SetEvent(chainLeft);
    return FALSE;
}

DWORD WINAPI HookTickCount()
{
    return realTickCount() + clockOffset;
}

// Windows looks up a name with a trailing dot; the test machine's resolver
// finds no such name among its hosts, so the dot goes here.
hostent *WINAPI HookLookup(const char *name)
{
    std::string bare = name;
    if (!bare.empty() && bare.back() == '.')
        bare.pop_back();
    return realLookup(bare.c_str());
}

ReportLog report;
MailCredentials credentials;  // kept off the stack that is searched

void CheckOnce()
{
    std::string server = std::string("pop3s://") + row->host + ":10995";
    CopyTextCut(credentials.serverName, sizeof credentials.serverName, server.c_str());
    CopyTextCut(credentials.userName, sizeof credentials.userName, "three");
    CopyTextCut(credentials.password, sizeof credentials.password, "threepass");
    HWND window = CreateReportWindow(&report);
    checkStart = realTickCount();
    RunMailCheck(window, &credentials, Patience(10000), deadlineMs);
    DestroyWindow(window);
}

TEST(TlsCalls, WindowsOnlyPathsEndAsTheyShould)
{
    const char *certs = getenv("TOLVARAN_TLS_CERTS");
    ASSERT_NE(certs, nullptr);
    std::string root = ReadFileBytes(std::string("Z:") + certs + "/ca.der");
    rootCertificate = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE *)root.data(), (DWORD)root.size());
    ASSERT_NE(rootCertificate, nullptr);
    // " 3 件の新着メールがあります "
    const char *newMail = u8" 3 \u4ef6\u306e\u65b0\u7740\u30e1\u30fc\u30eb\u304c\u3042\u308a\u307e\u3059 ";
    // " サーバから応答がありません "
    const char *noAnswer = u8" \u30b5\u30fc\u30d0\u304b\u3089\u5fdc\u7b54\u304c\u3042\u308a\u307e\u305b\u3093 ";
    // " サーバの証明書を確認できません "
    const char *badCertificate = u8" \u30b5\u30fc\u30d0\u306e\u8a3c\u660e\u66f8\u3092\u78ba\u8a8d\u3067\u304d\u307e\u305b\u3093 ";
    // " 暗号化通信を開始できません "
    const char *tlsFailed = u8" \u6697\u53f7\u5316\u901a\u4fe1\u3092\u958b\u59cb\u3067\u304d\u307e\u305b\u3093 ";
    const int most = TLS_MOST_RENEGOTIATIONS;
    const Row rows[] = {
        {"plain session; the chain build gets the time left", NOTHING, 0, CHECK_NEW_MAIL, newMail, 4, 1},
        {"client certificate asked for once", ASK_CERTIFICATE, 1, CHECK_NEW_MAIL, newMail, 4, 1},
        {"renegotiation brings another certificate", NEW_CERTIFICATE, 0, CHECK_FAILED, badCertificate, 0, 1},
        {"as many renegotiations as allowed", RENEGOTIATE, most, CHECK_NEW_MAIL, newMail, 4, 1 + most},
        {"one renegotiation too many", RENEGOTIATE, most + 1, CHECK_FAILED, tlsFailed, 0, 1 + most},
        {"close_notify as SEC_I_CONTEXT_EXPIRED with the STAT reply", EXPIRE, 4, CHECK_NEW_MAIL, newMail, 3, 1},
        {"EncryptMessage fails on PASS", FAIL_ENCRYPT, 2, CHECK_FAILED, tlsFailed, 2, 1},
        {"chain build hangs past the deadline", HANG_CHAIN, 0, CHECK_FAILED, noAnswer, 0, 0},
        {"greeting decrypted past the deadline", LATE_GREETING, 0, CHECK_FAILED, noAnswer, 0, 1},
        {"handshake without confidentiality", NO_CONFIDENTIALITY, 0, CHECK_FAILED, tlsFailed, 0, 0},
        {"host with a trailing dot", NOTHING, 0, CHECK_NEW_MAIL, newMail, 4, 1, "localhost."},
    };
    struct {
        const char *dll, *function;
        void *replacement, **original;
    } hooks[] = {
        {"secur32.dll", "InitializeSecurityContextA", (void *)HookInitialize, (void **)&realInitialize},
        {"secur32.dll", "DecryptMessage", (void *)HookDecrypt, (void **)&realDecrypt},
        {"secur32.dll", "EncryptMessage", (void *)HookEncrypt, (void **)&realEncrypt},
        {"secur32.dll", "QueryContextAttributesA", (void *)HookQuery, (void **)&realQuery},
        {"crypt32.dll", "CertGetCertificateChain", (void *)HookChain, (void **)&realChain},
        {"kernel32.dll", "GetTickCount", (void *)HookTickCount, (void **)&realTickCount},
        {"wsock32.dll", "gethostbyname", (void *)HookLookup, (void **)&realLookup},
    };
    for (const auto &hook : hooks)
        ASSERT_TRUE(HookImport(hook.dll, hook.function, hook.replacement, hook.original)) << hook.function;
    releaseChain = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    chainLeft = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        row = &r;
        credentialAnswers = decrypts = encrypts = sizeQueries = chainCalls = 0;
        renegotiationsLeft = r.steer == RENEGOTIATE ? r.n : r.steer == NEW_CERTIFICATE;
        renegotiating = renegotiated = unsuppliedAsked = chainReleased = false;
        clockOffset = 0;
        targetName.clear();
        chainPara = {};
        ResetEvent(releaseChain);
        ResetEvent(chainLeft);
        report = ReportLog();

        bool passwordLeft = LeavesOnStack(CheckOnce, "threepass");
        SetEvent(releaseChain);
        if (r.steer == HANG_CHAIN) {
            // The check run has reported while the chain build still hung.
            EXPECT_EQ(WaitForSingleObject(chainLeft, 60000), WAIT_OBJECT_0);
            EXPECT_TRUE(chainReleased);
        }
        EXPECT_EQ(report.count, 1);
        EXPECT_EQ(report.status, r.status);
        EXPECT_EQ(Cp932ToUtf8(report.text), r.text);
        EXPECT_EQ(encrypts, r.encrypts);
        EXPECT_EQ(sizeQueries, r.sizeQueries);
        EXPECT_EQ(credentialAnswers, r.steer == ASK_CERTIFICATE ? r.n : 0);
        EXPECT_FALSE(unsuppliedAsked);
        EXPECT_FALSE(passwordLeft);
        EXPECT_EQ(targetName, "localhost");
        if (chainCalls > 0) {
            EXPECT_EQ(chainPara.cbSize, sizeof(CERT_CHAIN_PARA));
            EXPECT_GT(chainPara.dwUrlRetrievalTimeout, 0u);
            EXPECT_LE(chainPara.dwUrlRetrievalTimeout, (DWORD)deadlineMs);
            EXPECT_TRUE(chainFlags & CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT);
        }
    }
    void *ignored;
    for (const auto &hook : hooks)
        HookImport(hook.dll, hook.function, *hook.original, &ignored);
    CloseHandle(releaseChain);
    CloseHandle(chainLeft);
    CertFreeCertificateContext(rootCertificate);
}

}  // namespace
