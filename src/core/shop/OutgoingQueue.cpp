#include "shop/OutgoingQueue.h"

#include <algorithm>

namespace corvane::shop {

void OutgoingQueue::push(OutgoingMessage message) {
    // A state is retained on its topic: only the newest one means anything, so one still
    // waiting (the broker is away) is replaced, not followed. Records are never replaced.
    if (message.kind == OutgoingMessage::Kind::State) {
        for (auto it = m_messages.begin(); it != m_messages.end();) {
            if (it->kind == OutgoingMessage::Kind::State && it->topic == message.topic) {
                m_bytes -= it->topic.size() + it->payload.size();
                it = m_messages.erase(it);
                ++m_droppedStates;
            } else {
                ++it;
            }
        }
    }
    m_bytes += message.topic.size() + message.payload.size();
    m_messages.push_back(std::move(message));
    while (full()) {
        auto oldestState =
            std::find_if(m_messages.begin(), m_messages.end(), [](const OutgoingMessage& m) {
                return m.kind == OutgoingMessage::Kind::State;
            });
        // The newest message stays whatever it is: it is the line's present.
        if (oldestState != m_messages.end() && oldestState + 1 != m_messages.end()) {
            m_bytes -= oldestState->topic.size() + oldestState->payload.size();
            m_messages.erase(oldestState);
            ++m_droppedStates;
        } else if (m_messages.size() > 1) {
            auto oldest =
                std::find_if(m_messages.begin(), m_messages.end(), [](const OutgoingMessage& m) {
                    return m.kind == OutgoingMessage::Kind::Event;
                });
            m_bytes -= oldest->topic.size() + oldest->payload.size();
            m_messages.erase(oldest);
            ++m_droppedEvents;
        } else {
            break;
        }
    }
}

void OutgoingQueue::pop() {
    m_bytes -= m_messages.front().topic.size() + m_messages.front().payload.size();
    m_messages.pop_front();
}

} // namespace corvane::shop
