#include "support/NameLookup.h"

#include <netdb.h>
#include <signal.h>

#include <atomic>

namespace corvane {

namespace {

// Who frees a request: whichever of the lookup and the resolver's notice comes second.
enum Holder { Running, Answered, Abandoned };

struct Request {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
    std::atomic<int> holder{Running};

    ~Request() {
        if (request.ar_result)
            freeaddrinfo(request.ar_result);
    }
};

// Runs on a thread of the resolver's once the request is answered (or failed).
void whenAnswered(sigval value) {
    auto* request = static_cast<Request*>(value.sival_ptr);
    if (request->holder.exchange(Answered) == Abandoned)
        delete request;
}

class AsyncLookup : public NameLookup {
public:
    AsyncLookup(const std::string& host, int port) : m_request(new Request) {
        Request& r = *m_request;
        r.host = host;
        r.service = std::to_string(port);
        r.hints.ai_family = AF_UNSPEC;
        r.hints.ai_socktype = SOCK_STREAM;
        r.hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
        r.request.ar_name = r.host.c_str();
        r.request.ar_service = r.service.c_str();
        r.request.ar_request = &r.hints;
        sigevent notice{};
        notice.sigev_notify = SIGEV_THREAD;
        notice.sigev_value.sival_ptr = m_request;
        notice.sigev_notify_function = whenAnswered;
        gaicb* list[1] = {&r.request};
        m_startError = getaddrinfo_a(GAI_NOWAIT, list, 1, &notice);
    }

    ~AsyncLookup() override {
        // Taken off the queue before the resolver began, no notice will come for it. Running
        // or ended, the notice frees it unless it has already been.
        if (m_startError != 0 || gai_cancel(&m_request->request) == EAI_CANCELED ||
            m_request->holder.exchange(Abandoned) == Answered)
            delete m_request;
    }

    int status() override {
        return m_startError != 0 ? m_startError : gai_error(&m_request->request);
    }

    const addrinfo* addresses() const override {
        return m_startError == 0 && gai_error(&m_request->request) == 0
                   ? m_request->request.ar_result
                   : nullptr;
    }

private:
    Request* m_request;
    int m_startError = 0;
};

} // namespace

std::unique_ptr<NameLookup> startNameLookup(const std::string& host, int port) {
    return std::make_unique<AsyncLookup>(host, port);
}

std::string numericHost(const addrinfo* addresses) {
    char text[NI_MAXHOST] = "";
    if (!addresses || getnameinfo(addresses->ai_addr, addresses->ai_addrlen, text, sizeof text,
                                  nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return text;
}

} // namespace corvane
