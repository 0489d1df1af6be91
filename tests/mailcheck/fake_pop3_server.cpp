#include "fake_pop3_server.h"

#include "test_support.h"


ServerAction Send(const std::string &bytes)
{
    return SendPieces({bytes}, 0);
}

ServerAction SendPieces(const std::vector<std::string> &pieces, int delayMs)
{
    ServerAction action{ServerAction::SEND, pieces, delayMs, {}};
    return action;
}

ServerAction SendBytewise(const std::string &bytes, int delayMs)
{
    std::vector<std::string> pieces;
    for (char c : bytes)
        pieces.push_back(std::string(1, c));
    return SendPieces(pieces, delayMs);
}

ServerAction Expect(const std::string &bytes)
{
    ServerAction action{ServerAction::EXPECT, {}, 0, bytes};
    return action;
}

ServerAction Pause(int ms)
{
    ServerAction action{ServerAction::PAUSE, {}, ms, {}};
    return action;
}

ServerAction Close()
{
    return ServerAction{ServerAction::CLOSE, {}, 0, {}};
}

ServerAction Reset()
{
    return ServerAction{ServerAction::RESET, {}, 0, {}};
}

ServerAction Signal()
{
    return ServerAction{ServerAction::SIGNAL, {}, 0, {}};
}

std::string ExpectedClientBytes(const std::vector<ServerAction> &script)
{
    std::string all;
    for (const ServerAction &action : script)
        if (action.kind == ServerAction::EXPECT)
            all += action.bytes;
    return all;
}

FakePop3Server::~FakePop3Server()
{
    Join();
    if (listener != INVALID_SOCKET)
        closesocket(listener);
    if (socketsStarted)
        WSACleanup();
}

// Binds the listener to where. While the host still holds that address:110
// for a socket that is going away (a session of another program in its
// minute of TIME_WAIT, when that socket was made without SO_REUSEADDR), the
// bind is tried again until the host lets it go; any other error, or a hold
// past that minute, fails at once with the host's answer.
bool FakePop3Server::BindWhenFree(const sockaddr_in &where)
{
    const DWORD hostTimeWaitMs = 60000, margin = 5000;
    DWORD start = GetTickCount();
    for (;;) {
        if (bind(listener, (const sockaddr *)&where, sizeof where) == 0)
            return true;
        int error = WSAGetLastError();
        if ((error != WSAEADDRINUSE && error != WSAEACCES) || GetTickCount() - start > hostTimeWaitMs + margin) {
            WSASetLastError(error);
            return false;
        }
        Sleep(100);
    }
}

bool FakePop3Server::Start(const std::string &address, const std::vector<ServerAction> &actions)
{
    WSADATA data;
    socketsStarted = WSAStartup(0x0101, &data) == 0;
    script = actions;
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL yes = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, (const char *)&yes, sizeof yes);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(110);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    if (!BindWhenFree(where) || listen(listener, 4) != 0) {
        Problem("cannot listen on " + address + ":110, error " + std::to_string(WSAGetLastError()));
        return false;
    }
    thread = std::thread([this] { Play(); });
    return true;
}

void FakePop3Server::Join()
{
    if (thread.joinable())
        thread.join();
}

std::string FakePop3Server::Transcript()
{
    std::lock_guard<std::mutex> guard(lock);
    return transcript;
}

bool FakePop3Server::ClientClosed()
{
    std::lock_guard<std::mutex> guard(lock);
    return clientClosed;
}

bool FakePop3Server::ServerEnded()
{
    std::lock_guard<std::mutex> guard(lock);
    return serverEnded;
}

bool FakePop3Server::WaitClientClosed(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return clientClosed; });
}

std::vector<std::string> FakePop3Server::Problems()
{
    std::lock_guard<std::mutex> guard(lock);
    return problems;
}

void FakePop3Server::Problem(const std::string &what)
{
    std::lock_guard<std::mutex> guard(lock);
    problems.push_back(what);
}

// One recv into the transcript, waiting at most timeoutMs for it. Returns
// false once the client has closed (or reset) or nothing came in time.
bool FakePop3Server::ReadSome(DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client, &readable);
    timeval wait = {(long)(timeoutMs / 1000), (long)(timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1)
        return false;
    char chunk[4096];
    int got = recv(client, chunk, sizeof chunk, 0);
    std::lock_guard<std::mutex> guard(lock);
    if (got <= 0) {
        clientClosed = true;
        changed.notify_all();
        return false;
    }
    transcript.append(chunk, got);
    changed.notify_all();
    return true;
}

void FakePop3Server::Play()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait = {(long)(patienceMs / 1000), 0};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) {
        Problem("no client connected");
        return;
    }
    client = accept(listener, nullptr, nullptr);
    BOOL yes = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, (const char *)&yes, sizeof yes);

    size_t expected = 0;
    bool open = true;
    for (const ServerAction &action : script) {
        if (!open)
            break;
        switch (action.kind) {
        case ServerAction::SEND:
            for (const std::string &piece : action.pieces) {
                send(client, piece.data(), (int)piece.size(), 0);
                if (action.delayMs > 0)
                    Sleep(Patience(action.delayMs));
            }
            break;
        case ServerAction::EXPECT:
            expected += action.bytes.size();
            while (Transcript().size() < expected)
                if (!ReadSome(Patience(patienceMs))) {
                    Problem("client stopped before sending '" + action.bytes + "'");
                    break;
                }
            break;
        case ServerAction::PAUSE:
            Sleep(Patience(action.delayMs));
            break;
        case ServerAction::SIGNAL:
            if (onSignal)
                onSignal();
            break;
        case ServerAction::CLOSE:
            closesocket(client);
            open = false;
            break;
        case ServerAction::RESET: {
            linger abort = {1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, (const char *)&abort, sizeof abort);
            closesocket(client);
            open = false;
            break;
        }
        }
    }
    if (open) {
        // Whatever else the client sends, until it closes.
        while (ReadSome(Patience(patienceMs))) {
        }
        if (!ClientClosed())
            Problem("client never closed the connection");
        closesocket(client);
    }
    std::lock_guard<std::mutex> guard(lock);
    serverEnded = true;
    changed.notify_all();
}
