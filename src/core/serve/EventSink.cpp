#include "serve/EventSink.h"

namespace corvane::serve {

const char* activityName(LineActivity activity) {
    switch (activity) {
    case LineActivity::Idle:
        return "idle";
    case LineActivity::Receiving:
        return "receiving";
    case LineActivity::Sending:
        return "sending";
    case LineActivity::Held:
        return "held";
    case LineActivity::Waiting:
        return "waiting";
    case LineActivity::Error:
        return "error";
    case LineActivity::Offline:
        return "offline";
    }
    return "error";
}

} // namespace corvane::serve
