#include "tests/support/PortHolder.h"

#include "net/LocalAddresses.h"

PortHolder::PortHolder() {
    if (listener.Open(Ipv4AnyAddress(0), 1)) {
        port = listener.Port();
    }
}
