// A scripted POP3 server for the check run's tests: it plays one scenario on
// 127.0.0.x:110 and records every byte the client sends.
#ifndef TOLVARAN_TEST_FAKE_POP3_SERVER_H
#define TOLVARAN_TEST_FAKE_POP3_SERVER_H

// Windows Sockets 1.1, the same DLL the check run uses.
#include <winsock.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ServerAction {
    enum Kind { SEND, EXPECT, PAUSE, CLOSE, RESET, SIGNAL } kind;
    std::vector<std::string> pieces;  // SEND: sent one after another
    int delayMs = 0;                  // SEND: pause after each piece; PAUSE: length
    std::string bytes;                // EXPECT: what the client must send next
};

ServerAction Send(const std::string &bytes);
// Sends the pieces as separate segments, pausing delayMs after each.
ServerAction SendPieces(const std::vector<std::string> &pieces, int delayMs);
// Sends bytes one at a time.
ServerAction SendBytewise(const std::string &bytes, int delayMs);
// Waits until the client has sent bytes.size() more bytes (which must be
// these bytes).
ServerAction Expect(const std::string &bytes);
ServerAction Pause(int ms);
// Closes the connection in the ordinary way; nothing more is read.
ServerAction Close();
// Aborts the connection with a reset.
ServerAction Reset();
// Calls the server's onSignal, where the test acts on the client.
ServerAction Signal();

// Concatenation of the EXPECT bytes: all the client may ever send.
std::string ExpectedClientBytes(const std::vector<ServerAction> &script);

class FakePop3Server {
public:
    ~FakePop3Server();
    // Listens on address:110 and plays the script for the first client in a
    // thread of its own. Returns false if the address cannot be bound.
    bool Start(const std::string &address, const std::vector<ServerAction> &script);
    // Waits for the session to end (the client closes, or 15 s pass).
    void Join();

    std::string Transcript();
    bool ClientClosed();
    bool ServerEnded();
    // Waits until the client has closed its end; false if it did not in time.
    bool WaitClientClosed(DWORD timeoutMs);
    std::vector<std::string> Problems();

    // How long the server waits for a client, or for its next bytes.
    DWORD patienceMs = 15000;
    std::function<void()> onSignal;

private:
    void Play();
    bool ReadSome(DWORD timeoutMs);
    void Problem(const std::string &what);
    bool BindWhenFree(const sockaddr_in &where);

    bool socketsStarted = false;
    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    std::vector<ServerAction> script;
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    std::string transcript;
    bool clientClosed = false;
    bool serverEnded = false;
    std::vector<std::string> problems;
};

#endif
