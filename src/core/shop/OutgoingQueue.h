#pragma once
// What a line has to tell the broker and could not yet hand over: state updates and transfer
// records, in the order they happened; of the states of one topic only the newest waits.
// Bounded, because a broker may stay away for days while
// the line keeps serving: when it is full the oldest state update goes first (a newer one says
// more), and only a queue of nothing but records gives up its oldest record — the journal file
// still holds it.

#include <cstddef>
#include <deque>
#include <string>

namespace corvane::shop {

struct OutgoingMessage {
    enum class Kind { State, Event };
    Kind kind = Kind::State;
    std::string topic;
    std::string payload;
};

class OutgoingQueue {
public:
    OutgoingQueue(size_t maxMessages, size_t maxBytes)
        : m_maxMessages(maxMessages), m_maxBytes(maxBytes) {}

    void push(OutgoingMessage message);
    bool empty() const { return m_messages.empty(); }
    size_t size() const { return m_messages.size(); }
    const OutgoingMessage& front() const { return m_messages.front(); }
    void pop();

    // Dropped so far, for the log and the tests.
    size_t droppedStates() const { return m_droppedStates; }
    size_t droppedEvents() const { return m_droppedEvents; }

private:
    bool full() const { return m_messages.size() > m_maxMessages || m_bytes > m_maxBytes; }

    std::deque<OutgoingMessage> m_messages;
    size_t m_maxMessages;
    size_t m_maxBytes;
    size_t m_bytes = 0;
    size_t m_droppedStates = 0;
    size_t m_droppedEvents = 0;
};

} // namespace corvane::shop
